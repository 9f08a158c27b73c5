// The settings record and the column statistics file.
#include "selector/column_stats.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "config/configuration_file.h"
#include "platform/exception.h"
#include "selector/vantrel_params.h"
#include "tests/support/files.h"

using namespace vantrel;
namespace fs = std::filesystem;

namespace {

using test::slurp;

TEST(VantrelParams, ColumnAccessorsHonourTheCapacity) {
    VantrelParams p;
    p.set_capacity(6);
    p.set_column_type(6, "C18");
    p.set_column_type(7, "never");
    p.set_sample_count(0, 5);
    p.set_sample_count(3, 9);
    EXPECT_EQ(p.column_type(6), "C18");
    EXPECT_EQ(p.column_type(7), "");
    EXPECT_EQ(p.column_type(0), "");
    EXPECT_EQ(p.sample_count(3), 9);
    EXPECT_EQ(p.sample_count(0), 0);
    p.set_capacity(12);
    EXPECT_EQ(p.column_type(7), "");  // the refused store did not happen
    EXPECT_EQ(p.sample_limit(), 10000000);
}

TEST(VantrelParams, PositionIndexMustLieWithinTheRotor) {
    VantrelParams p;
    p.set_capacity(6);
    p.set_position(1, 1000);
    EXPECT_EQ(p.position(0), 0);  // no entry reads 0
    EXPECT_EQ(p.position(1), 1000);
    EXPECT_NO_THROW(p.position(6));
    for (int bad : {-1, 7}) {
        try {
            p.position(bad);
            FAIL() << bad;
        } catch (const Exception& e) {
            EXPECT_EQ(e.message(), "VantrelParams::position ERROR, invalid position index");
        }
    }
}

class ColumnStatsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        path_ = dir_ + "/stats/columns.dat";
        params_.set_stats_path(path_);
        params_.set_capacity(6);
    }

    void write_file(const std::string& text) {
        fs::create_directories(dir_ + "/stats");
        std::ofstream(path_, std::ios::binary) << text;
    }
    static std::string full_file(int columns) {
        std::string text;
        for (int i = 1; i <= columns; ++i)
            text += "COL" + std::to_string(i) + "TYPE = \"t" + std::to_string(i) + "\";\nCOL" +
                    std::to_string(i) + "COUNT = " + std::to_string(i * 10) + ";\n";
        return text;
    }

    test::TempDir temp_;
    const std::string dir_ = temp_.path();
    std::string path_;
    VantrelParams params_;
    std::vector<std::string> log_;
    ColumnStats stats_{params_, [this](const std::string& line) { log_.push_back(line); }};
};

TEST_F(ColumnStatsTest, FirstStartCreatesTheFileWithEveryEntryInOrder) {
    stats_.open();
    ASSERT_FALSE(log_.empty());
    EXPECT_EQ(log_[0], "Creating stats file " + path_);
    EXPECT_EQ(log_[1], "persistent data file missing COL1TYPE definition");
    EXPECT_EQ(log_[2], "persistent data file missing COL1COUNT definition");
    EXPECT_EQ(log_.size(), 1u + 12u);
    ConfigurationFile check;
    ASSERT_EQ(check.load_config(path_), 0);
    ASSERT_EQ(check.entries().size(), 12u);
    EXPECT_EQ(check.entries()[0].name(), "COL1TYPE");
    EXPECT_EQ(check.entries()[11].name(), "COL6COUNT");
    std::int32_t count = -1;
    EXPECT_TRUE(check.get("COL6COUNT", count));
    EXPECT_EQ(count, 0);
}

TEST_F(ColumnStatsTest, ColumnsBeyondTheCapacityAndOtherEntriesSurviveEveryWrite) {
    write_file("NOTE = \"kept\";\n" + full_file(12));
    stats_.open();
    EXPECT_EQ(params_.column_type(3), "t3");
    EXPECT_EQ(params_.sample_count(6), 60);
    params_.set_sample_count(5, 12);
    stats_.write();
    ConfigurationFile check;
    ASSERT_EQ(check.load_config(path_), 0);
    std::int32_t n = 0;
    std::string s;
    EXPECT_TRUE(check.get("COL5COUNT", n));
    EXPECT_EQ(n, 12);
    EXPECT_TRUE(check.get("COL12COUNT", n));
    EXPECT_EQ(n, 120);
    EXPECT_TRUE(check.get("NOTE", s));
    EXPECT_EQ(s, "kept");
}

TEST_F(ColumnStatsTest, MissingOrMistypedEntryFailsTheOpenNamingTheFirstKey) {
    write_file(full_file(6));
    params_.set_capacity(12);
    try {
        stats_.open();
        FAIL();
    } catch (const Exception& e) {
        EXPECT_EQ(e.message(), "persistent data file missing COL7TYPE definition");
    }
    params_.set_capacity(6);
    write_file("COL1TYPE = \"a\";\nCOL1COUNT = 3.0;\n");
    try {
        stats_.open();
        FAIL();
    } catch (const Exception& e) {
        EXPECT_EQ(e.message(), "persistent data file missing COL1COUNT definition");
    }
}

