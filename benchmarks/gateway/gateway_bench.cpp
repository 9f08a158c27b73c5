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

#include <fcntl.h>
#include <httplib.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <regex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "interface/clients.h"
#include "platform/clock.h"
#include "tools/client/selector.h"

extern char** environ;

using namespace vantrel;
using Clock = std::chrono::steady_clock;

namespace {

std::string bin_dir() {
    return std::filesystem::read_symlink("/proc/self/exe").parent_path().string();
}

// Runs a program to its end with its output thrown away; its exit status.
int run_quietly(const std::vector<std::string>& argv) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) throw std::runtime_error("cannot start " + argv[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}

std::string capture(const std::string& command) {
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
    if (!pipe) throw std::runtime_error("cannot run " + command);
    std::string out;
    char chunk[4096];
    for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, pipe.get())) > 0;)
        out.append(chunk, n);
    return out;
}

double percentile(std::vector<double> samples, double p) {
    std::sort(samples.begin(), samples.end());
    return samples[std::min(samples.size() - 1, static_cast<std::size_t>(p * samples.size()))];
}

void print(const char* name, double value) {
    std::printf("%s=%.4g\n", name, value);
    std::fflush(stdout);
}

double micros_since(Clock::time_point start) {
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

// Two-way calls the selector completes per second over `seconds`.
double call_rate(VantrelIF& selector, double seconds) {
    const std::int32_t first = selector.completed_call_id();
    const auto start = Clock::now();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    const std::int32_t last = selector.completed_call_id();
    return static_cast<std::uint32_t>(last - first) /
           std::chrono::duration<double>(Clock::now() - start).count();
}

struct Args {
    int requests = 2000;
    int runs = 100;
    int connections = 64;
    int seconds = 10;
};

Args parse(int argc, char** argv) {
    Args a;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        const int value = std::atoi(argv[i + 1]);
        if (value <= 0) throw std::runtime_error(name + " takes a positive number");
        if (name == "--requests")
            a.requests = value;
        else if (name == "--runs")
            a.runs = value;
        else if (name == "--connections")
            a.connections = value;
        else if (name == "--seconds")
            a.seconds = value;
        else
            throw std::runtime_error("unknown option " + name);
    }
    return a;
}

}  // namespace

