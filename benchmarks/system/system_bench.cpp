// system_bench: what the running column selector costs, measured against the floor of the machine
// in the same run.
//
//   system_bench [--calls N] [--rounds R] [--oneway M] [--idle-seconds S]
//                [--running-seconds T] [--placement same|split|free] [--programs DIR]
//
// Starts the stand-in peers (the two board managers, the sipper) and the vantrel program as
// processes of their own, in a temporary directory and an IPC scope of its own, resets the selector
// to READY, then measures:
//  - the round trip of the two-way calls "get_state" and "is_busy" to the vantrel process, against
//    the round trip of a raw ping-pong between two processes through two futex words in shared
//    memory (two wake-ups and nothing else, the floor of any design that wakes the other side).
//    The three are measured in R alternating blocks of N/R calls each, so that load from elsewhere
//    falls on all alike, with the processes placed on processors as --placement says (see there);
//    medians, 99th percentiles and their ratios to the ping-pong are printed;
//  - one-way calls served per second by the selector's main loop: M calls ("set_pres_limits")
//    pushed as fast as the queue takes them, timed until a two-way call queued behind them comes
//    back with the last values (the queue is served in order, so every call before it was served);
//  - the idle cost of the vantrel process: its CPU time (the scheduler's nanoseconds of all its
//    threads, /proc/<pid>/task/*/schedstat) over S seconds of READY without calls, as a share of
//    one core, its wake-ups per second (voluntary context switches of all its threads,
//    /proc/<pid>/task/*/status) and its resident memory;
//  - the same CPU share and wake-ups over T seconds of RUNNING at its update rate (FREQ 10).
// The programs are taken from the directory of this one, or from --programs DIR (an older build,
// to compare). Prints one `name=value` line per figure.

#include <sched.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "benchmarks/support/figures.h"
#include "benchmarks/support/futex_pingpong.h"
#include "benchmarks/support/processes.h"
#include "benchmarks/support/run.h"
#include "interface/clients.h"
#include "tools/client/command_line.h"

using namespace vantrel;
using namespace vantrel::bench;

namespace {

// --- the analyser's processes -------------------------------------------------------------------

void write_file(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

template <typename Pred>
bool eventually(Pred pred) {
    return bench::eventually(pred, 20000, 10);
}

// The stand-in peers and the selector, from `programs`, in a directory of their own; stopped
// however the run ends.
struct Analyser {
    std::string programs;
    ScratchDir dir{"system_bench"};
    Children children;
    pid_t selector = -1;

    explicit Analyser(std::string programs_dir) : programs(std::move(programs_dir)) {
        const std::string common = "FREQ = 1;\nLOGSERVERIF = \"NoLogServer\";\n";
        const std::string selector = "FREQ = 10;\nLOGSERVERIF = \"NoLogServer\";\n";
        write_file(path("rotary.cfg"), common + "BOARD_ID = 1;\nREFERENCE_POSITION = -500.0;\n");
        write_file(path("linear.cfg"), common + "BOARD_ID = 2;\n");
        write_file(path("sipper.cfg"), common);
        write_file(path("vantrel.cfg"),
                   selector +
                       "COLUMNSTATS = \"columns.dat\";\nDEVICE_PRESENT = 1;\nPOS0 = 200;\n"
                       "POS1 = 1000;\nGRIPPERSTROKE = 1000;\nGRIPPERVELOCITY = 20000;\n"
                       "GRIPPERACCEL = 400000;\nROTORVELOCITY = 20000;\nROTORACCEL = 400000;\n"
                       "ROTORPATTERN = 440;\nBUZZDURATION = 0.1;\nBUZZAMPLITUDE = 20;\n"
                       "AUTO_COLUMN_SWITCH = 1;\nP1_PRES_LIMIT = 2.5;\nP3_PRES_LIMIT = 7.25;\n"
                       "SAMPLE_LIMIT = 500;\n");
    }
    std::string path(const std::string& file) const { return dir.path() + "/" + file; }
    // Starts the peers, then the selector. Apart from the constructor, so that the destructor
    // stops whatever started before a failure.
    void start() {
        start_peer<NI7344IF>("boardmgr", "RotaryMC", "rotary");
        start_peer<NI7344IF>("boardmgr", "LinearMC", "linear");
        start_peer<SipperIF>("sipper", "Sipper", "sipper");
        selector = children.add(
            spawn({programs + "/vantrel", "Vantrel", path("vantrel.log"), path("vantrel.cfg")}));
    }
    // The probe is of the peer's own client class: should it open the interface before the peer
    // does, it creates the properties segment, and with the size of its class.
    template <typename Client>
    void start_peer(const char* kind, const char* name, const std::string& file) {
        children.add(spawn(
            {programs + "/vantrel-peer", kind, name, path(file + ".log"), path(file + ".cfg")}));
        Client probe(name);
        probe.open();
        if (!eventually([&] {
                std::int32_t state = -1;
                return probe.get_state(state) == kCallDone;
            }))
            fail(std::string("peer ") + name + " does not serve");
    }
};

long proc_status_kb(pid_t pid, const std::string& field) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(in, line);)
        if (line.rfind(field + ":", 0) == 0)
            return std::strtol(line.c_str() + field.size() + 1, nullptr, 10);
    return -1;
}

