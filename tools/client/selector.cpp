#include "tools/client/selector.h"

#include <algorithm>
#include <cstdio>

#include "platform/clock.h"
#include "tools/client/operations.h"

namespace vantrel::ctl {
namespace {

// A selector answering a capacity beyond this is not believed column by column.
constexpr std::int32_t kMaxColumnsShown = 64;

double seconds_since(std::int64_t start_ns) {
    return static_cast<double>(platform::now_ns() - start_ns) / 1e9;
}

std::string fixed(double value, int decimals) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.*f", decimals, value);
    return buffer;
}

}  // namespace

int read_snapshot(VantrelIF& v, Snapshot& s, std::string& failed, const CallObserver& observe) {
    s = Snapshot{};
    int result = 0;
    // Each query in turn until one fails.
    auto query = [&](const char* operation, auto&& call) {
        if (result == 0) {
            const std::int64_t start = platform::now_ns();
            result = ask(call);
            if (observe) observe(operation, seconds_since(start), result);
            if (result != 0) failed = operation;
        }
        return result == 0;
    };
    query("get_state", [&] { return v.get_state(s.state); });
    query("get_name", [&] { return v.get_name(s.name); });
    query("get_component_version", [&] { return v.get_component_version(s.version); });
    query("device_present", [&] { return v.device_present(s.device_present); });
    query("get_capacity", [&] { return v.get_capacity(s.capacity); });
    query("get_sample_limit", [&] { return v.get_sample_limit(s.sample_limit); });
    query("get_auto_column_switch", [&] { return v.get_auto_column_switch(s.auto_switch); });
    query("get_pres_limits", [&] { return v.get_pres_limits(s.p1_limit, s.p3_limit); });
    query("get_rotor_position", [&] { return v.get_rotor_position(s.rotor_position); });
    if (result != 0 || !s.answers_guarded()) return result;

    bool homed = false, busy = false;
    std::int32_t column = -1;
    query("homed", [&] { return v.homed(homed); });
    query("is_busy", [&] { return v.is_busy(busy); });
    query("get_current_column", [&] { return v.get_current_column(column); });
    if (result != 0) return result;
    s.homed = homed;
    s.busy = busy;
    s.column = column;
    const std::int32_t shown = std::min(s.capacity, kMaxColumnsShown);
    for (std::int32_t c = 1; c <= shown && result == 0; ++c) {
        Snapshot::Column col;
        query("get_column_type", [&] { return v.get_column_type(c, col.type); });
        query("get_sample_count", [&] { return v.get_sample_count(c, col.samples); });
        s.columns.push_back(col);
    }
    if (result != 0) s.columns.clear();
    return result;
}

int read_motion_facts(VantrelIF& v, MotionFacts& f, std::string& failed) {
    f = MotionFacts{};
    int result = 0;
    auto query = [&](const char* operation, auto&& call) {
        if (result == 0 && (result = ask(call)) != 0) failed = operation;
    };
    query("get_state", [&] { return v.get_state(f.state); });
    query("device_present", [&] { return v.device_present(f.device_present); });
    query("get_capacity", [&] { return v.get_capacity(f.capacity); });
    if (result == 0 && f.device_present && f.state != 0) {
        query("is_busy", [&] { return v.is_busy(f.busy); });
        query("homed", [&] { return v.homed(f.homed); });
    }
    return result;
}

MotionFacts motion_facts(const Snapshot& s) {
    return {s.state, s.device_present, s.capacity, s.busy.value_or(false), s.homed.value_or(false)};
}

std::optional<MotionRefusal> refuse_motion(const MotionFacts& f, std::optional<int> column) {
    if (!f.device_present)
        return MotionRefusal{MotionRefusal::not_ready,
                             "the selector's device is not present (DEVICE_PRESENT)"};
    if (f.state == 0)
        return MotionRefusal{MotionRefusal::not_ready,
                             "the selector is not initialised (send reset first)"};
    if (f.busy)
        return MotionRefusal{MotionRefusal::busy,
                             "the selector is moving; it refuses requests until the motion ends"};
    if (column && (*column < 0 || *column > f.capacity))
        return MotionRefusal{
            MotionRefusal::out_of_range,
            "column " + std::to_string(*column) + " is outside 0.." + std::to_string(f.capacity)};
    if (column && !f.homed)
        return MotionRefusal{MotionRefusal::not_homed,
                             "the selector is not homed; it refuses to move before homing (home "
                             "first)"};
    return std::nullopt;
}

const char* outcome_name(WaitOutcome::Kind kind) {
    switch (kind) {
        case WaitOutcome::reached:
            return "reached";
        case WaitOutcome::failed:
            return "failed";
        case WaitOutcome::timed_out:
            return "timed_out";
        case WaitOutcome::no_answer:
            return "no_answer";
    }
    return "no_answer";
}

