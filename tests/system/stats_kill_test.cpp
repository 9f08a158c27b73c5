// The vantrel process killed with SIGKILL while it writes the column statistics file: counts and
// types change in a loop and the process dies at a random moment, again and again. Every time the
// file must parse, hold every column, and keep at least each value the selector had confirmed
// before the kill (a two-way call served after the write), never a value that was never sent.
#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <random>
#include <set>

#include "config/configuration_file.h"
#include "tests/system/analyser.h"

using namespace vantrel;

namespace {

constexpr int kColumns = 6;

struct Column {
    std::int32_t confirmed = 0;  // served by the selector before a later two-way call came back
    std::int32_t sent = 0;       // the last value sent
    std::int32_t on_file = 0;    // read from the file after the last kill
    std::set<std::int32_t> valid{0};  // what the file may hold: the last value on file, or one sent
};

class StatsKillTest : public test::SystemTest {};

TEST_F(StatsKillTest, KilledWhileWritingStatisticsTheFileStaysWholeAndNeverGoesBack) {
    test::Analyser analyser;
    VantrelIF& v = analyser.vantrel();
    std::mt19937 rng(std::random_device{}());
    std::array<Column, kColumns + 1> columns{};
    std::int32_t next_value = 0;
    const int rounds = test::scaled(20, 200);
    const std::string stats = analyser.path("columns.dat");

    for (int round = 0; round < rounds; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        v.set_call_timeout(5000);
        ASSERT_TRUE(analyser.start_ready());
        // The selector starts from what the file holds.
        for (int c = 1; c <= kColumns; ++c) ASSERT_EQ(analyser.sample_count(c), columns[c].on_file);

        // Changes as fast as the selector takes them (each one rewrites the file), with a two-way
        // call now and then that confirms everything before it.
        v.set_call_timeout(500);
        const int changes = 5 + static_cast<int>(rng() % 60);
        for (int i = 0; i < changes; ++i) {
            const int c = 1 + static_cast<int>(rng() % kColumns);
            const std::int32_t value = ++next_value;
            if (rng() % 4 == 0) {
                ASSERT_EQ(v.set_column_type(c, "type " + std::to_string(value)), kCallDone);
            }
            ASSERT_EQ(v.set_sample_count(c, value), kCallDone);
            columns[c].sent = value;
            columns[c].valid.insert(value);
            if (rng() % 8 == 0) {
                std::int32_t answer = -1;
                if (v.get_sample_count(c, answer) == kCallDone && answer == value) {
                    for (auto& col : columns) col.confirmed = col.sent;
                }
            }
        }
        // Let the selector get some way into the queue, then kill it mid-work.
        std::this_thread::sleep_for(std::chrono::microseconds(rng() % 30000));
        analyser.kill_selector();

        ConfigurationFile file;
        ASSERT_NO_THROW(ASSERT_EQ(file.load_config(stats), CONFIG_OK));
        ASSERT_TRUE(file.last_load_complete());
        for (int c = 1; c <= kColumns; ++c) {
            SCOPED_TRACE("column " + std::to_string(c));
            std::string type;
            std::int32_t count = -1;
            ASSERT_TRUE(file.get("COL" + std::to_string(c) + "TYPE", type));
            ASSERT_TRUE(file.get("COL" + std::to_string(c) + "COUNT", count));
            Column& col = columns[c];
            EXPECT_GE(count, col.confirmed);
            EXPECT_GE(count, col.on_file);
            EXPECT_LE(count, col.sent);
            EXPECT_EQ(col.valid.count(count), 1u) << count << " was never sent to this column";
            col.on_file = col.confirmed = col.sent = count;
            col.valid = {count};
        }
    }
    // Files left by writes that the kill interrupted: they never replace the statistics file.
    int leftovers = 0;
    for (const auto& entry : std::filesystem::directory_iterator(analyser.dir()))
        if (entry.path().filename().string().rfind(".cfgtmp-", 0) == 0) ++leftovers;
    std::printf("%d kills, %d temporary files left by interrupted writes\n", rounds, leftovers);
}

}  // namespace
