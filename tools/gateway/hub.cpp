#include "tools/gateway/hub.h"

#include <cmath>

#include "tools/client/operations.h"

namespace vantrel::gateway {
namespace {

using ctl::optional_json;

Json settings_json(const ctl::Snapshot& s) {
    return {{"name", s.name},
            {"version", s.version},
            {"device_present", s.device_present},
            {"capacity", s.capacity},
            {"sample_limit", s.sample_limit},
            {"auto_column_switch", s.auto_switch},
            {"p1_pres_limit", s.p1_limit},
            {"p3_pres_limit", s.p3_limit}};
}

Json failure_body(const Reading& r, const std::string& interface) {
    if (!r.polled) return {{"error", "the gateway has not read the selector yet"}, {"status", 503}};
    return {{"error", r.error},
            {"status", 503},
            {"interface", interface},
            {"operation", r.failed_operation},
            {"result", r.result}};
}

}  // namespace

Json OperationRecord::json() const {
    return {{"id", std::to_string(id)},
            {"kind", kind},
            {"requested", optional_json(requested)},
            {"state", state},
            {"reason", reason},
            {"started_at", started_at},
            {"elapsed_s", std::round(elapsed_s * 1000.0) / 1000.0},
            {"column", column},
            {"rotor_position", rotor_position}};
}

Hub::Hub(std::string interface) : interface_(std::move(interface)) {
    status_body_ =
        std::make_shared<const std::string>(ctl::dump(failure_body(reading_, interface_)));
    for (const auto kind : {ctl::WaitOutcome::reached, ctl::WaitOutcome::failed,
                            ctl::WaitOutcome::timed_out, ctl::WaitOutcome::no_answer})
        moves_[ctl::outcome_name(kind)] = 0;
}

void Hub::publish(Reading reading) {
    std::lock_guard lock(mutex_);
    ++polls_;
    emit_changes(reading_, reading);
    reading_ = std::move(reading);
    status_code_ = reading_.answered ? 200 : 503;
    status_body_ = std::make_shared<const std::string>(
        ctl::dump(reading_.answered ? ctl::status_json(reading_.snapshot, interface_)
                                    : failure_body(reading_, interface_)));
    changed_.notify_all();
}

void Hub::emit(const std::string& name, const Json& data) {
    events_.push_back({++last_event_, name, ctl::dump(data)});
    while (events_.size() > kEventRing) events_.pop_front();
}

void Hub::emit_changes(const Reading& was, const Reading& now) {
    if (!now.answered) {
        if (was.answered || !was.polled)
            emit("connection", {{"up", false}, {"error", now.error}, {"result", now.result}});
        return;
    }
    const ctl::Snapshot& a = was.snapshot;
    const ctl::Snapshot& b = now.snapshot;
    if (!was.answered || a.columns.size() != b.columns.size()) {
        emit("status", ctl::status_json(b, interface_));
        return;
    }
    if (a.state != b.state)
        emit("state", {{"state", b.state}, {"state_name", ctl::state_name(b.state)}});
    if (a.busy != b.busy) emit("busy", {{"busy", optional_json(b.busy)}});
    if (a.homed != b.homed) emit("homed", {{"homed", optional_json(b.homed)}});
    if (a.column != b.column) emit("column", {{"current_column", optional_json(b.column)}});
    if (a.rotor_position != b.rotor_position)
        emit("rotor", {{"rotor_position", b.rotor_position}, {"busy", optional_json(b.busy)}});
    for (std::size_t i = 0; i < b.columns.size(); ++i)
        if (!(a.columns[i] == b.columns[i]))
            emit("columns", {{"column", i + 1},
                             {"type", b.columns[i].type},
                             {"samples", b.columns[i].samples}});
    if (settings_json(a) != settings_json(b)) emit("settings", settings_json(b));
}

std::uint64_t Hub::start_operation(OperationRecord op) {
    std::lock_guard lock(mutex_);
    op.id = next_operation_++;
    operations_.push_back(op);
    while (operations_.size() > kOperationsKept) operations_.pop_front();
    emit("operation", op.json());
    changed_.notify_all();
    return op.id;
}

void Hub::update_operation(const OperationRecord& op) {
    std::lock_guard lock(mutex_);
    for (auto& kept : operations_)
        if (kept.id == op.id) kept = op;
    if (op.running()) return;
    if (moves_.contains(op.state)) ++moves_[op.state];
    move_seconds_.observe(op.elapsed_s);
    emit("operation", op.json());
    changed_.notify_all();
}

std::optional<OperationRecord> Hub::running_operation() const {
    std::lock_guard lock(mutex_);
    for (const auto& op : operations_)
        if (op.running()) return op;
    return std::nullopt;
}

void Hub::observe_call(double seconds, int result) {
    std::lock_guard lock(mutex_);
    call_seconds_.observe(seconds);
    if (result != 0) ++calls_failed_;
}

Reading Hub::reading() const {
    std::lock_guard lock(mutex_);
    return reading_;
}

std::pair<int, std::shared_ptr<const std::string>> Hub::status_reply() const {
    std::lock_guard lock(mutex_);
    return {status_code_, status_body_};
}

std::optional<OperationRecord> Hub::operation(std::uint64_t id) const {
    std::lock_guard lock(mutex_);
    for (const auto& op : operations_)
        if (op.id == id) return op;
    return std::nullopt;
}

Json Hub::operations_json() const {
    std::lock_guard lock(mutex_);
    return operations_json_locked();
}

Json Hub::operations_json_locked() const {
    Json list = Json::array();
    for (auto it = operations_.rbegin(); it != operations_.rend(); ++it) list.push_back(it->json());
    return list;
}

Event Hub::snapshot_event() const {
    std::lock_guard lock(mutex_);
    const bool up = reading_.answered;
    Json data = {{"up", up},
                 {"status", up ? ctl::status_json(reading_.snapshot, interface_) : Json(nullptr)},
                 {"error", up ? Json(nullptr) : failure_body(reading_, interface_)},
                 {"operations", operations_json_locked()}};
    return {last_event_, "snapshot", ctl::dump(data)};
}

bool Hub::events_after(std::uint64_t after, std::vector<Event>& out) const {
    std::lock_guard lock(mutex_);
    out.clear();
    if (last_event_ <= after) return true;
    if (events_.empty() || events_.front().id > after + 1) return false;
    for (const Event& e : events_)
        if (e.id > after) out.push_back(e);
    return true;
}

void Hub::wait_for_event(std::uint64_t after, std::chrono::milliseconds limit) const {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, limit, [&] { return closed_ || last_event_ > after; });
}