int main(int argc, char** argv) {
    const Args args = parse(argc, argv);
    const std::string bin = bin_dir();
    char tmpl[] = "/tmp/vantrel-gateway-bench-XXXXXX";
    if (::mkdtemp(tmpl) == nullptr) return 1;
    const std::string dir = tmpl;
    ::setenv("VANTREL_IPC_SCOPE", ("gateway-bench-" + std::to_string(::getpid())).c_str(), 1);
    int status = 0;
    try {
        if (run_quietly({bin + "/vantrel-sim", "up", dir + "/sim"}) != 0)
            throw std::runtime_error("vantrel-sim up failed");
        VantrelIF selector("Vantrel");
        if (!selector.open()) throw std::runtime_error("cannot open \"Vantrel\"");
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
            throw std::runtime_error("the selector did not become ready and homed");

        // The gateway vantrel-sim started, on the port it tells.
        int port = 0;
        std::smatch m;
        const std::string said = capture("cat " + dir + "/sim/gateway.out");
        if (std::regex_search(said, m, std::regex(" at http://127\\.0\\.0\\.1:([0-9]+)/")))
            port = std::stoi(m[1].str());
        if (port == 0) throw std::runtime_error("vantrel-sim started no gateway:\n" + said);
        httplib::Client http("127.0.0.1", port);
        http.set_keep_alive(true);
        http.set_tcp_nodelay(true);
        for (int i = 0; i < 100; ++i) {
            auto r = http.Get("/api/v1/status");
            if (r && r->status == 200) break;
            platform::sleep_ms(50);
        }

        // Latency, in alternating blocks.
        std::vector<double> via_gateway, via_vantrelctl, direct;
        constexpr int kBlocks = 10;
        for (int block = 0; block < kBlocks; ++block) {
            for (int i = 0; i < args.requests / kBlocks; ++i) {
                const auto start = Clock::now();
                auto r = http.Get("/api/v1/status");
                if (!r || r->status != 200) throw std::runtime_error("GET /api/v1/status failed");
                via_gateway.push_back(micros_since(start));
            }
            for (int i = 0; i < args.requests / kBlocks; ++i) {
                ctl::Snapshot s;
                std::string failed;
                const auto start = Clock::now();
                if (ctl::read_snapshot(selector, s, failed) != 0)
                    throw std::runtime_error("reading the snapshot failed at " + failed);
                direct.push_back(micros_since(start));
            }
            for (int i = 0; i < std::max(1, args.runs / kBlocks); ++i) {
                const auto start = Clock::now();
                if (run_quietly({bin + "/vantrelctl", "--json", "status"}) != 0)
                    throw std::runtime_error("vantrelctl status failed");
                via_vantrelctl.push_back(micros_since(start));
            }
        }
        const double g50 = percentile(via_gateway, 0.5), g99 = percentile(via_gateway, 0.99);
        const double c50 = percentile(via_vantrelctl, 0.5), c99 = percentile(via_vantrelctl, 0.99);
        const double d50 = percentile(direct, 0.5), d99 = percentile(direct, 0.99);
        print("gateway_status_median_us", g50);
        print("gateway_status_p99_us", g99);
        print("vantrelctl_status_median_us", c50);
        print("vantrelctl_status_p99_us", c99);
        print("snapshot_in_process_median_us", d50);
        print("snapshot_in_process_p99_us", d99);
        print("gateway_to_vantrelctl_ratio_median", g50 / c50);
        print("gateway_to_snapshot_ratio_median", g50 / d50);

        // The selector's call rate, idle and under load.
        const double idle_rate = call_rate(selector, 5.0);
        // wrk stands for clients on other machines: it must not take the analyser's processor
        // time on this one, so it runs at the lowest priority.
        const std::string wrk = "nice -n 19 wrk -t2 -c" + std::to_string(args.connections) + " -d" +
                                std::to_string(args.seconds) +
                                "s --latency http://127.0.0.1:" + std::to_string(port) +
                                "/api/v1/status 2>&1";
        double loaded_rate = 0.0;
        std::thread measure([&] {
            platform::sleep_ms(1000);
            loaded_rate = call_rate(selector, args.seconds - 2.0);
        });
        const std::string report = capture(wrk);
        measure.join();
        if (!std::regex_search(report, m, std::regex("Requests/sec:\\s+([0-9.]+)")))
            throw std::runtime_error("no figures from wrk:\n" + report);
        print("wrk_connections", args.connections);
        print("wrk_requests_per_second", std::stod(m[1].str()));
        for (const char* p : {"50", "99"}) {
            if (std::regex_search(report, m,
                                  std::regex(std::string("\\s") + p + "%\\s+([0-9.]+)(us|ms|s)"))) {
                const double scale = m[2] == "us" ? 1.0 : m[2] == "ms" ? 1000.0 : 1e6;
                print((std::string("wrk_latency_p") + p + "_us").c_str(),
                      std::stod(m[1].str()) * scale);
            }
        }
        const bool non2xx =
            std::regex_search(report, m, std::regex("Non-2xx or 3xx responses: ([0-9]+)"));
        print("wrk_non_2xx", non2xx ? std::stod(m[1].str()) : 0.0);
        // What the gateway counted meanwhile: polls that went unanswered turn the status to 503.
        const std::string metrics = http.Get("/metrics")->body;
        if (std::regex_search(metrics, m,
                              std::regex("vantrel_gateway_calls_failed_total ([0-9]+)")))
            print("gateway_calls_failed", std::stod(m[1].str()));
        print("selector_calls_per_second_idle", idle_rate);
        print("selector_calls_per_second_loaded", loaded_rate);
        print("selector_call_rate_ratio_loaded_to_idle", loaded_rate / idle_rate);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "gateway_bench: %s\n", e.what());
        status = 1;
    }
    run_quietly({bin + "/vantrel-sim", "down", "--grace", "5", dir + "/sim"});
    std::filesystem::remove_all(dir);
    return status;
}
