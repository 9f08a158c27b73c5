// flexsim: looks at a simulated motion board and sets its faults. See usage() for the commands.
// Boards live in the IPC scope of VANTREL_IPC_SCOPE, like every named object of the system.

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

#include "platform/error.h"
#include "sim/board.h"

namespace {

using vantrel::platform::OpenMode;
using vantrel::sim::AxisState;
using vantrel::sim::BoardHandle;
using vantrel::sim::BoardState;
using vantrel::sim::Function;

constexpr int kUsage = 2;
constexpr int kFailed = 1;

void usage() {
    std::fputs(
        "usage: flexsim COMMAND BOARD [ARGUMENTS]\n"
        "  show BOARD                        axes, variables and faults of the board\n"
        "  hold BOARD                        create the board (or join it) and keep it alive\n"
        "                                    until interrupted\n"
        "  var BOARD NUMBER [VALUE]          show or set a variable (0..127)\n"
        "  place BOARD AXIS PLACE            put an axis at rest at a place, as if moved by hand\n"
        "  reference BOARD AXIS PLACE        where the axis's reference switch is\n"
        "  revolution BOARD AXIS COUNTS      counts of one turn of a rotary axis (0: linear)\n"
        "  fail BOARD FUNCTION COUNT STATUS  the next COUNT calls of FUNCTION fail with STATUS\n"
        "  delay BOARD FUNCTION MS           each call of FUNCTION takes MS milliseconds\n"
        "  stale-read BOARD                  flex_read_pos_rtn answers -70025 until flushed\n"
        "  no-reference BOARD AXIS on|off    the reference switch never triggers\n"
        "  stall BOARD AXIS on|off           the axis stalls; its motion never completes\n"
        "  clear BOARD                       remove every fault\n"
        "BOARD is 0..255, AXIS 1..4; FUNCTION is a flex_* name with or without its prefix\n"
        "(flex_start or start). Numbers may be given in hexadecimal (0x88000001).\n",
        stderr);
}

// Thrown for a command line that cannot be understood.
struct UsageError {
    std::string message;
};

long long number(const std::string& text, long long low, long long high, const char* what) {
    char* end = nullptr;
    errno = 0;
    const long long value = std::strtoll(text.c_str(), &end, 0);
    if (text.empty() || *end != '\0' || errno != 0 || value < low || value > high)
        throw UsageError{std::string(what) + " '" + text + "' is not a number in " +
                         std::to_string(low) + ".." + std::to_string(high)};
    return value;
}

bool on_off(const std::string& text) {
    if (text == "on") return true;
    if (text == "off") return false;
    throw UsageError{"expected on or off, not '" + text + "'"};
}

Function function(const std::string& text) {
    Function f{};
    if (!vantrel::sim::parse_function(text.c_str(), f))
        throw UsageError{"no board function '" + text + "'"};
    return f;
}

const char* motion_name(const AxisState& a) {
    if (a.stalled && a.motion != vantrel::sim::Motion::idle) return "stalled";
    switch (a.motion) {
        case vantrel::sim::Motion::moving:
            return "moving";
        case vantrel::sim::Motion::searching:
            return "searching";
        default:
            return a.killed ? "killed" : "idle";
    }
}

void show(const BoardState& s) {
    std::printf("board %d\n", s.id);
    std::printf("%-4s %11s %11s %10s %-9s %11s %9s %8s %8s %7s %-8s %-6s %s\n", "axis", "position",
                "place", "velocity", "motion", "target", "load-vel", "accel", "decel", "s-curve",
                "op-mode", "loop", "reference");
    for (int n = 1; n <= FLEX_AXIS_COUNT; ++n) {
        const AxisState& a = s.axes[n - 1];
        std::string reference = std::string(a.reference_found ? "found" : "not found") + ", at " +
                                std::to_string(static_cast<long long>(a.reference_position));
        if (a.counts_per_revolution > 0)
            reference += " every " + std::to_string(a.counts_per_revolution);
        if (a.reference_missing) reference += ", switch dead";
        std::printf("%-4d %11d %11.1f %10.1f %-9s %11d %9d %8u %8u %7u %-8s %-6s %s\n", n,
                    vantrel::sim::counter(a), a.position, a.velocity_now, motion_name(a), a.target,
                    a.velocity, a.acceleration, a.deceleration, a.scurve_time,
                    a.op_mode == 0 ? "absolute" : "relative", a.loop_mode == 0 ? "open" : "closed",
                    reference.c_str());
    }
    std::printf("variables other than 0:");
    bool any = false;
    for (int v = 0; v < FLEX_VARIABLE_COUNT; ++v) {
        if (s.variables[v] == 0) continue;
        std::printf("\n  %3d = 0x%08X (%d)", v, static_cast<unsigned>(s.variables[v]),
                    s.variables[v]);
        any = true;
    }
    std::printf("%s\n", any ? "" : " none");
    std::printf(
        "read buffer %s; program store %s; calls in progress %d\n",
        s.read_buffer_stale ? "stale (read_pos_rtn fails until flushed)" : "clean",
        s.storing ? ("open (program " + std::to_string(s.store_program) + ")").c_str() : "closed",
        s.calls_in_progress);
    std::printf("faults:");
    any = false;
    for (int f = 0; f < vantrel::sim::kFunctionCount; ++f) {
        const auto& fault = s.faults[f];
        if (fault.failures_left == 0 && fault.delay_ms == 0) continue;
        std::printf("\n  %s:", vantrel::sim::function_name(static_cast<Function>(f)));
        if (fault.failures_left > 0)
            std::printf(" next %d call(s) fail with %d", fault.failures_left, fault.status);
        if (fault.delay_ms > 0) std::printf(" each call takes %d ms", fault.delay_ms);
        any = true;
    }
    for (int n = 1; n <= FLEX_AXIS_COUNT; ++n) {
        const AxisState& a = s.axes[n - 1];
        if (a.stalled) std::printf("\n  axis %d stalled", n);
        if (a.reference_missing) std::printf("\n  axis %d reference never found", n);
        any = any || a.stalled || a.reference_missing;
    }
    std::printf("%s\n", any ? "" : " none");
}

// Waits for SIGINT or SIGTERM.
void hold(int board) {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    BoardHandle handle(board, OpenMode::create_or_open);
    std::printf("holding board %d (%s); interrupt to let it go\n", board,
                handle.created() ? "created" : "joined");
    std::fflush(stdout);
    int signal = 0;
    sigwait(&set, &signal);
}

int run(const std::vector<std::string>& args) {
    if (args.size() < 2) throw UsageError{"a command and a board are needed"};
    const std::string& command = args[0];
    const int board = static_cast<int>(number(args[1], 0, 255, "board"));
    auto need = [&](std::size_t count) {
        if (args.size() != count)
            throw UsageError{command + " takes " + std::to_string(count - 1) + " arguments"};
    };
    auto axis = [&](const std::string& text) {
        return static_cast<int>(number(text, 1, FLEX_AXIS_COUNT, "axis"));
    };
    if (command == "hold") {
        need(2);
        hold(board);
        return 0;
    }
    // Check the command before touching the board, so a typo never needs a live board.
    const std::vector<std::string> known = {"show",         "var",   "place", "reference",
                                            "revolution",   "fail",  "delay", "stale-read",
                                            "no-reference", "stall", "clear"};
    bool found = false;
    for (const auto& k : known) found = found || k == command;
    if (!found) throw UsageError{"no command '" + command + "'"};

    BoardHandle handle(board, OpenMode::open_existing);
    if (command == "show") {
        need(2);
        show(handle.snapshot());
    } else if (command == "var") {
        if (args.size() != 3 && args.size() != 4) throw UsageError{"var takes 2 or 3 arguments"};
        const int v = static_cast<int>(number(args[2], 0, FLEX_VARIABLE_COUNT - 1, "variable"));
        if (args.size() == 4)
            handle.set_variable(v, static_cast<std::int32_t>(static_cast<std::uint32_t>(
                                       number(args[3], INT32_MIN, UINT32_MAX, "value"))));
        const std::int32_t value = handle.snapshot().variables[v];
        std::printf("%d = 0x%08X (%d)\n", v, static_cast<unsigned>(value), value);
    } else if (command == "place") {
        need(4);
        handle.place_axis(axis(args[2]),
                          static_cast<double>(number(args[3], INT32_MIN, INT32_MAX, "place")));
    } else if (command == "reference") {
        need(4);
        handle.set_reference_position(
            axis(args[2]), static_cast<double>(number(args[3], INT32_MIN, INT32_MAX, "place")));
    } else if (command == "revolution") {
        need(4);
        handle.set_counts_per_revolution(
            axis(args[2]), static_cast<std::int32_t>(number(args[3], 0, INT32_MAX, "counts")));
    } else if (command == "fail") {
        need(5);
        const auto status = number(args[4], INT32_MIN, INT32_MAX, "status");
        if (status == 0) throw UsageError{"a failure needs a non-zero status"};
        handle.fail_calls(function(args[2]),
                          static_cast<std::int32_t>(number(args[3], 0, INT32_MAX, "count")),
                          static_cast<std::int32_t>(status));
    } else if (command == "delay") {
        need(4);
        handle.delay_calls(function(args[2]),
                           static_cast<std::int32_t>(number(args[3], 0, 600000, "delay")));
    } else if (command == "stale-read") {
        need(2);
        handle.set_read_buffer_stale(true);
    } else if (command == "no-reference") {
        need(4);
        handle.set_reference_missing(axis(args[2]), on_off(args[3]));
    } else if (command == "stall") {
        need(4);
        handle.set_stalled(axis(args[2]), on_off(args[3]));
    } else if (command == "clear") {
        need(2);
        handle.clear_faults();
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    try {
        return run(args);
    } catch (const UsageError& e) {
        std::fprintf(stderr, "flexsim: %s\n", e.message.c_str());
        usage();
        return kUsage;
    } catch (const vantrel::platform::PlatformError& e) {
        if (e.code() == vantrel::platform::PlatformErrc::not_found) {
            std::fprintf(stderr,
                         "flexsim: board %s is not present: no process holds it (start one with "
                         "'flexsim hold %s')\n",
                         args[1].c_str(), args[1].c_str());
        } else {
            std::fprintf(stderr, "flexsim: %s\n", e.what());
        }
        return kFailed;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "flexsim: %s\n", e.what());
        return kFailed;
    }
}
