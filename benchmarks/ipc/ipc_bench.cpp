// ipc_bench: what one call through a shared interface costs, against the floor of the machine.
//
//   ipc_bench [--calls N] [--rounds R] [--oneway M]
//
// Measured in one run, each in processes of their own:
//  - the round trip of a two-way call without arguments or results, against a server process that
//    serves in a loop (InterfaceServer::service);
//  - the round trip of a raw ping-pong between two processes through two futex words in shared
//    memory: two hand-overs with their wake-ups and nothing else, the floor of any design that
//    wakes the other side;
//  - one-way calls served per second: M calls pushed as fast as the queue takes them, timed until
//    a two-way call queued behind them returns (the server serves in queue order).
// The two round trips are measured in R alternating blocks of N/R calls each, so that load from
// elsewhere on the machine falls on both alike. Prints one `name=value` line per figure.

#include <linux/futex.h>
#include <sched.h>
#include <signal.h>
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
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "interface/interface_client.h"
#include "interface/interface_server.h"
#include "platform/named_object.h"
#include "platform/object_name.h"

using namespace vantrel;
using Clock = std::chrono::steady_clock;

namespace {

const std::string kName = "IpcBench";

// The operations both sides enter.
struct BenchOps {
    Operation ping, tick, quit, ticks;
};

BenchOps declare(InterfaceLayout& l) {
    BenchOps ops;
    ops.ping = l.add_two_way("ping", 0, {}, {});
    ops.tick = l.add_one_way("tick", 1, {WireType::integer});
    ops.quit = l.add_one_way("quit", 2, {});
    ops.ticks = l.add_two_way_with_slots("ticks", 3, {}, {WireType::integer});
    return ops;
}

class BenchServer : public InterfaceServer {
  public:
    BenchServer() : InterfaceServer(kName) {
        ops_ = declare(layout());
        set_queue_size(kQueueSize);
    }
    bool quit() const { return quit_; }

  protected:
    void dispatch(const CallRecord& record) override {
        const Operation* op = operation_of(record);
        if (op == nullptr) return reject(record, "unknown operation code");
        const auto args = accept(record, *op);
        if (!args) return;
        switch (op->code) {
            case 0:
                complete(*op, *args);
                break;
            case 1:
                ++ticks_;
                break;
            case 2:
                quit_ = true;
                break;
            case 3:
                complete(*op, *args, {ticks_});
                break;
        }
    }

  private:
    BenchOps ops_;
    std::int32_t ticks_ = 0;
    bool quit_ = false;
};

class BenchClient : public InterfaceClient {
  public:
    BenchClient() : InterfaceClient(kName) {
        ops_ = declare(layout());
        set_queue_size(kQueueSize);
    }
    int ping() { return call_two_way(ops_.ping, {}); }
    int tick(std::int32_t n) { return call_one_way(ops_.tick, {n}); }
    int quit() { return call_one_way(ops_.quit, {}); }
    int ticks(std::int32_t& n) { return call_two_way(ops_.ticks, {}, {n}); }

  private:
    BenchOps ops_;
};

// Two futex words in memory shared with the other process, each with a count of sleepers so that
// a wake-up costs a system call only when someone sleeps: the cheapest way to hand over and wake.
struct Word {
    std::atomic<std::uint32_t> value;
    std::atomic<std::uint32_t> sleepers;
};

struct PingPong {
    Word ping;
    Word pong;
};

long futex(std::atomic<std::uint32_t>& word, int op, std::uint32_t value) {
    return ::syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(&word), op, value, nullptr,
                     nullptr, 0);
}

// Waits until the word is non-zero, takes its value and sets it back to 0.
std::uint32_t take(Word& word) {
    for (;;) {
        if (const std::uint32_t v = word.value.exchange(0)) return v;
        word.sleepers.fetch_add(1);
        futex(word.value, FUTEX_WAIT, 0);
        word.sleepers.fetch_sub(1);
    }
}

void give(Word& word, std::uint32_t value) {
    word.value.store(value);
    if (word.sleepers.load() > 0) futex(word.value, FUTEX_WAKE, 1);
}

// Ends the run; main reports it after the processes and objects of the run are gone.
[[noreturn]] void fail(const std::string& what) {
    throw std::runtime_error(what);
}

// The processes of the run and the objects of its scope go however the run ends.
struct RunGuard {
    std::vector<pid_t> children;
    ~RunGuard() {
        for (pid_t pid : children) ::kill(pid, SIGKILL);
        for (pid_t pid : children) ::waitpid(pid, nullptr, 0);
        platform::remove_unheld_objects(platform::ipc_scope());
    }
};

double percentile(std::vector<double> samples, double p) {
    std::sort(samples.begin(), samples.end());
    const auto index = static_cast<std::size_t>(p * static_cast<double>(samples.size() - 1) + 0.5);
    return samples[index];
}

