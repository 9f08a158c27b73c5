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

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "config/configuration_file.h"
#include "interface/clients.h"
#include "platform/named_object.h"
#include "platform/object_name.h"
#include "sim/board.h"
#include "sim/profile.h"

extern char** environ;

using namespace vantrel;
using Clock = std::chrono::steady_clock;

namespace {

[[noreturn]] void fail(const std::string& what) {
    throw std::runtime_error(what);
}

std::string bin_dir() {
    return std::filesystem::read_symlink("/proc/self/exe").parent_path().string();
}

int run_program(const std::vector<std::string>& argv, const std::string& output) {
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.c_str(),
                                     O_WRONLY | O_CREAT | O_APPEND, 0600);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) fail("cannot start " + argv[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}

std::string text_of(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// The simulated analyser in a directory of its own, taken down however the run ends.
struct Analyser {
    std::string dir;
    bool up = false;

    Analyser() {
        char tmpl[] = "/tmp/move_bench-XXXXXX";
        if (::mkdtemp(tmpl) == nullptr) fail("mkdtemp failed");
        dir = tmpl;
        if (run_program({bin_dir() + "/vantrel-sim", "up", dir}, dir + "/sim.out") != 0)
            fail("vantrel-sim up failed:\n" + text_of(dir + "/sim.out"));
        up = true;
    }
    ~Analyser() {
        if (up) run_program({bin_dir() + "/vantrel-sim", "down", dir}, "/dev/null");
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
        platform::remove_unheld_objects(platform::ipc_scope());
    }
};

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
    const auto end = Clock::now() + std::chrono::milliseconds(timeout_ms);
    while (Clock::now() < end) {
        if (pred()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return false;
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
             const std::string& dir) {
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
    const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    if (!done)
        fail("no arrival at column " + std::to_string(column) + ":\n" +
             text_of(dir + "/vantrel.log"));
    return seconds;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

struct Kind {
    std::string name;
    std::vector<double> measured, physical;
};

}  // namespace

int run(int argc, char** argv) {
    long repeats = 3;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string flag = argv[i];
        const long value = std::atol(argv[i + 1]);
        if (flag != "--repeats" || value <= 0) fail("usage: move_bench [--repeats K]");
        repeats = value;
    }
    // Objects of our own, whatever else runs on this machine.
    ::setenv("VANTREL_IPC_SCOPE", ("move_bench-" + std::to_string(::getpid())).c_str(), 1);
    Analyser analyser;
    const Settings s = read_settings(analyser.dir + "/vantrel.cfg");

    VantrelIF v("Vantrel");
    if (!v.open()) fail(v.open_error());
    v.set_call_timeout(5000);
    std::int32_t state = -1;
    if (v.reset() != kCallDone ||
        !eventually([&] { return v.get_state(state) == kCallDone && state == 1; }, 20000))
        fail("the selector did not become READY:\n" + text_of(analyser.dir + "/vantrel.log"));
    std::int32_t capacity = 0;
    if (v.get_capacity(capacity) != kCallDone || capacity < 2) fail("no capacity");

    // The rotor board as the simulator holds it: where the axis physically is, and its switch.
    // Closed before vantrel-sim down, so that the board's objects go with the board manager.
    auto rotor_board = std::make_unique<sim::BoardHandle>(1, platform::OpenMode::open_existing);
    const auto homing_physical = [&] {
        const sim::AxisState axis = rotor_board->snapshot().axes[3];
        const double search = sim::reference_ahead(axis) - axis.position;
        return release_s(s) + move_s(search, s.rotor_velocity, s.rotor_accel);  // + to column 1
    };
    const auto home = [&](Kind* kind) {
        const double physical = homing_physical();
        const double seconds = timed(
            v, [&] { return v.home(); }, 1, true, analyser.dir);
        const Position at = where(v);
        if (kind == nullptr) return;
        kind->measured.push_back(seconds);
        kind->physical.push_back(physical + move_s(at.rotor, s.rotor_velocity, s.rotor_accel) +
                                 clamp_s(s));
    };
    const auto go = [&](Kind& kind, std::int32_t column) {
        const Position from = where(v);
        const double seconds = timed(
            v, [&] { return v.set_current_column(column); }, column, false, analyser.dir);
        const Position to = where(v);
        kind.measured.push_back(seconds);
        kind.physical.push_back(release_s(s) +
                                move_s(to.rotor - from.rotor, s.rotor_velocity, s.rotor_accel) +
                                clamp_s(s));
    };

    home(nullptr);  // from wherever the board was made
    const std::int32_t half = capacity / 2;
    Kind one{"move_1_column", {}, {}}, two{"move_2_columns", {}, {}},
        most{"move_" + std::to_string(half) + "_columns", {}, {}}, homing{"homing", {}, {}};
    const std::int32_t far = 4 + half <= capacity ? 4 + half : 4 - half;
    for (long r = 0; r < repeats; ++r) {
        go(one, 2);     // 1 -> 2
        go(two, 4);     // 2 -> 4
        go(most, far);  // capacity/2 columns on
        home(&homing);  // back to column 1
    }
    rotor_board.reset();

    std::printf("capacity=%d\nrepeats=%ld\n", capacity, repeats);
    std::printf("release_s=%.3f\nbuzz_s=%.3f\nclamp_s=%.3f\n", release_s(s), buzz_s(s), clamp_s(s));
    for (const Kind* k : {&one, &two, &most, &homing}) {
        const double measured = median(k->measured), physical = median(k->physical);
        std::printf("%s_measured_s=%.3f\n%s_physical_s=%.3f\n", k->name.c_str(), measured,
                    k->name.c_str(), physical);
        std::printf("%s_overhead_s=%.3f\n%s_ratio=%.2f\n", k->name.c_str(), measured - physical,
                    k->name.c_str(), measured / physical);
    }
    return 0;
}

int main(int argc, char** argv) {
    try {
        return run(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "move_bench: %s\n", e.what());
        return 1;
    }
}