// What the scheduler counted for all threads of a process so far.
struct Usage {
    double cpu_seconds = 0;       // time on a processor (schedstat, nanoseconds)
    long voluntary_switches = 0;  // each a sleep that ended in a wake-up
};

Usage usage(pid_t pid) {
    Usage u;
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    std::error_code error;
    for (const auto& task : std::filesystem::directory_iterator(tasks, error)) {
        std::ifstream schedstat(task.path() / "schedstat");
        long long on_cpu_ns = 0;
        if (schedstat >> on_cpu_ns) u.cpu_seconds += static_cast<double>(on_cpu_ns) / 1e9;
        std::ifstream status(task.path() / "status");
        for (std::string line; std::getline(status, line);)
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0)
                u.voluntary_switches += std::strtol(line.c_str() + 24, nullptr, 10);
    }
    if (error) fail("cannot read " + tasks);
    return u;
}

struct Quiet {
    double seconds, cpu_seconds, wakeups;
};

// The selector's use over `seconds` of no calls.
Quiet quiet_period(pid_t pid, long seconds) {
    const Usage u0 = usage(pid);
    const auto t0 = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const Usage u1 = usage(pid);
    return {seconds_since(t0), u1.cpu_seconds - u0.cpu_seconds,
            static_cast<double>(u1.voluntary_switches - u0.voluntary_switches)};
}

void print_quiet(const char* name, const Quiet& q) {
    std::printf("%s_seconds=%.3f\n", name, q.seconds);
    std::printf("%s_cpu_seconds=%.6f\n", name, q.cpu_seconds);
    std::printf("%s_cpu_percent_of_core=%.4f\n", name, 100.0 * q.cpu_seconds / q.seconds);
    std::printf("%s_wakeups_per_second=%.2f\n", name, q.wakeups / q.seconds);
}

struct Options {
    long calls = 30000, rounds = 10, oneway = 100000, idle_seconds = 60, running_seconds = 20;
    std::string placement = "same";
    std::string programs = own_dir();  // where vantrel and vantrel-peer are taken from
};