pid_t start_server() {
    const pid_t pid = ::fork();
    if (pid < 0) fail("fork failed");
    if (pid == 0) {
        {
            BenchServer server;
            if (!server.open()) {
                std::fprintf(stderr, "ipc_bench server: %s\n", server.open_error().c_str());
                ::_exit(1);
            }
            while (!server.quit()) server.service();
        }  // closes the server's objects: the last holder removes each
        ::_exit(0);
    }
    return pid;
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

void print(const char* name, double value) {
    std::printf("%s=%.3f\n", name, value);
}

}  // namespace

int run(int argc, char** argv) {
    long calls = 40000, rounds = 8, oneway = 200000;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string flag = argv[i];
        const long value = std::atol(argv[i + 1]);
        if (value <= 0) fail("bad value for " + flag);
        if (flag == "--calls")
            calls = value;
        else if (flag == "--rounds")
            rounds = value;
        else if (flag == "--oneway")
            oneway = value;
        else
            fail("unknown option " + flag + " (--calls N, --rounds R, --oneway M)");
    }
    // Objects of our own, whatever else runs on this machine.
    ::setenv("VANTREL_IPC_SCOPE", ("ipc_bench-" + std::to_string(::getpid())).c_str(), 1);

    void* memory = ::mmap(nullptr, sizeof(PingPong), PROT_READ | PROT_WRITE,
                          MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED) fail("mmap failed");
    auto* shared = new (memory) PingPong{};
    RunGuard guard;
    const pid_t ponger = start_ponger(shared);
    guard.children.push_back(ponger);
    const pid_t server = start_server();
    guard.children.push_back(server);

    BenchClient client;
    if (!client.open()) fail(client.open_error());
    client.set_call_timeout(10000);
    // The first calls may meet the server's open (which discards them and wakes us with 5).
    int rc = -1;
    for (int attempt = 0; attempt < 100 && rc != kCallDone; ++attempt) rc = client.ping();
    if (rc != kCallDone) fail(std::string("server does not answer: ") + describe_call_result(rc));

    const long block = std::max(1L, calls / rounds);
    std::vector<double> twoway, pingpong;
    twoway.reserve(static_cast<std::size_t>(block * rounds));
    pingpong.reserve(static_cast<std::size_t>(block * rounds));
    for (long i = 0; i < 2000; ++i) {  // warm-up of both paths
        client.ping();
        give(shared->ping, 1);
        take(shared->pong);
    }
    for (long r = 0; r < rounds; ++r) {
        for (long i = 0; i < block; ++i) {
            const auto t0 = Clock::now();
            give(shared->ping, 1);
            take(shared->pong);
            pingpong.push_back(
                std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
        }
        for (long i = 0; i < block; ++i) {
            const auto t0 = Clock::now();
            if (client.ping() != kCallDone) fail("a two-way call failed");
            twoway.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
        }
    }
    give(shared->ping, 2);  // ends the ponger

    // One-way calls: as fast as the queue takes them, then one two-way call behind them all.
    std::int32_t before = 0;
    if (client.ticks(before) != kCallDone) fail("ticks call failed");
    const auto t0 = Clock::now();
    long full = 0;
    for (long i = 0; i < oneway; ++i) {
        while ((rc = client.tick(static_cast<std::int32_t>(i))) == kCallQueueFull) {
            ++full;
            ::sched_yield();
        }
        if (rc != kCallDone) fail("a one-way call failed");
    }
    std::int32_t after = 0;
    if (client.ticks(after) != kCallDone) fail("ticks call failed");
    const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    if (after - before != oneway) fail("one-way calls lost");
    client.quit();

    const double tw_median = percentile(twoway, 0.5), tw_p99 = percentile(twoway, 0.99);
    const double pp_median = percentile(pingpong, 0.5), pp_p99 = percentile(pingpong, 0.99);
    std::printf("calls=%zu\n", twoway.size());
    print("twoway_median_us", tw_median);
    print("twoway_p99_us", tw_p99);
    print("pingpong_median_us", pp_median);
    print("pingpong_p99_us", pp_p99);
    print("ratio_median", tw_median / pp_median);
    print("ratio_p99", tw_p99 / pp_p99);
    std::printf("oneway_calls=%ld\n", oneway);
    print("oneway_per_second", static_cast<double>(oneway) / seconds);
    std::printf("oneway_queue_full_retries=%ld\n", full);

    int status = 0;
    ::waitpid(ponger, &status, 0);
    ::waitpid(server, &status, 0);
    guard.children.clear();
    return 0;
}

int main(int argc, char** argv) {
    try {
        return run(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "ipc_bench: %s\n", e.what());
        return 1;
    }
}
