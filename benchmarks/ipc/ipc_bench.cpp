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

#include <sched.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "benchmarks/support/figures.h"
#include "benchmarks/support/futex_pingpong.h"
#include "benchmarks/support/processes.h"
#include "benchmarks/support/run.h"
#include "interface/interface_client.h"
#include "interface/interface_server.h"
#include "tools/client/command_line.h"

using namespace vantrel;
using namespace vantrel::bench;

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

// The server process: serves in a loop until "quit".
pid_t start_server() {
    return fork_process([] {
        BenchServer server;  // closed on the way out: the last holder removes each object
        if (!server.open()) {
            std::fprintf(stderr, "ipc_bench server: %s\n", server.open_error().c_str());
            ::_exit(1);
        }
        while (!server.quit()) server.service();
    });
}

struct Options {
    long calls = 40000, rounds = 8, oneway = 200000;
};

std::optional<int> parse(int argc, char** argv, Options& o) {
    CLI::App app(
        "The round trip of a two-way call against a raw futex ping-pong between two "
        "processes, and one-way calls served per second.",
        "ipc_bench");
    app.add_option("--calls", o.calls, "round trips of each kind")->transform(ctl::whole_number(1));
    app.add_option("--rounds", o.rounds, "alternating blocks the round trips are measured in")
        ->transform(ctl::whole_number(1));
    app.add_option("--oneway", o.oneway, "one-way calls pushed")->transform(ctl::whole_number(1));
    return parse_command_line(app, argc, argv);
}

// The first calls may meet the server's open (which discards them and wakes us with 5).
void await_server(BenchClient& client) {
    int rc = -1;
    for (int attempt = 0; attempt < 100 && rc != kCallDone; ++attempt) rc = client.ping();
    if (rc != kCallDone) fail(std::string("server does not answer: ") + describe_call_result(rc));
}

struct RoundTrips {
    std::vector<double> twoway, pingpong;
};

// Both round trips in alternating blocks, so that load from elsewhere falls on both alike.
RoundTrips measure_round_trips(BenchClient& client, Ponger& ponger, const Options& o) {
    const long block = std::max(1L, o.calls / o.rounds);
    RoundTrips t;
    t.twoway.reserve(static_cast<std::size_t>(block * o.rounds));
    t.pingpong.reserve(static_cast<std::size_t>(block * o.rounds));
    for (long i = 0; i < 2000; ++i) {  // warm-up of both paths
        client.ping();
        ponger.round_trip();
    }
    for (long r = 0; r < o.rounds; ++r) {
        for (long i = 0; i < block; ++i) {
            const auto t0 = Clock::now();
            ponger.round_trip();
            t.pingpong.push_back(micros_since(t0));
        }
        for (long i = 0; i < block; ++i) {
            const auto t0 = Clock::now();
            if (client.ping() != kCallDone) fail("a two-way call failed");
            t.twoway.push_back(micros_since(t0));
        }
    }
    return t;
}

struct OneWay {
    double seconds = 0;
    long queue_full = 0;
};

// One-way calls as fast as the queue takes them, then one two-way call behind them all.
OneWay measure_oneway(BenchClient& client, long count) {
    std::int32_t before = 0;
    if (client.ticks(before) != kCallDone) fail("ticks call failed");
    OneWay w;
    const auto t0 = Clock::now();
    for (long i = 0; i < count; ++i) {
        int rc;
        while ((rc = client.tick(static_cast<std::int32_t>(i))) == kCallQueueFull) {
            ++w.queue_full;
            ::sched_yield();
        }
        if (rc != kCallDone) fail("a one-way call failed");
    }
    std::int32_t after = 0;
    if (client.ticks(after) != kCallDone) fail("ticks call failed");
    w.seconds = seconds_since(t0);
    if (after - before != count) fail("one-way calls lost");
    return w;
}

void print_figures(const RoundTrips& t, long oneway, const OneWay& w) {
    const double tw_median = percentile(t.twoway, 0.5), tw_p99 = percentile(t.twoway, 0.99);
    const double pp_median = percentile(t.pingpong, 0.5), pp_p99 = percentile(t.pingpong, 0.99);
    std::printf("calls=%zu\n", t.twoway.size());
    print("twoway_median_us", tw_median);
    print("twoway_p99_us", tw_p99);
    print("pingpong_median_us", pp_median);
    print("pingpong_p99_us", pp_p99);
    print("ratio_median", tw_median / pp_median);
    print("ratio_p99", tw_p99 / pp_p99);
    std::printf("oneway_calls=%ld\n", oneway);
    print("oneway_per_second", static_cast<double>(oneway) / w.seconds);
    std::printf("oneway_queue_full_retries=%ld\n", w.queue_full);
}

int run(const Options& o) {
    RunScope scope("ipc_bench");
    Ponger ponger;
    Children children;
    children.add(start_server());

    BenchClient client;
    if (!client.open()) fail(client.open_error());
    client.set_call_timeout(10000);
    await_server(client);
    const RoundTrips trips = measure_round_trips(client, ponger, o);
    ponger.stop();
    const OneWay oneway = measure_oneway(client, o.oneway);
    client.quit();
    print_figures(trips, o.oneway, oneway);
    children.wait_all();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (const auto status = parse(argc, argv, options)) return *status;
    return run_main("ipc_bench", [&] { return run(options); });
}
