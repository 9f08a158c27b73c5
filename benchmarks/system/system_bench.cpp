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

#include <fcntl.h>
#include <linux/futex.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "interface/clients.h"
#include "platform/named_object.h"
#include "platform/object_name.h"

extern char** environ;

using namespace vantrel;
using Clock = std::chrono::steady_clock;

namespace {

// Ends the run; the processes started so far are stopped on the way out (main catches it).
[[noreturn]] void fail(const std::string& what) {
    throw std::runtime_error(what);
}

// --- the floor: two processes waking each other through two futex words --------------------

struct PingPong {
    std::atomic<std::uint32_t> ping;
    std::atomic<std::uint32_t> pong;
};

long futex(std::atomic<std::uint32_t>& word, int op, std::uint32_t value) {
    return ::syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(&word), op, value, nullptr,
                     nullptr, 0);
}

std::uint32_t take(std::atomic<std::uint32_t>& word) {
    for (;;) {
        if (const std::uint32_t v = word.exchange(0)) return v;
        futex(word, FUTEX_WAIT, 0);
    }
}

void give(std::atomic<std::uint32_t>& word, std::uint32_t value) {
    word.store(value);
    futex(word, FUTEX_WAKE, 1);
}

pid_t start_ponger(PingPong* shared) {
    const pid_t pid = ::fork();
    if (pid < 0) fail("fork failed");
    if (pid == 0) {
        while (take(shared->ping) == 1) give(shared->pong, 1);
        ::_exit(0);
    }
    return pid;
}

// --- the analyser's processes -------------------------------------------------------------------

std::string own_dir() {
    return std::filesystem::read_symlink("/proc/self/exe").parent_path().string();
}

// Where vantrel and vantrel-peer are taken from.
std::string programs_dir = own_dir();

std::string bin_dir() {
    return programs_dir;
}

pid_t spawn(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) fail("cannot start " + argv[0]);
    return pid;
}

