// gateway_bench: what vantrel-gateway costs and gives, against baselines in the same run.
//
//   gateway_bench [--requests N] [--runs M] [--connections C] [--seconds S]
//
// Brings up the simulated analyser with vantrel-sim in a temporary directory and an IPC scope of
// its own (vantrel-sim starts vantrel-gateway with it), resets and homes the selector, then
// measures:
//  - the latency of GET /api/v1/status over one keep-alive connection (N requests) against
//    `vantrelctl --json status` run as a process (M runs), the way a script gets the same answer
//    without the gateway, and against reading the same snapshot in this process (N reads, the
//    calls alone). The three alternate in blocks so that outside load falls on all alike.
//    Medians, 99th percentiles and ratios are printed;
//  - requests per second of GET /api/v1/status with C concurrent keep-alive clients for S
//    seconds, measured by wrk (2 threads), with wrk's latency percentiles and its count of
//    answers that were not 2xx;
//  - the selector's own call rate (two-way calls it completes per second, read from its
//    interface's completion counter) while the gateway is idle, and while wrk loads it: the
//    poller's calls are the same however many clients read.
// Prints one `name=value` line per figure.

#include <httplib.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "benchmarks/support/figures.h"
#include "benchmarks/support/processes.h"
#include "benchmarks/support/run.h"
#include "interface/clients.h"
#include "platform/clock.h"
#include "tools/client/command_line.h"
#include "tools/client/selector.h"

using namespace vantrel;
using namespace vantrel::bench;

namespace {

std::string capture(const std::string& command) {
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
    if (!pipe) fail("cannot run " + command);
    std::string out;
    char chunk[4096];
    for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, pipe.get())) > 0;)
        out.append(chunk, n);
    return out;
}

// name=value to four significant digits, out at once: the run is long.
void print_figure(const std::string& name, double value) {
    std::printf("%s=%.4g\n", name.c_str(), value);
    std::fflush(stdout);
}

// Two-way calls the selector completes per second over `seconds`.
double call_rate(VantrelIF& selector, double seconds) {
    const std::int32_t first = selector.completed_call_id();
    const auto start = Clock::now();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    const std::int32_t last = selector.completed_call_id();
    return static_cast<std::uint32_t>(last - first) / seconds_since(start);
}

struct Options {
    int requests = 2000;
    int runs = 100;
    int connections = 64;
    int seconds = 10;
};

std::optional<int> parse(int argc, char** argv, Options& o) {
    CLI::App app(
        "vantrel-gateway's status latency against vantrelctl status, its requests per "
        "second under wrk's load, and the selector's call rate with and without it.",
        "gateway_bench");
    app.add_option("--requests", o.requests, "status requests through the gateway")
        ->transform(ctl::whole_number(1));
    app.add_option("--runs", o.runs, "runs of vantrelctl --json status")
        ->transform(ctl::whole_number(1));
    app.add_option("--connections", o.connections, "wrk's concurrent keep-alive clients")
        ->transform(ctl::whole_number(1));
    app.add_option("--seconds", o.seconds, "how long wrk loads the gateway")
        ->transform(ctl::whole_number(1));
    return parse_command_line(app, argc, argv);
}

// Resets the selector, waits until it is READY, then homes it.
void make_ready_and_homed(VantrelIF& selector) {
    if (!selector.open()) fail("cannot open \"Vantrel\"");
    selector.set_own_timeout(2000);
    selector.reset();
    std::int32_t state = 0;
    for (int i = 0; i < 100 && state != 1; ++i) {
        platform::sleep_ms(50);
        selector.get_state(state);
    }
    ctl::WaitOptions wait;
    wait.requested = 1;
    if (state != 1 || selector.home() != 0 ||
        ctl::wait_for_motion(selector, wait, {}).kind != ctl::WaitOutcome::reached)
        fail("the selector did not become ready and homed");
}

// The port of the gateway vantrel-sim started, as it told.
int gateway_port(const SimulatedAnalyser& analyser) {
    std::smatch m;
    const std::string said = text_of(analyser.path("gateway.out"));
    if (std::regex_search(said, m, std::regex(" at http://127\\.0\\.0\\.1:([0-9]+)/")))
        if (const int port = std::stoi(m[1].str()); port != 0) return port;
    fail("vantrel-sim started no gateway:\n" + said);
}

// A keep-alive client of the gateway, once the gateway answers (or after 5 s).
std::unique_ptr<httplib::Client> connect(int port) {
    auto http = std::make_unique<httplib::Client>("127.0.0.1", port);
    http->set_keep_alive(true);
    http->set_tcp_nodelay(true);
    for (int i = 0; i < 100; ++i) {
        auto r = http->Get("/api/v1/status");
        if (r && r->status == 200) break;
        platform::sleep_ms(50);
    }
    return http;
}

