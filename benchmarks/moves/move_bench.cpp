// move_bench: how long a column change takes, against the time the mechanism itself needs.
//
//   move_bench [--repeats K]
//
// Brings up the simulated analyser (vantrel-sim up, default configuration) in a directory and an
// IPC scope of its own, resets and homes the selector, then K times from column 1: a move of one
// column, of two, of capacity/2, and a homing back to column 1. Each is timed from the request
// ("set_current_column" or "home") to the first answer that says it is done: not busy and at the
// requested column (for homing: homed, not busy, at column 1), polled every 2 ms.
//
// The mechanism's time for the same move is computed from the simulated axes' profiles
// (sim/profile) with the configured velocities and accelerations: the gripper's release in two
// half strokes with the rotor's buzz between them (its 80 ms reversals for BUZZDURATION, and the
// return to its start), the rotor's travel, and the gripper's clamp; for homing the release, the
// reference search from where the rotor stands, and the travel to column 1 and the clamp. The
// difference is the overhead of the control: the motion task's 100 ms polls of move completion,
// its calls to the boards and the sipper, and the answer's way back.
// Prints one `name=value` line per figure (medians of the K runs of each); vantrel-sim down and
// the directory go at the end.

#include <CLI/CLI.hpp>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "benchmarks/support/figures.h"
#include "benchmarks/support/processes.h"
#include "benchmarks/support/run.h"
#include "config/configuration_file.h"
#include "interface/clients.h"
#include "sim/board.h"
#include "sim/profile.h"
#include "tools/client/command_line.h"

using namespace vantrel;
using namespace vantrel::bench;

namespace {

// --- the mechanism's own time -----------------------------------------------------------------

struct Settings {
    double rotor_velocity, rotor_accel, gripper_stroke, gripper_velocity, gripper_accel;
    double buzz_duration, buzz_amplitude;
};

double number(ConfigurationFile& config, const std::string& key) {
    double real = 0;
    std::int32_t whole = 0;
    if (config.get(key, real)) return real;
    if (config.get(key, whole)) return whole;
    fail("the selector's configuration has no number " + key);
}

Settings read_settings(const std::string& path) {
    ConfigurationFile config;
    if (config.load_config(path) != 0) fail("cannot read " + path);
    return {number(config, "ROTORVELOCITY"), number(config, "ROTORACCEL"),
            number(config, "GRIPPERSTROKE"), number(config, "GRIPPERVELOCITY"),
            number(config, "GRIPPERACCEL"),  number(config, "BUZZDURATION"),
            number(config, "BUZZAMPLITUDE")};
}

// Seconds of a move over `distance` counts from rest to rest.
double move_s(double distance, double velocity, double acceleration) {
    return sim::duration_s(sim::plan_move(0, 0.0, 0.0, std::abs(distance), std::abs(velocity),
                                          acceleration, acceleration));
}

// The motion task's fixed steps of the buzz: reversals every 80 ms while its time lasts.
constexpr double kBuzzHalfPeriodS = 0.080;

double buzz_s(const Settings& s) {
    const double cycles =
        s.buzz_duration > 0 ? std::ceil(s.buzz_duration / (2 * kBuzzHalfPeriodS) - 1e-9) : 0;
    return cycles * 2 * kBuzzHalfPeriodS +
           move_s(s.buzz_amplitude, s.rotor_velocity, s.rotor_accel);
}

double release_s(const Settings& s) {
    const double half = std::trunc(s.gripper_stroke * -0.5);
    return 2 * move_s(half, s.gripper_velocity, s.gripper_accel) + buzz_s(s);
}

double clamp_s(const Settings& s) {
    return move_s(s.gripper_stroke, s.gripper_velocity, s.gripper_accel);
}

// --- the selector as a client sees it ------------------------------------------------------------

template <typename Pred>
bool eventually(Pred pred, int timeout_ms) {
    return bench::eventually(pred, timeout_ms, 2);
}

struct Position {
    std::int32_t column = -2;
    std::int32_t rotor = 0;
};

Position where(VantrelIF& v) {
    Position p;
    if (v.get_current_column(p.column) != kCallDone || v.get_rotor_position(p.rotor) != kCallDone)
        fail("the selector does not answer");
    return p;
}

// Seconds from `request` until the selector says it is done at `column`.
double timed(VantrelIF& v, const std::function<int()>& request, std::int32_t column, bool homing,
             const SimulatedAnalyser& analyser) {
    const auto t0 = Clock::now();
    if (request() != kCallDone) fail("the request was not sent");
    const bool done = eventually(
        [&] {
            bool busy = true, homed = false;
            std::int32_t at = -2;
            if (v.is_busy(busy) != kCallDone || busy) return false;
            if (homing && (v.homed(homed) != kCallDone || !homed)) return false;
            return v.get_current_column(at) == kCallDone && at == column;
        },
        60000);
    const double seconds = seconds_since(t0);
    if (!done)
        fail("no arrival at column " + std::to_string(column) + ":\n" +
             text_of(analyser.path("vantrel.log")));
    return seconds;
}

struct Kind {
    std::string name;
    std::vector<double> measured, physical;
};

// Times the selector's moves and computes the mechanism's own time for each.
class Mover {
  public:
    Mover(VantrelIF& v, const Settings& s, const SimulatedAnalyser& analyser)
        : v_(v), s_(s), analyser_(analyser), rotor_board_(1, platform::OpenMode::open_existing) {}

