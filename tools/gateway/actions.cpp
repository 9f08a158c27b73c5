#include "tools/gateway/actions.h"

#include <chrono>

#include "platform/clock.h"
#include "tools/client/selector.h"

namespace vantrel::gateway {
namespace {

// 503 for a call that was not answered or not served, with the call result and what it means.
Reply not_served(const std::string& interface, const std::string& operation,
                 std::optional<int> code, int result, const std::string& message) {
    Reply reply{503, ctl::failure_json(interface, operation, code, result, message)};
    reply.body["status"] = 503;
    return reply;
}

// 503 for a call the selector did not answer.
Reply unanswered(const Poller::Access& a, const std::string& operation, int result) {
    return not_served(a.session.interface(), operation, std::nullopt, result,
                      ctl::describe_failure(a.session, operation, result));
}

// The call results of one step after another; the first failure is the one reported.
class Calls {
  public:
    explicit Calls(const Poller::Access& a) : a_(a) {}
    template <class Call>
    bool operator()(const char* operation, Call&& call) {
        if (result_ == 0 && (result_ = ctl::ask(call)) != 0) failed_ = operation;
        return result_ == 0;
    }
    bool ok() const { return result_ == 0; }
    Reply reply() const { return unanswered(a_, failed_, result_); }

  private:
    const Poller::Access& a_;
    int result_ = 0;
    std::string failed_;
};

std::optional<Reply> not_ready(const ctl::MotionFacts& f) {
    if (const auto refusal =
            ctl::refuse_motion({f.state, f.device_present, f.capacity, false, true}, std::nullopt))
        return error_reply(409, refusal->reason);
    return std::nullopt;
}

}  // namespace

Reply start_motion(Poller::Access& a, std::optional<int> column) {
    if (const auto running = a.hub.running_operation())
        return error_reply(409, "operation " + std::to_string(running->id) +
                                    " is still running; the selector refuses requests until it "
                                    "ends");
    ctl::MotionFacts facts;
    std::string failed;
    if (const int r = ctl::read_motion_facts(a.selector, facts, failed); r != 0)
        return unanswered(a, failed, r);
    if (const auto refusal = ctl::refuse_motion(facts, column))
        return error_reply(409, refusal->reason);
    const char* operation = column ? "set_current_column" : "home";
    const int r = column ? a.selector.set_current_column(*column) : a.selector.home();
    if (r != 0) return unanswered(a, operation, r);

    OperationRecord op;
    op.kind = column ? "column" : "home";
    op.requested = column ? *column : 1;  // homing ends at column 1
    op.started_at =
        std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    op.started_ns = platform::now_ns();
    op.id = a.hub.start_operation(op);
    Json body = op.json();
    body["href"] = "/api/v1/operations/" + std::to_string(op.id);
    return {202, body};
}

Reply set_column(Poller::Access& a, int column, const std::optional<std::string>& type,
                 std::optional<std::int32_t> samples) {
    ctl::MotionFacts facts;
    std::string failed;
    if (const int r = ctl::read_motion_facts(a.selector, facts, failed); r != 0)
        return unanswered(a, failed, r);
    if (auto refusal = not_ready(facts)) return *refusal;
    if (column < 1 || column > facts.capacity)
        return error_reply(404, "no column " + std::to_string(column) + ": the rotor carries 1.." +
                                    std::to_string(facts.capacity));
    Calls calls(a);
    if (type) calls("set_column_type", [&] { return a.selector.set_column_type(column, *type); });
    if (samples)
        calls("set_sample_count", [&] { return a.selector.set_sample_count(column, *samples); });
    std::string stored_type;
    std::int32_t stored_samples = 0;
    calls("get_column_type", [&] { return a.selector.get_column_type(column, stored_type); });
    calls("get_sample_count", [&] { return a.selector.get_sample_count(column, stored_samples); });
    if (!calls.ok()) return calls.reply();
    if (type && stored_type != *type)
        return error_reply(409, "the selector did not store the type of column " +
                                    std::to_string(column) + " (its log tells why)");
    if (samples && stored_samples != *samples)
        return error_reply(409, "the selector did not store the count of column " +
                                    std::to_string(column) + " (its log tells why)");
    return {200, {{"column", column}, {"type", stored_type}, {"samples", stored_samples}}};
}

Reply increment_samples(Poller::Access& a) {
    ctl::MotionFacts facts;
    std::string failed;
    if (const int r = ctl::read_motion_facts(a.selector, facts, failed); r != 0)
        return unanswered(a, failed, r);
    if (auto refusal = not_ready(facts)) return *refusal;
    if (facts.busy) return error_reply(409, "the selector is moving: no column stands to count on");
    Calls calls(a);
    std::int32_t column = -1, samples = 0;
    calls("get_current_column", [&] { return a.selector.get_current_column(column); });
    if (!calls.ok()) return calls.reply();
    if (column < 1)
        return error_reply(409, column == 0 ? "the rotor is parked: no column to count on"
                                            : "the rotor stands between columns: no column to "
                                              "count on");
    calls("increment_sample_count", [&] { return a.selector.increment_sample_count(); });
    calls("get_sample_count", [&] { return a.selector.get_sample_count(column, samples); });
    if (!calls.ok()) return calls.reply();
    return {200, {{"column", column}, {"samples", samples}}};
}

Reply change_settings(Poller::Access& a, std::optional<bool> auto_switch, std::optional<double> p1,
                      std::optional<double> p3) {
    Calls calls(a);
    double old_p1 = 0.0, old_p3 = 0.0;
    calls("get_pres_limits", [&] { return a.selector.get_pres_limits(old_p1, old_p3); });
    if (calls.ok() && (p1 || p3)) {
        const double new_p1 = p1.value_or(old_p1), new_p3 = p3.value_or(old_p3);
        calls("set_pres_limits", [&] { return a.selector.set_pres_limits(new_p1, new_p3); });
    }
    if (auto_switch)
        calls("set_auto_column_switch",
              [&] { return a.selector.set_auto_column_switch(*auto_switch ? 1 : 0); });
    bool stored_switch = false;
    double stored_p1 = 0.0, stored_p3 = 0.0;
    calls("get_auto_column_switch",
          [&] { return a.selector.get_auto_column_switch(stored_switch); });
    calls("get_pres_limits", [&] { return a.selector.get_pres_limits(stored_p1, stored_p3); });
    if (!calls.ok()) return calls.reply();
    if ((auto_switch && stored_switch != *auto_switch) || (p1 && stored_p1 != *p1) ||
        (p3 && stored_p3 != *p3))
        return error_reply(409, "the selector did not store the settings");
    return {200,
            {{"auto_column_switch", stored_switch},
             {"p1_pres_limit", stored_p1},
             {"p3_pres_limit", stored_p3}}};
}

Reply call_operation(Poller::Access& a, const std::string& interface, std::optional<ctl::Kind> kind,
                     const Operation& op, const std::vector<Value>& arguments) {
    ctl::GenericClient client(interface, kind.value_or(ctl::kind_for_interface(interface)));
    ctl::Session session(client, a.options.call_timeout_ms);
    auto failure = [&](int result, const std::string& message) {
        return not_served(interface, op.name, op.code, result, message);
    };
    if (const int r = session.open(); r != 0)
        return failure(r, ctl::describe_failure(session, op.name, r));
    if (const auto refusal = ctl::check_served(session, op.name, kind, client.properties_size()))
        return failure(refusal->result, refusal->message);
    std::vector<Value> results;
    if (const int r = ctl::call_checked(client, *client.operation(op.name), arguments, results);
        r != 0)
        return failure(r, ctl::describe_failure(session, op.name, r));
    return {200, ctl::call_json(interface, op, results)};
}

}  // namespace vantrel::gateway
