#pragma once
// What a client knows of a column selector: the status snapshot, the checks before a motion
// request, and the judgement of a motion's outcome from the polls that follow it. Shared by
// vantrelctl (which waits in a loop) and vantrel-gateway (whose poller judges as it polls).
//
// Thread safety: for one thread; the client is used by that thread only.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "interface/clients.h"

namespace vantrel::ctl {

// Everything the status screen shows. Fields the selector only answers once initialised (and with
// its device present) stay empty before, so that asking does not fill its log with refusals.
struct Snapshot {
    struct Column {
        std::string type;
        std::int32_t samples = 0;
        bool operator==(const Column&) const = default;
    };
    std::int32_t state = 0;
    std::string name;
    std::string version;
    bool device_present = false;
    std::int32_t capacity = 0;
    std::int32_t sample_limit = 0;
    bool auto_switch = false;
    double p1_limit = 0.0;
    double p3_limit = 0.0;
    std::int32_t rotor_position = 0;
    std::optional<bool> homed;
    std::optional<bool> busy;
    std::optional<std::int32_t> column;  // 0 park, 1..capacity, -1 between positions
    std::vector<Column> columns;         // index 0 is column 1; empty when not answered

    bool answers_guarded() const { return device_present && state != 0; }
};

// Told of every call a snapshot makes: its operation, its round trip in seconds, its result.
using CallObserver = std::function<void(const char* operation, double seconds, int result)>;

// Reads the snapshot; 0, or the first failing call's result (and its operation's name in
// `failed_operation`).
int read_snapshot(VantrelIF& selector, Snapshot& out, std::string& failed_operation,
                  const CallObserver& observe = {});

// What the selector refuses silently (it only logs) when asked to home or to move, read before
// asking.
struct MotionFacts {
    std::int32_t state = 0;
    bool device_present = false;
    std::int32_t capacity = 0;
    bool busy = false;
    bool homed = false;
};
// 0, or the failing call's result and its operation's name.
int read_motion_facts(VantrelIF& selector, MotionFacts& out, std::string& failed_operation);
MotionFacts motion_facts(const Snapshot& s);

struct MotionRefusal {
    enum Kind { not_ready, busy, out_of_range, not_homed } kind;
    std::string reason;
};
// Why the selector would refuse to home (`column` nullopt) or to move to `column` (0 parks),
// or nullopt when it would start.
std::optional<MotionRefusal> refuse_motion(const MotionFacts& facts, std::optional<int> column);

// One poll of a motion in progress.
struct MotionPoll {
    bool busy = false;
    bool homed = false;
    std::int32_t column = -1;
    std::int32_t rotor_position = 0;
};

struct WaitOptions {
    double timeout_s = 120.0;
    std::optional<int> requested;  // the column asked for (0 park), when known
    long poll_ms = 100;
};

struct WaitOutcome {
    enum Kind { reached, failed, timed_out, no_answer } kind = no_answer;
    int call_result = 0;           // the failing call's result for no_answer
    std::string failed_operation;  // and its name
    MotionPoll last;
    double elapsed_s = 0.0;
    std::string reason;  // why it failed, for failed and timed_out
};

// "reached", "failed", "timed_out", "no_answer"
const char* outcome_name(WaitOutcome::Kind kind);

// The outcome of a motion whose selector has become idle, from its last poll: reached when homed
// and at the requested column (at any column when no request is known), failed otherwise with
// the reason.
void judge_motion(const MotionPoll& last, std::optional<int> requested, WaitOutcome& out);

// Polls until the selector is idle (or the time-out passes), calling `progress` after each poll,
// then judges the outcome. Unanswered polls are retried until the time-out; only when it has
// passed without an answer is the outcome no_answer.
WaitOutcome wait_for_motion(VantrelIF& selector, const WaitOptions& options,
                            const std::function<void(const MotionPoll&, double)>& progress);

// "reached column 3 (rotor position 1880) after 2.4 s" / "motion failed: ..."
std::string describe_outcome(const WaitOutcome& outcome);

// Why a motion failed, when the kill switch tells (the motion task stops on a tripped one): the
// sounding of `sipper`'s inhibit state, or "" when it is not tripped or does not answer.
std::string kill_switch_reason(const std::string& sipper, int timeout_ms);

}  // namespace vantrel::ctl
