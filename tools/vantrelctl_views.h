#pragma once
// What vantrelctl shows of a column selector: the status snapshot and its screen, the drawing of
// the rotor ring, and the wait for a motion to end with its outcome.
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

// Reads the snapshot; 0, or the first failing call's result (and its operation's name in
// `failed_operation`).
int read_snapshot(VantrelIF& selector, Snapshot& out, std::string& failed_operation);

// The status screen (the current column's row marked with ">") and its JSON object.
std::string render_status(const Snapshot& s, const std::string& interface);
std::string status_json(const Snapshot& s, const std::string& interface);

// The rotor ring as seen from above: `capacity` columns around the ring, the working place at the
// top (the column standing there is the current one). `top` is the column number standing at the
// working place, fractional between columns (0.5: half a pitch before column 1, where the drawing
// shows the park position); `highlighted` is drawn as [n] (in reverse video too with `ansi`), 0
// for none. `caption` is written in the middle of the ring.
struct RingView {
    int capacity = 6;
    double top = 1.0;
    int highlighted = 0;
    std::string caption;
};
std::string draw_ring(const RingView& view, bool ansi);
// The ring view of a snapshot; `last_top` keeps the ring where it was when the rotor stands
// between columns.
RingView ring_view(const Snapshot& s, double& last_top);

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

// Polls until the selector is idle (or the time-out passes), calling `progress` after each poll,
// then judges the outcome: reached when homed and at the requested column (at any column when no
// request is known). Unanswered polls are retried until the time-out; only when it has passed
// without an answer is the outcome no_answer.
WaitOutcome wait_for_motion(VantrelIF& selector, const WaitOptions& options,
                            const std::function<void(const MotionPoll&, double)>& progress);

// "reached column 3 (rotor position 1880) after 2.4 s" / "motion failed: ..."
std::string describe_outcome(const WaitOutcome& outcome);
std::string outcome_json(const WaitOutcome& outcome, const std::string& interface,
                         std::optional<int> requested);
// "  2.4 s  rotor   1880  busy yes  homed yes  column 3"
std::string progress_text(const MotionPoll& poll, double elapsed_s);

}  // namespace vantrel::ctl
