// The selector's operations, guards and answers, with the component in this process, its peers on
// threads and the boards simulated on the virtual clock.
#include "selector/vantrel.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <fstream>
#include <sstream>

#include "config/configuration_file.h"
#include "platform/clock.h"
#include "platform/exception.h"
#include "tests/selector/peer_harness.h"
#include "tests/selector/selector_config.h"
#include "tests/support/files.h"
#include "tests/support/ipc_test.h"

using namespace vantrel;
using namespace std::chrono_literals;

namespace {

using test::slurp;

class VantrelTest : public test::IpcTest {
  protected:
    void TearDown() override {
        selector_.reset();
        peers_.reset();
    }
    // The selector under a name of its own: the recorder of the harness serves "Vantrel".
    void make_selector(const std::string& config) {
        if (!peers_) peers_ = std::make_unique<test::Peers>(dir_);
        test::write_file(dir_ + "/selector.cfg", config);
        selector_ =
            std::make_unique<Vantrel>("Selector", dir_ + "/selector.log", dir_ + "/selector.cfg");
        selector_->begin_main();
    }
    void initialise() {
        selector_->reset();
        selector_->main_cycle();
    }
    bool logged(const std::string& message) {
        return slurp(dir_ + "/selector.log").find("<Selector>: " + message + " \r\n") !=
               std::string::npos;
    }
    void wait_idle() {
        for (int i = 0; i < 20000 && selector_->is_busy(); ++i) std::this_thread::sleep_for(1ms);
        ASSERT_EQ(selector_->is_busy(), 0);
    }
    std::int32_t stored_count(int column) {
        ConfigurationFile stats;
        EXPECT_EQ(stats.load_config(dir_ + "/columns.dat"), 0);
        std::int32_t n = -1;
        stats.get("COL" + std::to_string(column) + "COUNT", n);
        return n;
    }

