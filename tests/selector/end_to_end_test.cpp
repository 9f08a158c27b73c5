// The whole selector with real processes: the stand-in peers and the vantrel program, driven only
// through the selector's interface, on the real clock with fast simulated motions.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "config/configuration_file.h"
#include "interface/clients.h"
#include "tests/selector/selector_config.h"
#include "tests/support/child_process.h"
#include "tests/support/files.h"
#include "tests/support/ipc_test.h"

using namespace vantrel;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

using test::slurp;

class EndToEndTest : public test::IpcTest {
  protected:
    void SetUp() override {
        const std::string common =
            "FREQ = 1;\nLOGSERVERIF = \"LogServer\";\nSUPERVISORIF = \"Supervisor\";\n";
        write("logserver.cfg", common);
        write("supervisor.cfg", common);
        write("sipper.cfg", common);
        write("rotary.cfg", common + "BOARD_ID = 1;\nREFERENCE_POSITION = -500.0;\n");
        write("linear.cfg", common + "BOARD_ID = 2;\n");
        std::string selector = test::selector_config();
        selector.replace(selector.find("\"NoLogServer\""), 13, "\"LogServer\"");
        write("vantrel.cfg", selector);
        peer("logserver", "LogServer", "logserver");
        peer("supervisor", "Supervisor", "supervisor");
        peer("boardmgr", "RotaryMC", "rotary");
        peer("boardmgr", "LinearMC", "linear");
        peer("sipper", "Sipper", "sipper");
        // Calls made before a peer opens its interface are discarded: wait until each answers.
        // Each through a client of its own kind: a client opening first creates the segment at
        // its class's size, and a smaller one would leave the peer's own slots out.
        LogServerIF log_server("LogServer");
        SupervisorIF supervisor("Supervisor");
        NI7344IF rotary("RotaryMC"), linear("LinearMC");
        SipperIF sipper("Sipper");
        for (ComponentIF* client : std::initializer_list<ComponentIF*>{&log_server, &supervisor,
                                                                       &rotary, &linear, &sipper}) {
            ASSERT_TRUE(client->open());
            client->set_call_timeout(3000);
            ASSERT_TRUE(eventually([&] {
                std::int32_t state = -1;
                return client->get_state(state) == 0;
            })) << client->name();
        }
    }
    void TearDown() override {
        for (auto& p : peers_) p->kill9();
    }
    void write(const std::string& name, const std::string& text) {
        std::ofstream(dir_ + "/" + name, std::ios::binary) << text;
    }
    void peer(const std::string& kind, const std::string& name, const std::string& file) {
        peers_.push_back(std::make_unique<test::ChildProcess>(
            std::vector<std::string>{test::helper_path("vantrel-peer"), kind, name,
                                     dir_ + "/" + file + ".log", dir_ + "/" + file + ".cfg"}));
    }
    std::unique_ptr<test::ChildProcess> start_selector() {
        return std::make_unique<test::ChildProcess>(std::vector<std::string>{
            test::helper_path("vantrel"), "Vantrel", dir_ + "/vantrel.log", dir_ + "/vantrel.cfg"});
    }
    template <typename Pred>
    static bool eventually(Pred pred, int seconds = 20) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        while (std::chrono::steady_clock::now() < end) {
            if (pred()) return true;
            std::this_thread::sleep_for(20ms);
        }
        return false;
    }
    static bool state_is(VantrelIF& v, int expected) {
        std::int32_t state = -1;
        return v.get_state(state) == 0 && state == expected;
    }
    // "reset" and wait for READY. On a loaded machine a board manager's late answer can fail one
    // initialisation (INIT_FAILED); a further "reset" retries it, as an operator would.
    static bool initialise(VantrelIF& v) {
        for (int attempt = 0; attempt < 3; ++attempt) {
            if (v.reset() != 0) return false;
            std::int32_t state = -1;
            if (!eventually([&] { return v.get_state(state) == 0 && (state == 1 || state == 3); }))
                return false;
            if (state == 1) return true;
        }
        return false;
    }
    static bool idle(VantrelIF& v) {
        bool busy = true;
        return v.is_busy(busy) == 0 && !busy;
    }

    test::TempDir temp_;
    const std::string dir_ = temp_.path();
    std::vector<std::unique_ptr<test::ChildProcess>> peers_;
};