void judge_motion(const MotionPoll& p, std::optional<int> requested, WaitOutcome& out) {
    out.last = p;
    const std::string where = "rotor position " + std::to_string(p.rotor_position);
    out.kind = WaitOutcome::failed;
    if (!p.homed) {
        out.reason = "not homed afterwards (" + where + ")";
    } else if (requested && p.column != *requested) {
        out.reason = (p.column < 0 ? "stopped between columns"
                                   : "stands at column " + std::to_string(p.column)) +
                     " (" + where + "), not at the requested column " + std::to_string(*requested);
    } else if (p.column < 0) {
        out.reason = "stopped between columns (" + where + ")";
    } else {
        out.kind = WaitOutcome::reached;
        out.reason.clear();
    }
}

WaitOutcome wait_for_motion(VantrelIF& v, const WaitOptions& options,
                            const std::function<void(const MotionPoll&, double)>& progress) {
    WaitOutcome out;
    const std::int64_t start = platform::now_ns();
    auto failed_call = [&](int result, const char* operation) {
        out.kind = WaitOutcome::no_answer;
        out.call_result = result;
        out.failed_operation = operation;
        out.elapsed_s = seconds_since(start);
        return out;
    };
    std::int32_t state = 0;
    bool present = false;
    if (const int r = ask([&] { return v.get_state(state); }); r != 0)
        return failed_call(r, "get_state");
    if (const int r = ask([&] { return v.device_present(present); }); r != 0)
        return failed_call(r, "device_present");
    if (const auto refusal = refuse_motion({state, present, 0, false, false}, std::nullopt)) {
        out.kind = WaitOutcome::failed;
        out.reason = refusal->reason;
        return out;
    }
    // One round of the four queries; a round that goes unanswered (the selector busy with a long
    // operation, a stopped process) is tried again until the wait's own limit has passed.
    auto poll_once = [&](MotionPoll& p, const char*& failed) {
        int r = 0;
        auto query = [&](const char* operation, auto&& call) {
            if (r == 0 && (r = ask(call)) != 0) failed = operation;
        };
        query("is_busy", [&] { return v.is_busy(p.busy); });
        query("homed", [&] { return v.homed(p.homed); });
        query("get_current_column", [&] { return v.get_current_column(p.column); });
        query("get_rotor_position", [&] { return v.get_rotor_position(p.rotor_position); });
        return r;
    };
    for (;;) {
        MotionPoll p;
        const char* failed = "";
        const int r = poll_once(p, failed);
        out.elapsed_s = seconds_since(start);
        const bool over = out.elapsed_s > options.timeout_s;
        if (r != 0) {
            if (over) return failed_call(r, failed);
        } else {
            out.last = p;
            if (progress) progress(p, out.elapsed_s);
            if (!p.busy) break;
            if (over) {
                out.kind = WaitOutcome::timed_out;
                out.reason = "still moving after " + fixed(options.timeout_s, 1) + " s";
                return out;
            }
        }
        platform::sleep_ms(options.poll_ms);
    }
    judge_motion(out.last, options.requested, out);
    return out;
}

std::string describe_outcome(const WaitOutcome& o) {
    const std::string after = " after " + fixed(o.elapsed_s, 1) + " s";
    switch (o.kind) {
        case WaitOutcome::reached:
            if (o.last.column == 0)
                return "reached the park position (column 0, rotor position " +
                       std::to_string(o.last.rotor_position) + ")" + after;
            return "reached column " + std::to_string(o.last.column) + " (rotor position " +
                   std::to_string(o.last.rotor_position) + ")" + after;
        case WaitOutcome::failed:
            return "motion failed" + after + ": " + o.reason;
        case WaitOutcome::timed_out:
            return "gave up waiting: " + o.reason;
        case WaitOutcome::no_answer:
            return "the selector stopped answering (" + o.failed_operation + ")";
    }
    return "";
}

std::string kill_switch_reason(const std::string& sipper_name, int timeout_ms) {
    SipperIF sipper(sipper_name);
    Session session(sipper, timeout_ms);
    std::int32_t inhibit = 0;
    if (session.open() != 0 || session.nobody_holds() ||
        ask([&] { return sipper.get_inhibit_state(inhibit); }) != 0)
        return "";
    if (inhibit == 0) return "";
    return "the kill switch is tripped (\"" + sipper_name + "\" answers inhibit state " +
           std::to_string(inhibit) + "); clear it with: vantrelctl --interface " + sipper_name +
           " reset_error_state";
}

}  // namespace vantrel::ctl