void write_file(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

template <typename Pred>
bool eventually(Pred pred, int timeout_ms = 20000) {
    const auto end = Clock::now() + std::chrono::milliseconds(timeout_ms);
    while (Clock::now() < end) {
        if (pred()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

struct Analyser {
    std::string dir;
    std::vector<pid_t> peers;
    pid_t selector = -1;

    Analyser() {
        char tmpl[] = "/tmp/system_bench-XXXXXX";
        if (::mkdtemp(tmpl) == nullptr) fail("mkdtemp failed");
        dir = tmpl;
        const std::string common = "FREQ = 1;\nLOGSERVERIF = \"NoLogServer\";\n";
        const std::string selector = "FREQ = 10;\nLOGSERVERIF = \"NoLogServer\";\n";
        write_file(dir + "/rotary.cfg", common + "BOARD_ID = 1;\nREFERENCE_POSITION = -500.0;\n");
        write_file(dir + "/linear.cfg", common + "BOARD_ID = 2;\n");
        write_file(dir + "/sipper.cfg", common);
        write_file(dir + "/vantrel.cfg",
                   selector +
                       "COLUMNSTATS = \"columns.dat\";\nDEVICE_PRESENT = 1;\nPOS0 = 200;\n"
                       "POS1 = 1000;\nGRIPPERSTROKE = 1000;\nGRIPPERVELOCITY = 20000;\n"
                       "GRIPPERACCEL = 400000;\nROTORVELOCITY = 20000;\nROTORACCEL = 400000;\n"
                       "ROTORPATTERN = 440;\nBUZZDURATION = 0.1;\nBUZZAMPLITUDE = 20;\n"
                       "AUTO_COLUMN_SWITCH = 1;\nP1_PRES_LIMIT = 2.5;\nP3_PRES_LIMIT = 7.25;\n"
                       "SAMPLE_LIMIT = 500;\n");
    }
    // Starts the peers, then the selector. Apart from the constructor, so that the destructor
    // stops whatever started before a failure.
    void start() {
        start_peer<NI7344IF>("boardmgr", "RotaryMC", "rotary");
        start_peer<NI7344IF>("boardmgr", "LinearMC", "linear");
        start_peer<SipperIF>("sipper", "Sipper", "sipper");
        selector =
            spawn({bin_dir() + "/vantrel", "Vantrel", dir + "/vantrel.log", dir + "/vantrel.cfg"});
    }
    // The probe is of the peer's own client class: should it open the interface before the peer
    // does, it creates the properties segment, and with the size of its class.
    template <typename Client>
    void start_peer(const char* kind, const char* name, const char* file) {
        peers.push_back(spawn({bin_dir() + "/vantrel-peer", kind, name, dir + "/" + file + ".log",
                               dir + "/" + file + ".cfg"}));
        Client probe(name);
        probe.open();
        if (!eventually([&] {
                std::int32_t state = -1;
                return probe.get_state(state) == kCallDone;
            }))
            fail(std::string("peer ") + name + " does not serve");
    }
    ~Analyser() {
        for (pid_t p : peers) ::kill(p, SIGKILL);
        if (selector > 0) ::kill(selector, SIGKILL);
        for (pid_t p : peers) ::waitpid(p, nullptr, 0);
        if (selector > 0) ::waitpid(selector, nullptr, 0);
        std::filesystem::remove_all(dir);
        // The killed processes left their named objects behind.
        platform::remove_unheld_objects(platform::ipc_scope());
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
    const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
    return {wall, u1.cpu_seconds - u0.cpu_seconds,
            static_cast<double>(u1.voluntary_switches - u0.voluntary_switches)};
}

void print_quiet(const char* name, const Quiet& q) {
    std::printf("%s_seconds=%.3f\n", name, q.seconds);
    std::printf("%s_cpu_seconds=%.6f\n", name, q.cpu_seconds);
    std::printf("%s_cpu_percent_of_core=%.4f\n", name, 100.0 * q.cpu_seconds / q.seconds);
    std::printf("%s_wakeups_per_second=%.2f\n", name, q.wakeups / q.seconds);
}

// Binds a process (all of it when called before it starts threads) to one processor.
bool pin(int cpu, pid_t pid) {
    if (cpu >= static_cast<int>(std::thread::hardware_concurrency())) return false;
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    return ::sched_setaffinity(pid, sizeof set, &set) == 0;
}

void unpin(pid_t pid) {
    cpu_set_t set;
    CPU_ZERO(&set);
    for (unsigned cpu = 0; cpu < std::thread::hardware_concurrency(); ++cpu) CPU_SET(cpu, &set);
    ::sched_setaffinity(pid, sizeof set, &set);
}

double percentile(std::vector<double> samples, double p) {
    std::sort(samples.begin(), samples.end());
    const auto index = static_cast<std::size_t>(p * static_cast<double>(samples.size() - 1) + 0.5);
    return samples[index];
}

void print(const char* name, double value) {
    std::printf("%s=%.3f\n", name, value);
}

double micros_since(Clock::time_point t0) {
    return std::chrono::duration<double, std::micro>(Clock::now() - t0).count();
}

}  // namespace

int run(int argc, char** argv) {
    long calls = 30000, rounds = 10, oneway = 100000, idle_seconds = 60, running_seconds = 20;
    std::string placement = "same";
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string flag = argv[i];
        if (flag == "--placement") {
            placement = argv[i + 1];
            continue;
        }
        if (flag == "--programs") {
            programs_dir = argv[i + 1];
            continue;
        }
        const long value = std::atol(argv[i + 1]);
        if (value <= 0) fail("bad value for " + flag);
        if (flag == "--calls")
            calls = value;
        else if (flag == "--rounds")
            rounds = value;
        else if (flag == "--oneway")
            oneway = value;
        else if (flag == "--idle-seconds")
            idle_seconds = value;
        else if (flag == "--running-seconds")
            running_seconds = value;
        else
            fail("unknown option " + flag +
                 " (--calls N, --rounds R, --oneway M, --idle-seconds S, --running-seconds T, "
                 "--placement P, --programs DIR)");
    }
    // Objects of our own, whatever else runs on this machine.
    ::setenv("VANTREL_IPC_SCOPE", ("system_bench-" + std::to_string(::getpid())).c_str(), 1);

    void* memory = ::mmap(nullptr, sizeof(PingPong), PROT_READ | PROT_WRITE,
                          MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED) fail("mmap failed");
    auto* shared = new (memory) PingPong{};
    const pid_t ponger = start_ponger(shared);
    // Ends the ponger however the run ends.
    struct Ponger {
        pid_t pid;
        ~Ponger() {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
    } ponger_guard{ponger};

    Analyser analyser;
    analyser.start();
    // The round trips between the same processors, so that the scheduler's placement (which
    // varies from run to run, and on a virtual machine costs more than the calls themselves when a
    // wake-up crosses to another processor) falls on both alike: "same" (the default) puts this
    // process, the ponger and the selector on one processor, "split" this process on one and the
    // ponger and the selector on another, "free" pins nothing.
    bool pinned = false;
    if (placement == "split")
        pinned = pin(0, ::getpid()) && pin(1, ponger) && pin(1, analyser.selector);
    else if (placement == "same")
        pinned = pin(0, ::getpid()) && pin(0, ponger) && pin(0, analyser.selector);
    else if (placement != "free")
        fail("unknown placement " + placement + " (same, split, free)");
    VantrelIF v("Vantrel");
    if (!v.open()) fail(v.open_error());
    v.set_call_timeout(10000);
    std::int32_t state = -1;
    if (!eventually([&] { return v.get_state(state) == kCallDone && state == 0; }))
        fail("the selector does not serve");
    if (v.reset() != kCallDone) fail("reset failed");
    if (!eventually([&] { return v.get_state(state) == kCallDone && state == 1; })) {
        std::ifstream log(analyser.dir + "/vantrel.log");
        std::stringstream text;
        text << log.rdbuf();
        fail("the selector did not become READY (state " + std::to_string(state) + "):\n" +
             text.str());
    }

    // Round trips, in alternating blocks.
    const long block = std::max(1L, calls / rounds);
    std::vector<double> pingpong, get_state, is_busy;
    for (long i = 0; i < 2000; ++i) {  // warm-up of every path
        give(shared->ping, 1);
        take(shared->pong);
        v.get_state(state);
        bool busy = false;
        v.is_busy(busy);
    }
    for (long r = 0; r < rounds; ++r) {
        for (long i = 0; i < block; ++i) {
            const auto t0 = Clock::now();
            give(shared->ping, 1);
            take(shared->pong);
            pingpong.push_back(micros_since(t0));
        }
        for (long i = 0; i < block; ++i) {
            const auto t0 = Clock::now();
            if (v.get_state(state) != kCallDone || state != 1) fail("a get_state call failed");
            get_state.push_back(micros_since(t0));
        }
        for (long i = 0; i < block; ++i) {
            bool busy = true;
            const auto t0 = Clock::now();
            if (v.is_busy(busy) != kCallDone || busy) fail("an is_busy call failed");
            is_busy.push_back(micros_since(t0));
        }
    }
    give(shared->ping, 2);  // ends the ponger
    // The rest on any processor: the main loop serves one-way calls while this process pushes.
    unpin(::getpid());
    unpin(analyser.selector);

    // One-way calls served per second: all of them, then one two-way call behind them.
    int rc = 0;
    long full = 0;
    const auto t0 = Clock::now();
    for (long i = 1; i <= oneway; ++i) {
        while ((rc = v.set_pres_limits(static_cast<double>(i), -static_cast<double>(i))) ==
               kCallQueueFull) {
            ++full;
            ::sched_yield();
        }
        if (rc != kCallDone) fail("a one-way call failed");
    }
    double p1 = 0, p3 = 0;
    while ((rc = v.get_pres_limits(p1, p3)) == kCallQueueFull) ::sched_yield();
    if (rc != kCallDone) fail(std::string("get_pres_limits: ") + describe_call_result(rc));
    const double oneway_seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    if (p1 != static_cast<double>(oneway) || p3 != -static_cast<double>(oneway))
        fail("the last one-way call was not served before the two-way call behind it");

    // Idle: READY, no calls; then RUNNING at its update rate, no calls.
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const Quiet idle = quiet_period(analyser.selector, idle_seconds);
    const long idle_rss = proc_status_kb(analyser.selector, "VmRSS");
    const long idle_anon = proc_status_kb(analyser.selector, "RssAnon");
    if (v.run() != kCallDone) fail("run failed");
    if (!eventually([&] { return v.get_state(state) == kCallDone && state == 2; }))
        fail("the selector did not become RUNNING");
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const Quiet running = quiet_period(analyser.selector, running_seconds);
    v.stop();

    const double pp_median = percentile(pingpong, 0.5), pp_p99 = percentile(pingpong, 0.99);
    const double gs_median = percentile(get_state, 0.5), gs_p99 = percentile(get_state, 0.99);
    const double ib_median = percentile(is_busy, 0.5), ib_p99 = percentile(is_busy, 0.99);
    std::printf("calls_each=%zu\n", pingpong.size());
    std::printf("placement=%s\n", pinned || placement == "free" ? placement.c_str() : "free");
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
    print("oneway_per_second", static_cast<double>(oneway) / oneway_seconds);
    std::printf("oneway_queue_full_retries=%ld\n", full);
    print_quiet("idle", idle);
    std::printf("idle_vmrss_kb=%ld\n", idle_rss);
    std::printf("idle_rss_anon_kb=%ld\n", idle_anon);
    print_quiet("running_freq10", running);

    v.kill();
    return 0;
}

int main(int argc, char** argv) {
    try {
        return run(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "system_bench: %s\n", e.what());
        return 1;
    }
}