    test::TempDir temp_;
    const std::string dir_ = temp_.path();
    platform::VirtualClock clock_;
    platform::ScopedClock use_clock_{clock_};
    std::unique_ptr<test::Peers> peers_;
    std::unique_ptr<Vantrel> selector_;
};

TEST_F(VantrelTest, ConfigurationIsReadInOrderWithItsLogLines) {
    make_selector(test::selector_config());
    EXPECT_TRUE(logged("persistent data in " + dir_ + "/columns.dat"));
    EXPECT_TRUE(logged("POS1 = 1000"));
    EXPECT_TRUE(logged("ROTOR PATTERN = 440"));
    EXPECT_TRUE(logged("POS2 = 1440"));
    EXPECT_TRUE(logged("POS6 = 3200"));
    EXPECT_EQ(selector_->get_capacity(), 6);
    EXPECT_EQ(selector_->params().position(6), 3200);
    // Capacity 12 from any other pattern; a negative one counts down.
    int status = 0;
    test::write_file(dir_ + "/twelve.cfg", test::selector_config(1, -100));
    selector_->load_config(dir_ + "/twelve.cfg", status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(selector_->get_capacity(), 12);
    EXPECT_EQ(selector_->params().position(12), 1000 - 1100);
}

TEST_F(VantrelTest, AbsoluteStatisticsNameIsNotPutBesideTheConfiguration) {
    const std::string stats = dir_ + "/state/columns.dat";
    std::string config = test::selector_config();
    config.replace(config.find("\"columns.dat\""), 13, "\"" + stats + "\"");
    make_selector(config);
    EXPECT_TRUE(logged("persistent data in " + stats));
    initialise();
    EXPECT_EQ(selector_->state(), Component::READY);
    EXPECT_NE(slurp(stats).find("COL1COUNT"), std::string::npos);
}

TEST_F(VantrelTest, MissingPositionOfAPresentDeviceFailsTheConstruction) {
    std::string config = test::selector_config();
    config.erase(config.find("POS1 = 1000;\n"), 13);
    try {
        make_selector(config);
        FAIL();
    } catch (const Exception& e) {
        EXPECT_EQ(e.message(),
                  "Vantrel Constructor -- Failed to load config file " + dir_ + "/selector.cfg");
    }
    EXPECT_NE(slurp(dir_ + "/selector.log")
                  .find("load_config ERROR, load_config ERROR, Missing POS1 definition"),
              std::string::npos);
    // Without the device the positions are not needed.
    config.replace(config.find("DEVICE_PRESENT = 1"), 18, "DEVICE_PRESENT = 2");
    make_selector(config);
    EXPECT_EQ(selector_->device_present(), 0);
    EXPECT_EQ(selector_->params().position(2), 440);
}

TEST_F(VantrelTest, GuardsBeforeInitialisationAnswerNeutrally) {
    make_selector(test::selector_config());
    EXPECT_EQ(selector_->get_current_column(), -1);
    EXPECT_TRUE(logged("Can't get_current_column, component not initialized"));
    selector_->set_current_column(1);
    EXPECT_TRUE(logged("Can't set_current_column, component not initialized"));
    selector_->home();
    EXPECT_TRUE(logged("Can't home, component not initialized"));
    EXPECT_EQ(selector_->homed(), 0);
    EXPECT_EQ(selector_->is_busy(), 0);
    EXPECT_EQ(selector_->get_sample_count(1), 0);
    char type[300];
    selector_->get_column_type(1, type, sizeof type);
    EXPECT_STREQ(type, "");
    // These answer from the configuration at once.
    EXPECT_EQ(selector_->get_capacity(), 6);
    EXPECT_EQ(selector_->get_sample_limit(), 500);
    EXPECT_EQ(selector_->get_auto_column_switch(), 1);
    double p1 = 0, p3 = 0;
    selector_->get_pres_limits(p1, p3);
    EXPECT_EQ(p1, 2.5);
    EXPECT_EQ(p3, 7.25);
    selector_->set_auto_column_switch(2);
    EXPECT_EQ(selector_->get_auto_column_switch(), 0);
}

TEST_F(VantrelTest, DeviceAbsentInitialisesWithoutBoards) {
    make_selector(test::selector_config(0));
    initialise();
    EXPECT_EQ(selector_->state(), Component::READY);
    EXPECT_TRUE(logged("device not present"));
    EXPECT_TRUE(logged("Done initializing"));
    EXPECT_EQ(selector_->homed(), 0);
    EXPECT_EQ(selector_->is_busy(), 0);
    EXPECT_EQ(selector_->get_rotor_position(), 0);
    EXPECT_EQ(selector_->get_current_column(), -1);
    char type[8];
    selector_->get_column_type(1, type, sizeof type);
    EXPECT_STREQ(type, " ");
    selector_->set_sample_count(1, 3);
    EXPECT_TRUE(logged("Vantrel::set_sample_count :  device not present"));
    EXPECT_FALSE(std::filesystem::exists(dir_ + "/columns.dat"));
}

TEST_F(VantrelTest, MotionRequestsAndTheirRefusals) {
    make_selector(test::selector_config());
    initialise();
    ASSERT_EQ(selector_->state(), Component::READY);
    for (int bad : {7, -1}) {
        selector_->set_current_column(bad);
        EXPECT_EQ(selector_->is_busy(), 0);
    }
    EXPECT_TRUE(logged("Invalid column position specified"));
    selector_->home();
    EXPECT_EQ(selector_->is_busy(), 1);
    selector_->set_current_column(2);
    selector_->home();
    EXPECT_TRUE(logged("set_current_column Failed, task is busy"));
    wait_idle();
    EXPECT_EQ(selector_->homed(), 1);
    EXPECT_EQ(selector_->get_current_column(), 1);
    selector_->set_current_column(6);  // the capacity itself is a column
    wait_idle();
    EXPECT_EQ(selector_->get_current_column(), 6);
    EXPECT_EQ(selector_->get_rotor_position(), 3200);
    selector_->set_current_column(0);
    wait_idle();
    EXPECT_EQ(selector_->get_current_column(), 0);
}

TEST_F(VantrelTest, SampleCountsGoToTheColumnAtTheWorkingPlace) {
    make_selector(test::selector_config());
    initialise();
    ASSERT_EQ(selector_->state(), Component::READY);
    EXPECT_EQ(stored_count(1), 0);  // the first start created the file
    selector_->home();
    wait_idle();
    selector_->increment_sample_count();
    selector_->increment_sample_count();
    EXPECT_EQ(selector_->get_sample_count(1), 2);
    EXPECT_EQ(stored_count(1), 2);
    selector_->set_sample_count(2, -5);
    EXPECT_EQ(selector_->get_sample_count(2), 0);
    selector_->set_sample_count(3, INT_MAX);
    selector_->set_current_column(3);
    wait_idle();
    selector_->increment_sample_count();
    EXPECT_EQ(selector_->get_sample_count(3), INT_MAX);  // stays at the largest count
    EXPECT_EQ(stored_count(3), INT_MAX);
    selector_->set_current_column(0);
    wait_idle();
    const std::string before = slurp(dir_ + "/columns.dat");
    selector_->increment_sample_count();  // parked: nothing counted, nothing written
    EXPECT_EQ(slurp(dir_ + "/columns.dat"), before);
    selector_->set_column_type(4, std::string(300, 't'));
    char type[4096];
    selector_->get_column_type(4, type, sizeof type);
    EXPECT_EQ(std::string(type), std::string(249, 't'));
    selector_->reset_sample_count(1);
    EXPECT_EQ(stored_count(1), 0);
}

// A type text that the statistics file cannot hold would break the file for good or add entries
// of its own: it is refused and logged, and every text the file can hold survives a restart.
TEST_F(VantrelTest, TypeTextsTheStatisticsFileCannotHoldAreRefused) {
    make_selector(test::selector_config());
    initialise();
    selector_->set_sample_count(2, 5);
    selector_->set_column_type(2, "kept");
    const std::string refused_texts[] = {"a\"b", "x\";COL2COUNT=999;COL6TYPE=\"pwned", "a\x01",
                                         "\x02"};
    for (const std::string& refused : refused_texts) {
        SCOPED_TRACE(refused);
        selector_->set_column_type(2, refused);
        char type[4096];
        selector_->get_column_type(2, type, sizeof type);
        EXPECT_EQ(std::string(type), "kept");
        EXPECT_TRUE(
            logged("Vantrel::set_column_type refused for column 2: a type text holding a "
                   "double quote or a byte below 0x03 cannot be kept in the statistics "
                   "file"));
    }
    const std::string accepted[] = {"C18 guard", ";COL2COUNT=9;", "line\nfeed\ttab",
                                    "\x03\x7f\xc3\xa9\xff"};
    for (int i = 0; i < 4; ++i) selector_->set_column_type(3 + i, accepted[i]);
    selector_.reset();
    make_selector(test::selector_config());  // reads the file back
    initialise();
    ASSERT_EQ(selector_->state(), Component::READY);
    EXPECT_EQ(selector_->get_sample_count(2), 5);
    for (int i = 0; i < 4; ++i) {
        char type[4096];
        selector_->get_column_type(3 + i, type, sizeof type);
        EXPECT_EQ(std::string(type), accepted[i]);
    }
}

TEST_F(VantrelTest, ABoardErrorOfTheRotorPositionIsLoggedAndAnswersZero) {
    make_selector(test::selector_config());
    initialise();
    sim::BoardHandle rotor(test::Peers::kRotorBoard);
    rotor.place_axis(4, 1880);
    EXPECT_EQ(selector_->get_rotor_position(), 1880);
    rotor.fail_calls(sim::Function::read_pos_rtn, 1, -70001);
    EXPECT_EQ(selector_->get_rotor_position(), 0);
    EXPECT_NE(slurp(dir_ + "/selector.log").find("Pci7344::read_pos_rtn -- "), std::string::npos);
    EXPECT_EQ(selector_->get_rotor_position(), 1880);  // and the selector goes on serving
}

TEST_F(VantrelTest, StatisticsThatFailToParseAreNotOverwrittenAtDestruction) {
    std::string damaged;
    for (int i = 1; i <= 6; ++i) {
        damaged += "COL" + std::to_string(i) + "TYPE = \"t\";\nCOL" + std::to_string(i) +
                   "COUNT = " + std::to_string(100 + i) + ";\n";
        if (i == 2) damaged += "COL2X = ;\n";
    }
    test::write_file(dir_ + "/columns.dat", damaged);
    make_selector(test::selector_config());
    initialise();
    EXPECT_EQ(selector_->state(), Component::INIT_FAILED);
    selector_.reset();  // destruction writes the statistics: not over this file
    EXPECT_EQ(slurp(dir_ + "/columns.dat"), damaged);
}

TEST_F(VantrelTest, SixColumnFileOnATwelveColumnRotorFailsInitialisation) {
    test::write_file(dir_ + "/columns.dat",
                     "COL1TYPE = \"a\";\nCOL1COUNT = 1;\nCOL2TYPE = \"a\";\nCOL2COUNT = 1;\n"
                     "COL3TYPE = \"a\";\nCOL3COUNT = 1;\nCOL4TYPE = \"a\";\nCOL4COUNT = 1;\n"
                     "COL5TYPE = \"a\";\nCOL5COUNT = 1;\nCOL6TYPE = \"a\";\nCOL6COUNT = 1;\n");
    make_selector(test::selector_config(1, 441));
    initialise();
    EXPECT_EQ(selector_->state(), Component::INIT_FAILED);
    EXPECT_TRUE(logged("initialize_ failed: persistent data file missing COL7TYPE definition"));
}

}  // namespace