void Hub::close() {
    std::lock_guard lock(mutex_);
    closed_ = true;
    changed_.notify_all();
}

bool Hub::closed() const {
    std::lock_guard lock(mutex_);
    return closed_;
}

void Hub::count_request(const std::string& route, int status) {
    std::lock_guard lock(mutex_);
    ++requests_[{route, status}];
}

void Hub::set_event_clients(int count) {
    std::lock_guard lock(mutex_);
    event_clients_ = count;
}

std::string Hub::metrics() const {
    std::lock_guard lock(mutex_);
    const ctl::Snapshot& s = reading_.snapshot;
    const bool up = reading_.answered;
    std::string out = metric_header("vantrel_up", "gauge",
                                    "1 when every call of the gateway's last poll was answered");
    out += "vantrel_up " + std::string(up ? "1" : "0") + "\n";
    auto gauge = [&](const std::string& name, const std::string& help, double value) {
        out += metric_header(name, "gauge", help) + name + " " + sample_value(value) + "\n";
    };
    if (up) {
        gauge("vantrel_state", "0 UNINITIALIZED, 1 READY, 2 RUNNING, 3 INIT_FAILED", s.state);
        if (s.homed) gauge("vantrel_homed", "1 when the rotor is homed", *s.homed);
        if (s.busy) gauge("vantrel_busy", "1 while a motion runs", *s.busy);
        if (s.column)
            gauge("vantrel_current_column",
                  "the column at the working place: 0 park, -1 between positions", *s.column);
        gauge("vantrel_rotor_position", "rotor position in board counts", s.rotor_position);
        gauge("vantrel_sample_limit", "samples a column may run", s.sample_limit);
        if (!s.columns.empty()) {
            out += metric_header("vantrel_column_samples", "gauge", "samples run on a column");
            for (std::size_t i = 0; i < s.columns.size(); ++i)
                out += "vantrel_column_samples{column=\"" + std::to_string(i + 1) + "\",type=\"" +
                       label_value(s.columns[i].type) + "\"} " +
                       std::to_string(s.columns[i].samples) + "\n";
        }
    }
    out += metric_header("vantrel_moves_total", "counter",
                         "motions started through the gateway, by outcome");
    for (const auto& [outcome, count] : moves_)
        out += "vantrel_moves_total{outcome=\"" + outcome + "\"} " + std::to_string(count) + "\n";
    out += move_seconds_.render("vantrel_move_duration_seconds",
                                "time from a motion request to its outcome");
    out += call_seconds_.render("vantrel_gateway_call_duration_seconds",
                                "round trip of the gateway's calls to the selector");
    out += metric_header("vantrel_gateway_calls_failed_total", "counter",
                         "calls of the gateway that the selector did not answer");
    out += "vantrel_gateway_calls_failed_total " + std::to_string(calls_failed_) + "\n";
    out += metric_header("vantrel_gateway_polls_total", "counter", "polls of the selector");
    out += "vantrel_gateway_polls_total " + std::to_string(polls_) + "\n";
    out += metric_header("vantrel_gateway_event_clients", "gauge", "open event streams");
    out += "vantrel_gateway_event_clients " + std::to_string(event_clients_) + "\n";
    out += metric_header("vantrel_gateway_http_requests_total", "counter",
                         "HTTP requests answered, by route and status");
    for (const auto& [key, count] : requests_)
        out += "vantrel_gateway_http_requests_total{route=\"" + label_value(key.first) +
               "\",status=\"" + std::to_string(key.second) + "\"} " + std::to_string(count) + "\n";
    return out;
}

}  // namespace vantrel::gateway