TEST_F(ColumnStatsTest, AFileThatFailsToParseIsNeverWrittenBack) {
    // Damage in the middle: the store would keep only the entries before it.
    std::string text = full_file(6);
    text.insert(text.find("COL4TYPE"), "COL3X = ;\n");
    write_file(text);
    const std::string before = slurp(path_);
    EXPECT_THROW(stats_.open(), Exception);
    params_.set_sample_count(1, 99);
    stats_.write();
    EXPECT_EQ(slurp(path_), before);
    EXPECT_NE(log_.back().find("not written"), std::string::npos);
    // Repaired by hand, the next open reads it and writing resumes.
    write_file(full_file(6));
    stats_.open();
    params_.set_sample_count(1, 99);
    stats_.write();
    ConfigurationFile check;
    ASSERT_EQ(check.load_config(path_), 0);
    std::int32_t n = 0;
    EXPECT_TRUE(check.get("COL1COUNT", n));
    EXPECT_EQ(n, 99);
}

TEST_F(ColumnStatsTest, AFileWhoseReadingStopsEarlyIsNeverWrittenBack) {
    // A line starting with a number ends the reading silently: columns 4 to 6 would be lost.
    std::string text = full_file(6);
    text.insert(text.find("COL4TYPE"), "5 stray words\n");
    write_file(text);
    try {
        stats_.open();
        FAIL();
    } catch (const Exception& e) {
        EXPECT_EQ(e.message(), "persistent data file " + path_ + " could not be read to its end");
    }
    params_.set_sample_count(1, 99);
    stats_.write();
    EXPECT_EQ(slurp(path_), text);
}

TEST_F(ColumnStatsTest, AFileReadToAStrayLineAfterEveryColumnIsKeptAsItWasThenWrittenWhole) {
    const std::string text = full_file(6) + ";\nNOTE = \"after the stray line\";\n";
    write_file(text);
    stats_.open();
    EXPECT_EQ(params_.sample_count(6), 60);
    std::vector<std::string> kept;
    for (const auto& entry : fs::directory_iterator(dir_ + "/stats"))
        if (entry.path().filename().string().rfind("columns.dat.unread-", 0) == 0)
            kept.push_back(entry.path().string());
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(slurp(kept[0]), text);
    EXPECT_NE(std::find(log_.begin(), log_.end(),
                        "persistent data file " + path_ +
                            " was not read to its end; the original is kept as " + kept[0]),
              log_.end());
    ConfigurationFile check;
    ASSERT_EQ(check.load_config(path_), 0);
    EXPECT_TRUE(check.last_load_complete());
    EXPECT_EQ(check.entries().size(), 12u);
}

TEST_F(ColumnStatsTest, AnEntryOfAnotherTypeStopsEveryWriteAMissingOneIsAddedOnce) {
    std::string real_count = full_file(6);
    real_count.replace(real_count.find("COL5COUNT = 50"), 14, "COL5COUNT = 50.0");
    const struct {
        const char* what;
        std::string text;
        int capacity;
        bool written;
    } cases[] = {{"a count as a real", real_count, 6, false},
                 {"six columns on a twelve-column rotor", full_file(6), 12, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        write_file(c.text);
        params_.set_capacity(c.capacity);
        log_.clear();
        EXPECT_THROW(stats_.open(), Exception);
        stats_.write();
        stats_.write();
        if (!c.written) {
            EXPECT_EQ(slurp(path_), c.text);
            EXPECT_EQ(std::count(log_.begin(), log_.end(),
                                 "persistent data not written: " + path_ +
                                     " holds COL5COUNT of another type"),
                      2);
            continue;
        }
        ConfigurationFile check;
        ASSERT_EQ(check.load_config(path_), 0);
        EXPECT_EQ(check.entries().size(), 24u);
        EXPECT_NO_THROW(stats_.open());
    }
}

// The file size limit stands in for a full disk.
TEST_F(ColumnStatsTest, AWriteThatFailsIsLoggedWithItsCauseAndTriedAgain) {
    write_file(full_file(6));
    stats_.open();
    const std::string before = slurp(path_);
    struct rlimit old_limit {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old_limit), 0);
    const auto old_handler = ::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old_limit;
    small.rlim_cur = 16;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    params_.set_sample_count(5, 77);
    stats_.write();
    ::setrlimit(RLIMIT_FSIZE, &old_limit);
    ::signal(SIGXFSZ, old_handler);
    EXPECT_EQ(slurp(path_), before);
    ASSERT_FALSE(log_.empty());
    EXPECT_EQ(log_.back(), "persistent data not written: " + path_ + ": " + std::strerror(EFBIG));

    stats_.write();
    ConfigurationFile check;
    ASSERT_EQ(check.load_config(path_), 0);
    std::int32_t count = 0;
    EXPECT_TRUE(check.get("COL5COUNT", count));
    EXPECT_EQ(count, 77);
}

}  // namespace
