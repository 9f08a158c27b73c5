// vantrelctl: calls the operations of the analyser's components by name, shows the column
// selector's status, waits for its motions and watches its rotor. See usage() for the commands.
// Interfaces are looked up in the IPC scope of VANTREL_IPC_SCOPE, like every named object.

#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "interface/clients.h"
#include "platform/clock.h"
#include "tools/client/json.h"
#include "tools/client/operations.h"
#include "tools/client/selector.h"
#include "tools/vantrelctl_views.h"

using namespace vantrel;
using namespace vantrel::ctl;

namespace {

constexpr int kDefaultTimeoutMs = 1000;
constexpr double kDefaultWaitSeconds = 120.0;
constexpr long kDefaultWatchIntervalMs = 500;

volatile std::sig_atomic_t interrupted = 0;

void on_interrupt(int) {
    interrupted = 1;
}

struct Options {
    std::string interface = "Vantrel";
    bool interface_given = false;
    int timeout_ms = kDefaultTimeoutMs;
    bool json = false;
};

void print_usage(std::FILE* to) {
    std::fprintf(
        to,
        "usage: vantrelctl [OPTIONS] OPERATION [ARGUMENT...]\n"
        "       vantrelctl [OPTIONS] home --wait [--timeout S]\n"
        "       vantrelctl [OPTIONS] set_current_column COLUMN --wait [--timeout S]\n"
        "       vantrelctl [OPTIONS] status\n"
        "       vantrelctl [OPTIONS] wait [--timeout S] [--column N]\n"
        "       vantrelctl [OPTIONS] watch [--interval MS]\n"
        "Calls an operation of one of the analyser's components by its name and prints the\n"
        "result; status, wait and watch look at a column selector.\n"
        "Options (before the operation):\n"
        "  --interface NAME  the component's interface (default \"Vantrel\", the column selector)\n"
        "  --timeout MS      how long one call may wait for its answer (default %d)\n"
        "  --json            print one JSON object per call instead of plain text\n"
        "After the operation: --wait waits until the motion ends and judges it (home,\n"
        "set_current_column); --timeout S limits that wait (default %.0f s).\n"
        "Operations:\n%s"
        "Exit status: 0 done; 1-6 the failed call's result; 7 a motion failed or did not end\n"
        "in time; 64 wrong usage. Interfaces are looked up in the IPC scope VANTREL_IPC_SCOPE.\n",
        kDefaultTimeoutMs, kDefaultWaitSeconds, operations_listing().c_str());
}

int usage_error(const std::string& message) {
    std::fprintf(stderr, "vantrelctl: %s\n\n", message.c_str());
    print_usage(stderr);
    return kExitUsage;
}

long long number(const std::string& text, long long low, long long high, const std::string& what) {
    char* end = nullptr;
    errno = 0;
    const long long value = std::strtoll(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno != 0 || value < low || value > high)
        throw UsageError(what + " must be a whole number from " + std::to_string(low) + " to " +
                         std::to_string(high) + ", not \"" + text + "\"");
    return value;
}

double seconds(const std::string& text, const std::string& what) {
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !(value > 0.0 && value <= 86400.0))
        throw UsageError(what + " must be a number of seconds above 0, not \"" + text + "\"");
    return value;
}

// Prints a failed call and gives its exit status.
int report_failure(const Options& o, const std::string& interface, const std::string& operation,
                   int result, const std::string& message, std::optional<int> code = std::nullopt) {
    std::fprintf(stderr, "vantrelctl: %s\n", message.c_str());
    if (o.json)
        std::printf("%s\n",
                    dump(failure_json(interface, operation, code, result, message)).c_str());
    return result;
}

int report_failure(const Options& o, const Session& session, const std::string& operation,
                   int result, std::optional<int> code = std::nullopt) {
    return report_failure(o, session.interface(), operation, result,
                          describe_failure(session, operation, result), code);
}

