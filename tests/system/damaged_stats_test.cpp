// Column statistics files with every kind of damage, given to the vantrel program: a clear
// message, the documented result (the initialisation fails), no crash, and never a rewrite that
// loses what the file held.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>

#include "config/configuration_file.h"
#include "tests/system/analyser.h"
#include "tests/system/damage.h"

using namespace vantrel;
using namespace vantrel::test;

namespace {

class DamagedStatsTest : public test::SystemTest {
  protected:
    DamagedStatsTest() : a_({.log_server = false, .supervisor = false}) {}

    // Statistics: the selector starts on the file `text`, is reset, and the state it reaches is
    // returned. The file is then given every chance to be written: the writing operations and the
    // orderly end of the process.
    int run_on_stats(const std::string& text) {
        a_.write("columns.dat", text);
        a_.start_selector();
        EXPECT_TRUE(a_.wait_state(0));
        EXPECT_EQ(a_.vantrel().reset(), kCallDone);
        int state = -1;
        EXPECT_TRUE(test::eventually([&] {
            std::int32_t s = -1;
            if (a_.vantrel().get_state(s) != kCallDone || (s != 1 && s != 3)) return false;
            state = s;
            return true;
        }));
        return state;
    }
    void write_everything_and_stop() {
        a_.vantrel().set_sample_count(1, 77);
        a_.vantrel().set_column_type(2, "changed");
        a_.vantrel().reset_sample_count(3);
        EXPECT_EQ(a_.stop_selector(), 0);
    }

    test::Analyser a_;
};

TEST_F(DamagedStatsTest, UnreadableStatisticsFailTheInitialisationAndAreNeverWritten) {
    const std::string good = stats_text();
    const struct {
        const char* what;
        std::string text;
        std::string cause;
    } cases[] = {
        {"truncated mid-entry", good.substr(0, good.find("COL4TYPE") + 5), "initialize_ failed: "},
        {"a stray line",
         good.substr(0, good.find("COL4TYPE")) + "5 stray words\n" +
             good.substr(good.find("COL4TYPE")),
         "initialize_ failed: persistent data file " + a_.path("columns.dat") +
             " could not be read to its end"},
        {"binary", random_bytes(3000, 3), "initialize_ failed: "},
        {"binary inside", good.substr(0, 40) + random_bytes(64, 4) + good.substr(40),
         "initialize_ failed: "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(run_on_stats(c.text), 3);
        EXPECT_TRUE(a_.logged(c.cause)) << a_.read("vantrel.log");
        write_everything_and_stop();
        EXPECT_EQ(a_.read("columns.dat"), c.text);
    }
    // A directory or a FIFO where the file should be: refused at once, with the cause.
    const std::string stats = a_.path("columns.dat");
    for (const std::string kind : {"a directory", "a FIFO"}) {
        SCOPED_TRACE(kind);
        ::unlink(stats.c_str());
        ASSERT_EQ(kind == "a FIFO" ? ::mkfifo(stats.c_str(), 0600) : ::mkdir(stats.c_str(), 0700),
                  0);
        a_.start_selector();
        ASSERT_TRUE(a_.wait_state(0));
        ASSERT_EQ(a_.vantrel().reset(), kCallDone);
        EXPECT_TRUE(a_.wait_state(3));
        EXPECT_TRUE(a_.logged("initialize_ failed: can't read persistent data file " + stats +
                              ": not a regular file (" + kind + ")"))
            << a_.read("vantrel.log");
        write_everything_and_stop();
        ::rmdir(stats.c_str());
    }
}

TEST_F(DamagedStatsTest, StatisticsLackingEntriesKeepEveryValueTheyHeld) {
    // A missing or mistyped entry fails the initialisation with its key. The next write adds the
    // missing entries, and every value the file did hold stays as it was.
    const std::string good = stats_text();
    const struct {
        const char* what;
        std::string text;
        const char* key;
    } cases[] = {
        {"truncated at a line", good.substr(0, good.find("COL4TYPE")), "COL4TYPE"},
        {"one entry missing", without_line(good, "COL4TYPE"), "COL4TYPE"},
        {"a count as text", replaced_line(good, "COL2COUNT", "COL2COUNT = \"twenty\";"),
         "COL2COUNT"},
        {"a count as real", replaced_line(good, "COL5COUNT", "COL5COUNT = 50.0;"), "COL5COUNT"},
        {"a type as integer", replaced_line(good, "COL3TYPE", "COL3TYPE = 3;"), "COL3TYPE"},
        {"empty", "", "COL1TYPE"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(run_on_stats(c.text), 3);
        EXPECT_TRUE(a_.logged(std::string("initialize_ failed: persistent data file missing ") +
                              c.key + " definition"))
            << a_.read("vantrel.log");
        EXPECT_EQ(a_.stop_selector(), 0);
        // Every entry the file held is still there with its value (the orderly end wrote it).
        ConfigurationFile before, after;
        a_.write("before.dat", c.text);
        ASSERT_EQ(before.load_config(a_.path("before.dat")), CONFIG_OK);
        ASSERT_EQ(after.load_config(a_.path("columns.dat")), CONFIG_OK);
        for (const ConfigValue& entry : before.entries()) {
            const auto found =
                std::find_if(after.entries().begin(), after.entries().end(),
                             [&](const ConfigValue& e) { return e.to_text() == entry.to_text(); });
            EXPECT_NE(found, after.entries().end()) << entry.to_text() << " was lost";
        }
    }
}

TEST_F(DamagedStatsTest, HugeAndDuplicatedStatisticsAreReadAndKeptWhole) {
    std::string text = stats_text();
    text += "COL1COUNT = 99;\nCOL2TYPE = \"second\";\n";  // duplicates: the first entries count
    for (int i = 0; i < 100000; ++i)
        text += "OTHER" + std::to_string(i) + " = " + std::to_string(i) + ";\n";
    text += "COL9TYPE = \"beyond\";\nCOL9COUNT = 900;\n";  // a column this rotor does not have
    ASSERT_EQ(run_on_stats(text), 1);
    EXPECT_EQ(a_.sample_count(1), 10);
    std::string type;
    ASSERT_EQ(a_.vantrel().get_column_type(2, type), kCallDone);
    EXPECT_EQ(type, "t2");
    a_.vantrel().set_sample_count(1, 11);
    ASSERT_EQ(a_.sample_count(1), 11);
    EXPECT_EQ(a_.stop_selector(), 0);

    ConfigurationFile after;
    ASSERT_EQ(after.load_config(a_.path("columns.dat")), CONFIG_OK);
    ASSERT_EQ(after.entries().size(), 12u + 2u + 100000u + 2u);
    std::int32_t count = 0;
    EXPECT_TRUE(after.get("COL1COUNT", count));
    EXPECT_EQ(count, 11);
    EXPECT_EQ(after.entries()[12].to_text(), "COL1COUNT=99;");
    EXPECT_EQ(after.entries().back().to_text(), "COL9COUNT=900;");
}

}  // namespace