std::optional<int> parse(int argc, char** argv, Options& o) {
    CLI::App app(
        "The running vantrel program against the floor of the machine: call round "
        "trips, one-way calls served per second, idle and running cost.",
        "system_bench");
    app.add_option("--calls", o.calls, "round trips of each kind")->transform(ctl::whole_number(1));
    app.add_option("--rounds", o.rounds, "alternating blocks the round trips are measured in")
        ->transform(ctl::whole_number(1));
    app.add_option("--oneway", o.oneway, "one-way calls pushed")->transform(ctl::whole_number(1));
    app.add_option("--idle-seconds", o.idle_seconds, "seconds of READY without calls")
        ->transform(ctl::whole_number(1));
    app.add_option("--running-seconds", o.running_seconds, "seconds of RUNNING at FREQ 10")
        ->transform(ctl::whole_number(1));
    app.add_option("--placement", o.placement,
                   "same: every process of the round trips on processor 0; split: this one on "
                   "0, the ponger and the selector on 1; free: pinned nowhere")
        ->check(CLI::IsMember({"same", "split", "free"}));
    app.add_option("--programs", o.programs, "the directory of the programs to measure");
    return parse_command_line(app, argc, argv);
}

// The round trips between the same processors, so that the scheduler's placement (which varies
// from run to run, and on a virtual machine costs more than the calls themselves when a wake-up
// crosses to another processor) falls on both alike: "same" (the default) puts this process, the
// ponger and the selector on one processor, "split" this process on one and the ponger and the
// selector on another, "free" pins nothing. Whether they could be placed so.
bool place(const std::string& placement, pid_t ponger, pid_t selector) {
    if (placement == "split") return pin(0) && pin(1, ponger) && pin(1, selector);
    if (placement == "same") return pin(0) && pin(0, ponger) && pin(0, selector);
    return false;
}

// Resets the selector and waits until it is READY.
void make_ready(VantrelIF& v, const Analyser& analyser) {
    std::int32_t state = -1;
    if (!eventually([&] { return v.get_state(state) == kCallDone && state == 0; }))
        fail("the selector does not serve");
    if (v.reset() != kCallDone) fail("reset failed");
    if (!eventually([&] { return v.get_state(state) == kCallDone && state == 1; }))
        fail("the selector did not become READY (state " + std::to_string(state) + "):\n" +
             text_of(analyser.path("vantrel.log")));
}

struct RoundTrips {
    std::vector<double> pingpong, get_state, is_busy;
};

// The three round trips in alternating blocks.
RoundTrips measure_round_trips(VantrelIF& v, Ponger& ponger, const Options& o) {
    const long block = std::max(1L, o.calls / o.rounds);
    RoundTrips t;
    std::int32_t state = -1;
    for (long i = 0; i < 2000; ++i) {  // warm-up of every path
        ponger.round_trip();
        v.get_state(state);
        bool busy = false;
        v.is_busy(busy);
    }
    for (long r = 0; r < o.rounds; ++r) {
        for (long i = 0; i < block; ++i) {
            const auto t0 = Clock::now();
            ponger.round_trip();
            t.pingpong.push_back(micros_since(t0));
        }
        for (long i = 0; i < block; ++i) {
            const auto t0 = Clock::now();
            if (v.get_state(state) != kCallDone || state != 1) fail("a get_state call failed");
            t.get_state.push_back(micros_since(t0));
        }
        for (long i = 0; i < block; ++i) {
            bool busy = true;
            const auto t0 = Clock::now();
            if (v.is_busy(busy) != kCallDone || busy) fail("an is_busy call failed");
            t.is_busy.push_back(micros_since(t0));
        }
    }
    return t;
}

struct OneWay {
    double seconds = 0;
    long queue_full = 0;
};

// One-way calls served per second: all of them, then one two-way call behind them.
OneWay measure_oneway(VantrelIF& v, long count) {
    int rc = 0;
    OneWay w;
    const auto t0 = Clock::now();
    for (long i = 1; i <= count; ++i) {
        while ((rc = v.set_pres_limits(static_cast<double>(i), -static_cast<double>(i))) ==
               kCallQueueFull) {
            ++w.queue_full;
            ::sched_yield();
        }
        if (rc != kCallDone) fail("a one-way call failed");
    }
    double p1 = 0, p3 = 0;
    while ((rc = v.get_pres_limits(p1, p3)) == kCallQueueFull) ::sched_yield();
    if (rc != kCallDone) fail(std::string("get_pres_limits: ") + describe_call_result(rc));
    w.seconds = seconds_since(t0);
    if (p1 != static_cast<double>(count) || p3 != -static_cast<double>(count))
        fail("the last one-way call was not served before the two-way call behind it");
    return w;
}