// Opens the session and checks that something of the expected kind serves the interface.
// 0, or the exit status after the failure has been reported.
int open_checked(const Options& o, Session& session, const std::string& operation,
                 std::optional<Kind> kind, std::size_t expected_size) {
    if (const int r = session.open(); r != 0) return report_failure(o, session, operation, r);
    if (const auto refusal = check_served(session, operation, kind, expected_size))
        return report_failure(o, session.interface(), operation, refusal->result, refusal->message);
    return 0;
}

class ProgressLine {
  public:
    ProgressLine() : tty_(::isatty(STDOUT_FILENO) == 1) {}
    void show(const MotionPoll& poll, double elapsed) {
        const std::string text = progress_text(poll, elapsed);
        if (tty_) {
            std::printf("\r%s\033[K", text.c_str());
            shown_ = true;
        } else if (elapsed - last_ >= 1.0 || !shown_) {
            // Not a terminal: a line a second, so logs stay readable.
            std::printf("%s\n", text.c_str());
            last_ = elapsed;
            shown_ = true;
        }
        std::fflush(stdout);
    }
    void end() {
        if (tty_ && shown_) std::printf("\n");
    }

  private:
    bool tty_;
    bool shown_ = false;
    double last_ = 0.0;
};

// Waits for the motion and prints its outcome; `hint` explains a failure seen coming.
int wait_and_report(const Options& o, VantrelIF& v, const Session& session,
                    const WaitOptions& options, const std::string& hint) {
    ProgressLine line;
    const WaitOutcome outcome =
        wait_for_motion(v, options, [&](const MotionPoll& p, double elapsed) {
            if (!o.json) line.show(p, elapsed);
        });
    line.end();
    if (outcome.kind == WaitOutcome::no_answer)
        return report_failure(o, session, outcome.failed_operation, outcome.call_result);
    if (o.json) {
        std::printf("%s\n",
                    dump(outcome_json(outcome, session.interface(), options.requested)).c_str());
    } else {
        std::FILE* to = outcome.kind == WaitOutcome::reached ? stdout : stderr;
        std::fprintf(to, "%s%s\n", outcome.kind == WaitOutcome::reached ? "" : "vantrelctl: ",
                     describe_outcome(outcome).c_str());
        if (outcome.kind == WaitOutcome::failed) {
            std::string cause = hint;
            if (cause.empty()) cause = kill_switch_reason("Sipper", o.timeout_ms);
            if (cause.empty()) cause = "the selector's log tells the cause";
            std::fprintf(stderr, "vantrelctl: %s\n", cause.c_str());
        }
    }
    return outcome.kind == WaitOutcome::reached ? 0 : kExitMotionFailed;
}

// home --wait and set_current_column COLUMN --wait.
int run_motion(const Options& o, const std::string& operation, std::optional<int> column,
               const WaitOptions& wait) {
    VantrelIF v(o.interface);
    Session session(v, o.timeout_ms);
    if (const int r = open_checked(o, session, operation, Kind::selector, v.properties_size()))
        return r;
    // What the selector refuses silently (it only logs), looked at before asking: told as the
    // cause should the motion fail.
    MotionFacts facts;
    std::string failed;
    if (const int r = read_motion_facts(v, facts, failed); r != 0)
        return report_failure(o, session, failed, r);
    const auto refusal = refuse_motion(facts, column);
    // Not ready: the wait says so itself.
    const std::string hint =
        refusal && refusal->kind != MotionRefusal::not_ready ? refusal->reason : "";

    const int r = column ? v.set_current_column(*column) : v.home();
    if (r != 0) return report_failure(o, session, operation, r);
    WaitOptions options = wait;
    options.requested = column ? column : std::optional<int>(1);  // homing ends at column 1
    return wait_and_report(o, v, session, options, hint);
}

int run_wait(const Options& o, const WaitOptions& wait) {
    VantrelIF v(o.interface);
    Session session(v, o.timeout_ms);
    if (const int r = open_checked(o, session, "wait", Kind::selector, v.properties_size()))
        return r;
    return wait_and_report(o, v, session, wait, "");
}