    // Homing, recorded in `kind` unless null.
    void home(Kind* kind) {
        const double physical = homing_physical();
        const double seconds = timed(
            v_, [&] { return v_.home(); }, 1, true, analyser_);
        const Position at = where(v_);
        if (kind == nullptr) return;
        kind->measured.push_back(seconds);
        kind->physical.push_back(physical + move_s(at.rotor, s_.rotor_velocity, s_.rotor_accel) +
                                 clamp_s(s_));
    }
    void go(Kind& kind, std::int32_t column) {
        const Position from = where(v_);
        const double seconds = timed(
            v_, [&] { return v_.set_current_column(column); }, column, false, analyser_);
        const Position to = where(v_);
        kind.measured.push_back(seconds);
        kind.physical.push_back(release_s(s_) +
                                move_s(to.rotor - from.rotor, s_.rotor_velocity, s_.rotor_accel) +
                                clamp_s(s_));
    }

  private:
    // The release and the reference search from where the rotor physically is (the travel to
    // column 1 and the clamp follow).
    double homing_physical() {
        const sim::AxisState axis = rotor_board_.snapshot().axes[3];
        const double search = sim::reference_ahead(axis) - axis.position;
        return release_s(s_) + move_s(search, s_.rotor_velocity, s_.rotor_accel);
    }

    VantrelIF& v_;
    const Settings& s_;
    const SimulatedAnalyser& analyser_;
    // The rotor board as the simulator holds it: where the axis physically is, and its switch.
    sim::BoardHandle rotor_board_;
};

// Resets the selector, waits until it is READY; its capacity.
std::int32_t make_ready(VantrelIF& v, const SimulatedAnalyser& analyser) {
    if (!v.open()) fail(v.open_error());
    v.set_call_timeout(5000);
    std::int32_t state = -1;
    if (v.reset() != kCallDone ||
        !eventually([&] { return v.get_state(state) == kCallDone && state == 1; }, 20000))
        fail("the selector did not become READY:\n" + text_of(analyser.path("vantrel.log")));
    std::int32_t capacity = 0;
    if (v.get_capacity(capacity) != kCallDone || capacity < 2) fail("no capacity");
    return capacity;
}

void print_figures(std::int32_t capacity, long repeats, const Settings& s,
                   const std::vector<const Kind*>& kinds) {
    std::printf("capacity=%d\nrepeats=%ld\n", capacity, repeats);
    std::printf("release_s=%.3f\nbuzz_s=%.3f\nclamp_s=%.3f\n", release_s(s), buzz_s(s), clamp_s(s));
    for (const Kind* k : kinds) {
        const double measured = percentile(k->measured, 0.5);
        const double physical = percentile(k->physical, 0.5);
        std::printf("%s_measured_s=%.3f\n%s_physical_s=%.3f\n", k->name.c_str(), measured,
                    k->name.c_str(), physical);
        std::printf("%s_overhead_s=%.3f\n%s_ratio=%.2f\n", k->name.c_str(), measured - physical,
                    k->name.c_str(), measured / physical);
    }
}

std::optional<int> parse(int argc, char** argv, long& repeats) {
    CLI::App app(
        "Homing and column changes through the running selector, against the time the "
        "simulated mechanism's profiles need for the same moves.",
        "move_bench");
    app.add_option("--repeats", repeats, "runs of each move")->transform(ctl::whole_number(1));
    return parse_command_line(app, argc, argv);
}

int run(long repeats) {
    RunScope scope("move_bench");
    SimulatedAnalyser analyser("move_bench");
    const Settings s = read_settings(analyser.path("vantrel.cfg"));
    VantrelIF v("Vantrel");
    const std::int32_t capacity = make_ready(v, analyser);
    // Closed before vantrel-sim down, so that the board's objects go with the board manager.
    auto mover = std::make_unique<Mover>(v, s, analyser);

    mover->home(nullptr);  // from wherever the board was made
    const std::int32_t half = capacity / 2;
    Kind one{"move_1_column", {}, {}}, two{"move_2_columns", {}, {}},
        most{"move_" + std::to_string(half) + "_columns", {}, {}}, homing{"homing", {}, {}};
    const std::int32_t far = 4 + half <= capacity ? 4 + half : 4 - half;
    for (long r = 0; r < repeats; ++r) {
        mover->go(one, 2);     // 1 -> 2
        mover->go(two, 4);     // 2 -> 4
        mover->go(most, far);  // capacity/2 columns on
        mover->home(&homing);  // back to column 1
    }
    mover.reset();
    print_figures(capacity, repeats, s, {&one, &two, &most, &homing});
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    long repeats = 3;
    if (const auto status = parse(argc, argv, repeats)) return *status;
    return run_main("move_bench", [&] { return run(repeats); });
}
