// The main loop cycle by cycle on the virtual clock, and the level filter of log_msg.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "component/component.h"
#include "component/component_ifs.h"
#include "platform/clock.h"
#include "platform/exception.h"
#include "tests/support/files.h"
#include "tests/support/ipc_test.h"

using namespace vantrel;
namespace fs = std::filesystem;

namespace {

class CountingComponent : public Component {
  public:
    CountingComponent(const std::string& dir, const std::string& config_text)
        : Component("Counting", dir + "/counting.log", dir + "/counting.cfg") {
        std::ofstream(dir + "/counting.cfg") << config_text;
        int status = 0;
        load_config(dir + "/counting.cfg", status);
        if (status != 0) throw Exception("test configuration did not load");
        set_iserver(std::make_unique<ComponentIFS>("Counting", this));
    }
    void update() override { ++updates; }
    int updates = 0;
};

class ComponentCycleTest : public test::IpcTest {
  protected:
    std::string log_text() {
        std::ifstream in(dir_ + "/counting.log", std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    vantrel::test::TempDir temp_;
    const std::string dir_ = temp_.path();
    platform::VirtualClock clock_;
};

TEST_F(ComponentCycleTest, UpdateRunsOnlyWhenStrictlyMoreThanOnePeriodHasPassed) {
    platform::ScopedClock use(clock_);
    CountingComponent c(dir_, "FREQ = 2.0;\nLOGSERVERIF = \"NoLogServer\";\n");
    EXPECT_DOUBLE_EQ(c.update_period(), 0.5);
    c.begin_main();
    c.reset();
    c.main_cycle();  // runs the initialisation
    ASSERT_EQ(c.state(), Component::READY);
    clock_.advance_ms(700);
    c.main_cycle();
    EXPECT_EQ(c.updates, 0);  // READY: no updates
    c.run();
    c.main_cycle();  // 0.7 s since the loop began: one update, and the measure restarts now
    EXPECT_EQ(c.updates, 1);
    c.main_cycle();
    EXPECT_EQ(c.updates, 1);  // late cycles are not caught up
    clock_.advance_ms(400);
    c.main_cycle();
    EXPECT_EQ(c.updates, 1);
    clock_.advance_ms(100);  // exactly one period: not more than it
    c.main_cycle();
    EXPECT_EQ(c.updates, 1);
    clock_.advance_ms(1);
    c.main_cycle();
    EXPECT_EQ(c.updates, 2);
    c.stop();
    clock_.advance_ms(2000);
    c.run();  // the measure was not reset by stop or run
    c.main_cycle();
    EXPECT_EQ(c.updates, 3);
}

// The loop waits for a record until just past the moment the next update is due; a cycle that
// ends there finds it due. Never less than one cycle, never more than the idle bound.
TEST_F(ComponentCycleTest, WaitEndsJustAfterTheNextUpdateIsDue) {
    platform::ScopedClock use(clock_);
    struct Row {
        const char* freq;
        long since_update_ms;
        long wait_ms;
    };
    const Row rows[] = {{"2.0", 0, 501},    {"2.0", 250, 251}, {"2.0", 495, 10}, {"2.0", 700, 10},
                        {"0.5", 1500, 501}, {"1000", 0, 10},   {"0.01", 0, 1000}};
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string("FREQ ") + row.freq + ", " + std::to_string(row.since_update_ms) +
                     " ms after an update");
        CountingComponent c(
            dir_, std::string("FREQ = ") + row.freq + ";\nLOGSERVERIF = \"NoLogServer\";\n");
        c.begin_main();
        c.reset();
        c.main_cycle();
        EXPECT_EQ(c.next_wait_ms(), Component::kIdleWaitMs);  // READY: no update can come
        c.run();
        clock_.advance_ms(100'001);
        c.main_cycle();
        ASSERT_EQ(c.updates, 1);
        clock_.advance_ms(row.since_update_ms);
        EXPECT_EQ(c.next_wait_ms(), row.wait_ms);
        if (row.wait_ms == Component::kIdleWaitMs) continue;  // the bound, not the due time
        clock_.advance_ms(row.wait_ms);
        c.main_cycle();
        EXPECT_EQ(c.updates, 2);
    }
}

TEST_F(ComponentCycleTest, RepeatedResetsBetweenCyclesInitialiseOnce) {
    CountingComponent c(dir_, "FREQ = 1;\nLOGSERVERIF = \"NoLogServer\";\n");
    c.begin_main();
    c.reset();
    c.reset();
    c.main_cycle();
    c.main_cycle();
    const std::string log = log_text();
    const auto first = log.find("Component::initialize() completed");
    ASSERT_NE(first, std::string::npos);
    EXPECT_EQ(log.find("Component::initialize() completed", first + 1), std::string::npos);
}

TEST_F(ComponentCycleTest, LevelFilterAndLineLimit) {
    {
        CountingComponent quiet(dir_,
                                "DEBUG_MODE = -1;\nFREQ = 1;\nLOGSERVERIF = \"NoLogServer\";\n");
        quiet.log_msg("level zero suppressed", 0);
    }
    EXPECT_EQ(log_text().find("level zero suppressed"), std::string::npos);
    {
        CountingComponent chatty(dir_,
                                 "DEBUG_MODE = 1;\nFREQ = 1;\nLOGSERVERIF = \"NoLogServer\";\n");
        chatty.log_msg("level one recorded", 1);
        chatty.log_msg("level two dropped", 2);
        chatty.log_msg(std::string(300, 'x'), 0);
    }
    const std::string log = log_text();
    EXPECT_NE(log.find("<Counting>: level one recorded \r\n"), std::string::npos);
    EXPECT_EQ(log.find("level two dropped"), std::string::npos);
    const std::string cut = "<Counting>: " + std::string(250 - 12, 'x') + " \r\n";
    EXPECT_NE(log.find(cut), std::string::npos);
}

TEST_F(ComponentCycleTest, TypedLookupsAndFrequencyRange) {
    CountingComponent c(dir_, "FREQ = 1000;\nLOGSERVERIF = \"L\";\nNAME = \"x\";\nRATE = 2.5;\n");
    EXPECT_DOUBLE_EQ(c.update_period(), 0.001);
    int i = 0;
    double r = 0;
    std::string s;
    c.get_cfg_value("NAME", s);
    EXPECT_EQ(s, "x");
    c.get_cfg_value("RATE", r);
    EXPECT_EQ(r, 2.5);
    try {
        c.get_cfg_value("RETRIES", i);
        FAIL();
    } catch (const Exception& e) {
        EXPECT_EQ(e.message(), "cfg file missing RETRIESdefinition");
    }
    EXPECT_THROW(c.get_cfg_value("FREQ", r), Exception);  // an integer does not satisfy a real
    for (const char* bad : {"FREQ = 0.009;", "FREQ = 0;", "FREQ = 1000.5;"}) {
        std::ofstream(dir_ + "/bad.cfg") << bad << "\nLOGSERVERIF = \"L\";\n";
        int status = 0;
        c.load_config(dir_ + "/bad.cfg", status);
        EXPECT_EQ(status, -1) << bad;
    }
    std::ofstream(dir_ + "/slow.cfg") << "FREQ = 0.01;\nLOGSERVERIF = \"L\";\n";
    int status = -1;
    c.load_config(dir_ + "/slow.cfg", status);
    EXPECT_EQ(status, 0);
    EXPECT_DOUBLE_EQ(c.update_period(), 100.0);
    c.load_config("", status);  // reloads the same file
    EXPECT_EQ(status, 0);
}

TEST_F(ComponentCycleTest, InitializeTwiceKeepsOneClientOfEachKind) {
    CountingComponent c(dir_, "FREQ = 1;\nLOGSERVERIF = \"LogSrv\";\n");
    EXPECT_TRUE(c.initialize());
    EXPECT_TRUE(c.initialize());
    EXPECT_NE(c.get_iclient("LogSrv"), nullptr);
    EXPECT_NE(c.get_iclient(""), nullptr);  // the supervisor, under the empty name
    c.remove_iclient("LogSrv");
    EXPECT_EQ(c.get_iclient("LogSrv"), nullptr);
    EXPECT_THROW(c.add_iclient(nullptr), Exception);
}

}  // namespace