int run_status(const Options& o) {
    VantrelIF v(o.interface);
    Session session(v, o.timeout_ms);
    if (const int r = open_checked(o, session, "status", Kind::selector, v.properties_size()))
        return r;
    Snapshot s;
    std::string failed;
    if (const int r = read_snapshot(v, s, failed); r != 0)
        return report_failure(o, session, failed, r);
    if (o.json)
        std::printf("%s\n", dump(status_json(s, o.interface)).c_str());
    else
        std::printf("%s", render_status(s, o.interface).c_str());
    return 0;
}

int run_watch(const Options& o, long interval_ms) {
    VantrelIF v(o.interface);
    Session session(v, o.timeout_ms);
    if (const int r = open_checked(o, session, "watch", Kind::selector, v.properties_size()))
        return r;
    struct sigaction action {};
    action.sa_handler = on_interrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    const bool tty = ::isatty(STDOUT_FILENO) == 1;
    double last_top = 1.0;
    while (!interrupted) {
        Snapshot s;
        std::string failed;
        const int r = read_snapshot(v, s, failed);
        std::string frame;
        if (r != 0) {
            frame = describe_failure(session, failed, r) + "\n(trying again; Ctrl-C ends)\n";
        } else if (o.json) {
            frame = dump(status_json(s, o.interface)) + "\n";
        } else {
            frame = draw_ring(ring_view(s, last_top), tty) + "\n" + render_status(s, o.interface) +
                    "\n(Ctrl-C ends)\n";
        }
        if (tty && !o.json)
            std::printf("\033[H\033[2J%s", frame.c_str());
        else
            std::printf("%s%s", frame.c_str(), o.json ? "" : "\n");
        std::fflush(stdout);
        for (long waited = 0; waited < interval_ms && !interrupted; waited += 50)
            platform::sleep_ms(std::min(50L, interval_ms - waited));
    }
    return 0;
}

// An operation by name, with its arguments.
int run_operation(const Options& o, const NamedOperation& named,
                  const std::vector<std::string>& words) {
    const Kind kind = named.kind.value_or(kind_for_interface(o.interface));
    GenericClient client(o.interface, kind);
    const Operation& op = *client.operation(named.op->name);
    const std::vector<Value> arguments = parse_arguments(op, words);
    Session session(client, o.timeout_ms);
    if (const int r = open_checked(o, session, op.name, named.kind, client.properties_size()))
        return r;
    std::vector<Value> results;
    if (const int r = call_checked(client, op, arguments, results); r != 0)
        return report_failure(o, session, op.name, r, op.code);
    if (o.json) {
        std::printf("%s\n", dump(call_json(o.interface, op, results)).c_str());
    } else if (op.kind == CallKind::one_way) {
        std::printf("sent \"%s\" to \"%s\"\n", op.name.c_str(), o.interface.c_str());
    } else if (op.name == "get_state") {
        const int state = std::get<std::int32_t>(results.at(0));
        std::printf("%d (%s)\n", state, state_name(state));
    } else {
        std::string line;
        for (const Value& value : results) line += (line.empty() ? "" : " ") + format_value(value);
        std::printf("%s\n", line.c_str());
    }
    return 0;
}

// The next word of the command line as the value of `option`.
std::string value_of(int argc, char** argv, int& i, const std::string& option) {
    if (i + 1 >= argc) throw UsageError(option + " needs a value");
    return argv[++i];
}

// The options before the operation, into `o`; `i` is left at the operation's word. False when
// the usage was asked for.
bool parse_options(int argc, char** argv, int& i, Options& o) {
    for (; i < argc; ++i) {
        const std::string word = argv[i];
        if (word == "--interface" || word == "-i") {
            o.interface = value_of(argc, argv, i, word);
            o.interface_given = true;
            if (o.interface.empty()) throw UsageError("--interface needs a name");
        } else if (word == "--timeout" || word == "-t") {
            o.timeout_ms =
                static_cast<int>(number(value_of(argc, argv, i, word), 1, 3600000, "--timeout"));
        } else if (word == "--json") {
            o.json = true;
        } else if (word == "--help" || word == "-h" || word == "help") {
            return false;
        } else if (word == "--") {
            ++i;
            break;
        } else if (!word.empty() && word[0] == '-') {
            throw UsageError("unknown option \"" + word + "\"");
        } else {
            break;
        }
    }
    return true;
}