// The status's latency through the gateway, through vantrelctl and in this process, in
// alternating blocks.
void measure_latency(httplib::Client& http, VantrelIF& selector, const Options& o) {
    const std::string vantrelctl = own_dir() + "/vantrelctl";
    std::vector<double> via_gateway, via_vantrelctl, direct;
    constexpr int kBlocks = 10;
    for (int block = 0; block < kBlocks; ++block) {
        for (int i = 0; i < o.requests / kBlocks; ++i) {
            const auto start = Clock::now();
            auto r = http.Get("/api/v1/status");
            if (!r || r->status != 200) fail("GET /api/v1/status failed");
            via_gateway.push_back(micros_since(start));
        }
        for (int i = 0; i < o.requests / kBlocks; ++i) {
            ctl::Snapshot s;
            std::string failed;
            const auto start = Clock::now();
            if (ctl::read_snapshot(selector, s, failed) != 0)
                fail("reading the snapshot failed at " + failed);
            direct.push_back(micros_since(start));
        }
        for (int i = 0; i < std::max(1, o.runs / kBlocks); ++i) {
            const auto start = Clock::now();
            if (run_program({vantrelctl, "--json", "status"}) != 0)
                fail("vantrelctl status failed");
            via_vantrelctl.push_back(micros_since(start));
        }
    }
    const double g50 = percentile(via_gateway, 0.5), g99 = percentile(via_gateway, 0.99);
    const double c50 = percentile(via_vantrelctl, 0.5), c99 = percentile(via_vantrelctl, 0.99);
    const double d50 = percentile(direct, 0.5), d99 = percentile(direct, 0.99);
    print_figure("gateway_status_median_us", g50);
    print_figure("gateway_status_p99_us", g99);
    print_figure("vantrelctl_status_median_us", c50);
    print_figure("vantrelctl_status_p99_us", c99);
    print_figure("snapshot_in_process_median_us", d50);
    print_figure("snapshot_in_process_p99_us", d99);
    print_figure("gateway_to_vantrelctl_ratio_median", g50 / c50);
    print_figure("gateway_to_snapshot_ratio_median", g50 / d50);
}

// wrk's figures from its report.
void print_wrk_figures(const std::string& report, int connections) {
    std::smatch m;
    if (!std::regex_search(report, m, std::regex("Requests/sec:\\s+([0-9.]+)")))
        fail("no figures from wrk:\n" + report);
    print_figure("wrk_connections", connections);
    print_figure("wrk_requests_per_second", std::stod(m[1].str()));
    for (const char* p : {"50", "99"}) {
        if (std::regex_search(report, m,
                              std::regex(std::string("\\s") + p + "%\\s+([0-9.]+)(us|ms|s)"))) {
            const double scale = m[2] == "us" ? 1.0 : m[2] == "ms" ? 1000.0 : 1e6;
            print_figure(std::string("wrk_latency_p") + p + "_us", std::stod(m[1].str()) * scale);
        }
    }
    const bool non2xx =
        std::regex_search(report, m, std::regex("Non-2xx or 3xx responses: ([0-9]+)"));
    print_figure("wrk_non_2xx", non2xx ? std::stod(m[1].str()) : 0.0);
}

// The selector's call rate, idle and while wrk loads the gateway.
void measure_load(httplib::Client& http, VantrelIF& selector, int port, const Options& o) {
    const double idle_rate = call_rate(selector, 5.0);
    // wrk stands for clients on other machines: it must not take the analyser's processor time on
    // this one, so it runs at the lowest priority.
    const std::string wrk = "nice -n 19 wrk -t2 -c" + std::to_string(o.connections) + " -d" +
                            std::to_string(o.seconds) +
                            "s --latency http://127.0.0.1:" + std::to_string(port) +
                            "/api/v1/status 2>&1";
    double loaded_rate = 0.0;
    std::thread measure([&] {
        platform::sleep_ms(1000);
        loaded_rate = call_rate(selector, o.seconds - 2.0);
    });
    const std::string report = capture(wrk);
    measure.join();
    print_wrk_figures(report, o.connections);
    // What the gateway counted meanwhile: polls that went unanswered turn the status to 503.
    std::smatch m;
    const std::string metrics = http.Get("/metrics")->body;
    if (std::regex_search(metrics, m, std::regex("vantrel_gateway_calls_failed_total ([0-9]+)")))
        print_figure("gateway_calls_failed", std::stod(m[1].str()));
    print_figure("selector_calls_per_second_idle", idle_rate);
    print_figure("selector_calls_per_second_loaded", loaded_rate);
    print_figure("selector_call_rate_ratio_loaded_to_idle", loaded_rate / idle_rate);
}

int run(const Options& o) {
    RunScope scope("gateway-bench");
    // vantrel-sim starts the gateway with the analyser.
    SimulatedAnalyser analyser("vantrel-gateway-bench", {"--grace", "5"});
    VantrelIF selector("Vantrel");
    make_ready_and_homed(selector);
    const int port = gateway_port(analyser);
    const auto http = connect(port);
    measure_latency(*http, selector, o);
    measure_load(*http, selector, port, o);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (const auto status = parse(argc, argv, options)) return *status;
    return run_main("gateway_bench", [&] { return run(options); });
}