struct QuietCost {
    Quiet idle;
    long idle_rss = 0, idle_anon = 0;
    Quiet running;
};

// READY, no calls; then RUNNING at its update rate, no calls.
QuietCost measure_quiet(VantrelIF& v, pid_t selector, const Options& o) {
    QuietCost c;
    std::this_thread::sleep_for(std::chrono::seconds(1));
    c.idle = quiet_period(selector, o.idle_seconds);
    c.idle_rss = proc_status_kb(selector, "VmRSS");
    c.idle_anon = proc_status_kb(selector, "RssAnon");
    if (v.run() != kCallDone) fail("run failed");
    std::int32_t state = -1;
    if (!eventually([&] { return v.get_state(state) == kCallDone && state == 2; }))
        fail("the selector did not become RUNNING");
    std::this_thread::sleep_for(std::chrono::seconds(1));
    c.running = quiet_period(selector, o.running_seconds);
    v.stop();
    return c;
}

void print_figures(const RoundTrips& t, const std::string& placement, long oneway, const OneWay& w,
                   const QuietCost& c) {
    const double pp_median = percentile(t.pingpong, 0.5), pp_p99 = percentile(t.pingpong, 0.99);
    const double gs_median = percentile(t.get_state, 0.5), gs_p99 = percentile(t.get_state, 0.99);
    const double ib_median = percentile(t.is_busy, 0.5), ib_p99 = percentile(t.is_busy, 0.99);
    std::printf("calls_each=%zu\n", t.pingpong.size());
    std::printf("placement=%s\n", placement.c_str());
    print("pingpong_median_us", pp_median);
    print("pingpong_p99_us", pp_p99);
    print("get_state_median_us", gs_median);
    print("get_state_p99_us", gs_p99);
    print("is_busy_median_us", ib_median);
    print("is_busy_p99_us", ib_p99);
    print("get_state_ratio_median", gs_median / pp_median);
    print("get_state_ratio_p99", gs_p99 / pp_p99);
    print("is_busy_ratio_median", ib_median / pp_median);
    print("is_busy_ratio_p99", ib_p99 / pp_p99);
    std::printf("oneway_calls=%ld\n", oneway);
    print("oneway_per_second", static_cast<double>(oneway) / w.seconds);
    std::printf("oneway_queue_full_retries=%ld\n", w.queue_full);
    print_quiet("idle", c.idle);
    std::printf("idle_vmrss_kb=%ld\n", c.idle_rss);
    std::printf("idle_rss_anon_kb=%ld\n", c.idle_anon);
    print_quiet("running_freq10", c.running);
}

int run(const Options& o) {
    RunScope scope("system_bench");
    Ponger ponger;
    Analyser analyser(o.programs);
    analyser.start();
    const bool pinned = place(o.placement, ponger.pid(), analyser.selector);
    VantrelIF v("Vantrel");
    if (!v.open()) fail(v.open_error());
    v.set_call_timeout(10000);
    make_ready(v, analyser);

    const RoundTrips trips = measure_round_trips(v, ponger, o);
    ponger.stop();
    // The rest on any processor: the main loop serves one-way calls while this process pushes.
    unpin(::getpid());
    unpin(analyser.selector);
    const OneWay oneway = measure_oneway(v, o.oneway);
    const QuietCost quiet = measure_quiet(v, analyser.selector, o);
    print_figures(trips, pinned ? o.placement : "free", o.oneway, oneway, quiet);
    v.kill();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (const auto status = parse(argc, argv, options)) return *status;
    return run_main("system_bench", [&] { return run(options); });
}
