// Soak: four client processes make mixed two-way and one-way calls on the running selector for a
// bounded time while this test drives motions and counts samples. Every two-way caller must get
// its own answer (each client owns a column and values no other client uses), no one-way call may
// be lost or left unserved (counts, types and log lines are all checked at the end), and the
// selector's resident memory must not grow.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <sstream>

#include "config/configuration_file.h"
#include "tests/system/analyser.h"

using namespace vantrel;
using namespace std::chrono_literals;

namespace {

constexpr int kClients = 4;

#if defined(__SANITIZE_ADDRESS__)
// AddressSanitizer keeps freed memory in quarantine: resident memory says nothing about leaks.
constexpr bool kMemoryComparable = false;
#else
constexpr bool kMemoryComparable = true;
#endif

class SoakTest : public test::SystemTest {};

TEST_F(SoakTest, FourClientsWhileMotionsRun) {
    // VANTREL_SOAK_SECONDS sets any other length.
    const char* length = std::getenv("VANTREL_SOAK_SECONDS");
    const int seconds = length != nullptr ? std::atoi(length) : test::scaled(10, 300);
    test::Analyser a;
    ASSERT_TRUE(a.start_ready());
    ASSERT_TRUE(a.home());
    const int pid = a.selector()->pid();

    std::vector<std::unique_ptr<test::ChildProcess>> clients;
    for (int k = 1; k <= kClients; ++k) {
        clients.push_back(std::make_unique<test::ChildProcess>(
            std::vector<std::string>{test::helper_path("system-client"), "soak", std::to_string(k),
                                     std::to_string(seconds)}));
    }

    // Motions among the columns no client owns, with samples counted where the rotor stands.
    std::mt19937 rng(1234);
    std::map<int, std::int32_t> counted{{5, 0}, {6, 0}};
    const int targets[] = {5, 6, 0};
    long rss_start = -1, anon_start = -1, moves = 0;
    const auto t0 = std::chrono::steady_clock::now();
    const auto deadline = t0 + std::chrono::seconds(seconds);
    std::string failed;  // this thread's calls that did not answer
    const auto answered = [&](int rc, const char* what) {
        if (rc != kCallDone) failed += std::string(what) + ":" + std::to_string(rc) + " ";
        return rc == kCallDone;
    };
    while (std::chrono::steady_clock::now() < deadline) {
        const int target = targets[moves++ % 3];
        ASSERT_EQ(a.vantrel().set_current_column(target), kCallDone);
        std::this_thread::sleep_for(20ms);
        bool busy = true;
        for (int polls = 0; busy && polls < 1000; ++polls) {
            if (!answered(a.vantrel().is_busy(busy), "busy")) busy = true;
            if (busy) std::this_thread::sleep_for(10ms);
        }
        std::int32_t column = -1;
        answered(a.vantrel().get_current_column(column), "column");
        ASSERT_EQ(column, target) << "move " << moves;
        if (target != 0) {
            const int n = 1 + static_cast<int>(rng() % 3);
            for (int i = 0; i < n; ++i) ASSERT_EQ(a.vantrel().increment_sample_count(), kCallDone);
            counted[target] += n;
        }
        // Taken once everything has run for a while: buffers and caches have their sizes.
        if (rss_start < 0 &&
            std::chrono::steady_clock::now() - t0 > std::chrono::seconds(seconds) / 4) {
            rss_start = test::resident_kb(pid);
            anon_start = test::resident_kb(pid, "RssAnon");
        }
    }

    // Each client's own verdict: "soak k=K twoway=N oneway=M logs=L last=V slowest_ms=T bad=B
    // codes=..."
    long twoway = 0, oneway = 0;
    std::map<int, long> logs, last;
    for (auto& client : clients) {
        const auto line = client->read_line((seconds + 60) * 1000);
        ASSERT_TRUE(line.has_value());
        int k = 0;
        long n2 = 0, n1 = 0, nlogs = 0, value = 0, slowest = 0, bad = -1;
        ASSERT_EQ(std::sscanf(line->c_str(),
                              "soak k=%d twoway=%ld oneway=%ld logs=%ld last=%ld slowest_ms=%ld "
                              "bad=%ld",
                              &k, &n2, &n1, &nlogs, &value, &slowest, &bad),
                  7)
            << *line;
        EXPECT_EQ(bad, 0) << *line;  // no wrong answer and no failed call
        twoway += n2;
        oneway += n1;
        logs[k] = nlogs;
        last[k] = value;
        EXPECT_EQ(client->wait(), 0);
    }
    const long rss_end = test::resident_kb(pid), anon_end = test::resident_kb(pid, "RssAnon");
    EXPECT_EQ(failed, "");
    std::printf(
        "soak %d s: %ld two-way and %ld one-way client calls, %ld moves, VmRSS %ld -> %ld kB, "
        "RssAnon %ld -> %ld kB\n",
        seconds, twoway, oneway, moves, rss_start, rss_end, anon_start, anon_end);

    // Every one-way call had its effect: the last count of each client, the motion counts, and
    // each log line exactly once.
    for (int k = 1; k <= kClients; ++k) EXPECT_EQ(a.sample_count(k), k * 1000000 + last[k]);
    for (const auto& [column, n] : counted) EXPECT_EQ(a.sample_count(column), n) << column;
    const std::string log = a.read("vantrel.log");
    std::map<std::string, int> seen;
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);) {
        const auto at = line.find("<Vantrel>: soak ");
        if (at != std::string::npos) ++seen[line.substr(at + 16, line.size() - at - 16 - 2)];
    }
    for (int k = 1; k <= kClients; ++k) {
        for (long i = 0; i < logs[k]; ++i) {
            const std::string key = std::to_string(k) + " " + std::to_string(i);
            ASSERT_EQ(seen[key], 1) << "log line soak " << key;
        }
    }
    long total_logs = 0;
    for (const auto& [k, n] : logs) total_logs += n;
    EXPECT_EQ(static_cast<long>(seen.size()), total_logs);

    // The statistics file agrees.
    ConfigurationFile stats;
    ASSERT_EQ(stats.load_config(a.path("columns.dat")), CONFIG_OK);
    for (int k = 1; k <= kClients; ++k) {
        std::int32_t count = -1;
        EXPECT_TRUE(stats.get("COL" + std::to_string(k) + "COUNT", count));
        EXPECT_EQ(count, k * 1000000 + last[k]);
    }

    // The private memory, not VmRSS: the pages of the shared segments (a 1 MB command queue
    // whose ring is touched page by page as records go round it) count in VmRSS as they are used.
    if (kMemoryComparable) {
        ASSERT_GT(anon_start, 0);
        EXPECT_LT(anon_end - anon_start, 256)
            << "private memory grew from " << anon_start << " to " << anon_end << " kB";
    }
    EXPECT_EQ(a.stop_selector(), 0);
}

}  // namespace