// The operation and the words after it: its arguments, and the options of waiting.
struct Command {
    std::string name;
    std::vector<std::string> words;
    bool wait = false;
    std::optional<std::string> wait_timeout, column, interval;
    WaitOptions wait_options;

    // Refuses the options of waiting that do not belong to this command.
    void refuse_extra(bool allowed_wait, bool allowed_column, bool allowed_interval) const {
        if (wait_timeout && !allowed_wait)
            throw UsageError("--timeout after \"" + name +
                             "\" limits a wait (with --wait); the call time-out goes before the "
                             "operation: vantrelctl --timeout MS " +
                             name);
        if (column && !allowed_column) throw UsageError("--column belongs to wait");
        if (interval && !allowed_interval) throw UsageError("--interval belongs to watch");
    }
};

Command parse_command(int argc, char** argv, int i) {
    Command c;
    c.name = argv[i++];
    for (; i < argc; ++i) {
        const std::string word = argv[i];
        if (word == "--wait")
            c.wait = true;
        else if (word == "--timeout")
            c.wait_timeout = value_of(argc, argv, i, word);
        else if (word == "--column")
            c.column = value_of(argc, argv, i, word);
        else if (word == "--interval")
            c.interval = value_of(argc, argv, i, word);
        else
            c.words.push_back(word);
    }
    c.wait_options.timeout_s = kDefaultWaitSeconds;
    if (c.wait_timeout) c.wait_options.timeout_s = seconds(*c.wait_timeout, "the wait's --timeout");
    return c;
}

// status, watch and wait: views of a column selector.
int run_view(const Options& o, const Command& c) {
    if (!c.words.empty())
        throw UsageError("\"" + c.name + "\" takes no argument \"" + c.words.front() + "\"");
    if (c.wait) throw UsageError("--wait belongs to home and set_current_column");
    if (c.name == "status") {
        c.refuse_extra(false, false, false);
        return run_status(o);
    }
    if (c.name == "watch") {
        c.refuse_extra(false, false, true);
        return run_watch(
            o, c.interval ? number(*c.interval, 50, 60000, "--interval") : kDefaultWatchIntervalMs);
    }
    c.refuse_extra(true, true, false);
    WaitOptions wait = c.wait_options;
    if (c.column) wait.requested = static_cast<int>(number(*c.column, 0, 64, "--column"));
    return run_wait(o, wait);
}

// An operation by its name, or a motion waited for with --wait.
int run_named(const Options& o, const Command& c) {
    const auto named = find_operation(c.name);
    if (!named) throw UsageError("no operation \"" + c.name + "\"");
    if (named->kind && *named->kind != Kind::selector && !o.interface_given)
        throw UsageError("\"" + c.name + "\" is an operation of the " + kind_name(*named->kind) +
                         "; name its interface: vantrelctl " + "--interface " +
                         (*named->kind == Kind::sipper ? "Sipper" : "RotaryMC") + " " + c.name);
    const bool motion = c.name == "home" || c.name == "set_current_column";
    if (c.wait && !motion) throw UsageError("--wait belongs to home and set_current_column");
    c.refuse_extra(c.wait, false, false);
    if (c.wait) {
        const std::vector<Value> args = parse_arguments(*named->op, c.words);
        std::optional<int> target;
        if (!args.empty()) target = std::get<std::int32_t>(args[0]);
        return run_motion(o, c.name, target, c.wait_options);
    }
    return run_operation(o, *named, c.words);
}

int run(int argc, char** argv) {
    Options o;
    int i = 1;
    if (!parse_options(argc, argv, i, o)) {
        print_usage(stdout);
        return 0;
    }
    if (i >= argc) throw UsageError("no operation given");
    const Command c = parse_command(argc, argv, i);
    if (c.name == "status" || c.name == "watch" || c.name == "wait") return run_view(o, c);
    return run_named(o, c);
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return run(argc, argv);
    } catch (const UsageError& e) {
        return usage_error(e.what());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "vantrelctl: %s\n", e.what());
        return kExitInternal;
    }
}