TEST_F(EndToEndTest, HomeMoveCountAndSurviveARestart) {
    auto selector = start_selector();
    VantrelIF v("Vantrel");
    ASSERT_TRUE(v.open());
    v.set_call_timeout(3000);
    ASSERT_TRUE(eventually([&] { return state_is(v, 0); }));
    ASSERT_TRUE(initialise(v));
    ASSERT_EQ(v.home(), 0);
    ASSERT_TRUE(eventually([&] {
        bool homed = false;
        return idle(v) && v.homed(homed) == 0 && homed;
    }));
    ASSERT_EQ(v.set_current_column(3), 0);
    std::this_thread::sleep_for(50ms);
    ASSERT_TRUE(eventually([&] { return idle(v); }));
    std::int32_t column = -1;
    ASSERT_EQ(v.get_current_column(column), 0);
    EXPECT_EQ(column, 3);
    v.increment_sample_count();
    v.increment_sample_count();
    std::int32_t count = 0;
    ASSERT_EQ(v.get_sample_count(3, count), 0);  // served after both increments
    EXPECT_EQ(count, 2);
    ConfigurationFile stats;
    ASSERT_EQ(stats.load_config(dir_ + "/columns.dat"), 0);
    std::int32_t stored = 0;
    EXPECT_TRUE(stats.get("COL3COUNT", stored));
    EXPECT_EQ(stored, 2);

    v.kill();
    EXPECT_EQ(selector->wait(), 0);
    const std::string log = slurp(dir_ + "/vantrel.log");
    EXPECT_NE(log.find("<Vantrel>: VantrelTask :target pos = 1880"), std::string::npos);
    EXPECT_NE(log.find("<Vantrel>: VantrelTask :at position 3"), std::string::npos);
    // The log server holds the same lines.
    EXPECT_TRUE(eventually(
        [&] {
            return slurp(dir_ + "/logserver.log").find("VantrelTask :at position 3") !=
                   std::string::npos;
        },
        5));

    auto again = start_selector();
    ASSERT_TRUE(eventually([&] { return state_is(v, 0); }));
    ASSERT_TRUE(initialise(v));
    bool homed = false;
    ASSERT_EQ(v.homed(homed), 0);
    EXPECT_TRUE(homed);  // the marker lives on the board, kept by the board manager
    ASSERT_EQ(v.get_current_column(column), 0);
    EXPECT_EQ(column, 3);
    ASSERT_EQ(v.get_sample_count(3, count), 0);
    EXPECT_EQ(count, 2);
    v.kill();
    EXPECT_EQ(again->wait(), 0);
    EXPECT_EQ(slurp(dir_ + "/vantrel.log").find("begin homing operation"), std::string::npos);
}

TEST_F(EndToEndTest, SelectorServerAnswersItsCodesAndIgnoresUnknownOnes) {
    auto selector = start_selector();
    VantrelIF v("Vantrel");
    ASSERT_TRUE(v.open());
    v.set_call_timeout(3000);
    ASSERT_TRUE(eventually([&] { return state_is(v, 0); }));
    bool present = false;
    EXPECT_EQ(v.device_present(present), 0);
    EXPECT_TRUE(present);
    std::int32_t capacity = 0, limit = 0;
    EXPECT_EQ(v.get_capacity(capacity), 0);
    EXPECT_EQ(capacity, 6);
    EXPECT_EQ(v.get_sample_limit(limit), 0);
    EXPECT_EQ(limit, 500);
    v.set_pres_limits(1.25, -3.5);
    double p1 = 0, p3 = 0;
    EXPECT_EQ(v.get_pres_limits(p1, p3), 0);
    EXPECT_EQ(p1, 1.25);
    EXPECT_EQ(p3, -3.5);
    std::string type = "x";
    EXPECT_EQ(v.get_column_type(1, type), 0);
    EXPECT_EQ(type, "");  // refused before initialisation: an empty answer
    // A code beyond the selector's table: no call, no completion.
    class Beyond : public ComponentIF {
      public:
        Beyond() : ComponentIF("Vantrel") { op_ = layout().add_two_way("beyond", 31, {}, {}); }
        int call() { return call_two_way(op_, {}); }
        Operation op_;
    } beyond;
    ASSERT_TRUE(beyond.open());
    beyond.set_call_timeout(300);
    EXPECT_EQ(beyond.call(), 4);
    beyond.set_call_timeout(3000);
    std::int32_t state = -1;
    EXPECT_EQ(v.get_state(state), 0);  // still serving
    v.kill();
    EXPECT_EQ(selector->wait(), 0);
}

}  // namespace
