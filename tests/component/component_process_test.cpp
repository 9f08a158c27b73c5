// A real component process driven only through its interface from this process.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "component/component.h"
#include "interface/clients.h"
#include "tests/support/child_process.h"
#include "tests/support/files.h"
#include "tests/support/ipc_test.h"

using namespace vantrel;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

using test::slurp;

// The log's lines without line numbers and time stamps: "<name>: message".
std::vector<std::string> messages(const std::string& path) {
    std::vector<std::string> out;
    std::istringstream in(slurp(path));
    std::string line;
    while (std::getline(in, line)) {
        const auto lt = line.find('<');
        if (lt == std::string::npos || line.rfind("Log file:", 0) == 0) continue;
        std::string text = line.substr(lt);
        if (text.size() >= 2 && text.compare(text.size() - 2, 2, " \r") == 0)
            text.resize(text.size() - 2);
        out.push_back(text);
    }
    return out;
}

class ComponentProcessTest : public test::IpcTest {
  protected:
    void SetUp() override {
        write_config("unit.cfg",
                     "FREQ = 50;\nLOGSERVERIF = \"LogSrv\";\nSUPERVISORIF = \"Super\";\n");
    }

    void write_config(const std::string& name, const std::string& text) {
        std::ofstream(dir_ + "/" + name, std::ios::binary) << text;
    }
    std::unique_ptr<test::ChildProcess> start(const std::string& program,
                                              const std::vector<std::string>& args) {
        std::vector<std::string> argv{test::helper_path(program)};
        argv.insert(argv.end(), args.begin(), args.end());
        return std::make_unique<test::ChildProcess>(argv);
    }
    std::unique_ptr<test::ChildProcess> start_component() {
        return start("component_child", {"Unit", dir_ + "/unit.log", dir_ + "/unit.cfg"});
    }
    // Polls get_state until it answers `expected` (the process may still be starting).
    static bool state_becomes(ComponentIF& client, int expected) {
        for (int i = 0; i < 300; ++i) {
            std::int32_t state = -1;
            if (client.get_state(state) == 0 && state == expected) return true;
            std::this_thread::sleep_for(10ms);
        }
        return false;
    }
    test::TempDir temp_;
    const std::string dir_ = temp_.path();
};

TEST_F(ComponentProcessTest, LifecycleThroughTheInterfaceWithItsLogLines) {
    auto child = start_component();
    ComponentIF unit("Unit");
    ASSERT_TRUE(unit.open());
    unit.set_call_timeout(2000);
    ASSERT_TRUE(state_becomes(unit, Component::UNINITIALIZED));
    EXPECT_EQ(unit.run(), 0);  // refused: not READY
    EXPECT_EQ(unit.reset(), 0);
    ASSERT_TRUE(state_becomes(unit, Component::READY));
    EXPECT_EQ(unit.stop(), 0);  // refused: not RUNNING
    EXPECT_EQ(unit.run(), 0);
    ASSERT_TRUE(state_becomes(unit, Component::RUNNING));
    EXPECT_EQ(unit.reset(), 0);  // refused while RUNNING
    EXPECT_EQ(unit.stop(), 0);
    ASSERT_TRUE(state_becomes(unit, Component::READY));
    EXPECT_EQ(unit.kill(), 0);
    EXPECT_EQ(child->wait(), 0);

    const std::vector<std::string> expected{
        "<Unit>: entering Component::main",
        "<Unit>: Component::Run -- can't start component, illegal state",
        "<Unit>: Component::initialize() completed",
        "<Unit>: Componnet::Stop -- can't stop task, illegal state",
        "<Unit>: run() set component to RUNNING state",
        "<Unit>: Component::Reset -- illegal state, cannot perform reset",
        "<Unit>: stop() set component to READY state",
        "<Unit>: kill -- setting _exit to true",
        "<Unit>: QUITTING MAIN COMPONENT THREAD - INTERFACES NO LONGER SERVICED"};
    EXPECT_EQ(messages(dir_ + "/unit.log"), expected);
    const std::string log = slurp(dir_ + "/unit.log");
    EXPECT_NE(log.find("Log file: " + dir_ + "/unit.log closed "), std::string::npos);
}

TEST_F(ComponentProcessTest, IdentityAnswers) {
    auto child = start_component();
    ComponentIF unit("Unit");
    ASSERT_TRUE(unit.open());
    unit.set_call_timeout(2000);
    ASSERT_TRUE(state_becomes(unit, 0));
    std::string text;
    EXPECT_EQ(unit.get_name(text), 0);
    EXPECT_EQ(text, "Unit");
    EXPECT_EQ(unit.get_cfg_dir(text), 0);
    EXPECT_EQ(text, dir_ + "/");
    EXPECT_EQ(unit.get_component_version(text), 0);
    EXPECT_EQ(text, Component::product_version());
    EXPECT_FALSE(text.empty());
    unit.kill();
    EXPECT_EQ(child->wait(), 0);
}

TEST_F(ComponentProcessTest, ConfigurationFileOperationsAndTheirStatuses) {
    auto child = start_component();
    ComponentIF unit("Unit");
    ASSERT_TRUE(unit.open());
    unit.set_call_timeout(2000);
    ASSERT_TRUE(state_becomes(unit, 0));
    std::int32_t status = 99;
    EXPECT_EQ(unit.save_config(dir_ + "/saved.cfg", status), 0);
    EXPECT_EQ(status, 0);
    const std::string saved = slurp(dir_ + "/saved.cfg");
    EXPECT_NE(saved.find("DEBUG_MODE=0"), std::string::npos) << saved;  // added with its default
    EXPECT_NE(saved.find("FREQ=50"), std::string::npos) << saved;  // the integer stays as it was

    write_config("nolog.cfg", "FREQ = 1.5;\n");
    EXPECT_EQ(unit.load_config(dir_ + "/nolog.cfg", status), 0);
    EXPECT_EQ(status, -1);
    EXPECT_EQ(unit.load_config(dir_ + "/missing.cfg", status), 0);
    EXPECT_EQ(status, -1);
    write_config("fast.cfg", "FREQ = 1000.5;\nLOGSERVERIF = \"L\";\n");
    EXPECT_EQ(unit.load_config(dir_ + "/fast.cfg", status), 0);
    EXPECT_EQ(status, -1);
    EXPECT_EQ(unit.delete_config(dir_ + "/saved.cfg", status), 0);
    EXPECT_EQ(status, 0);
    EXPECT_FALSE(fs::exists(dir_ + "/saved.cfg"));
    EXPECT_EQ(unit.delete_config(dir_ + "/saved.cfg", status), 0);
    EXPECT_EQ(status, -1);
    unit.kill();
    ASSERT_EQ(child->wait(), 0);
    const auto lines = messages(dir_ + "/unit.log");
    auto has = [&](const std::string& m) {
        return std::find(lines.begin(), lines.end(), "<Unit>: " + m) != lines.end();
    };
    EXPECT_TRUE(has("Component::load_config() failed: missing LOGSERVERIF"));
    EXPECT_TRUE(has(
        "Component::load_config() failed: ConfigurationFile::load_config(): failed, can't load " +
        dir_ + "/missing.cfg"));
    EXPECT_TRUE(
        has("Component::load_config() failed: Component::set_update_rate: input out of range "
            "(1000.50)"));
    EXPECT_TRUE(
        has("Component::delete_config() failed: ConfigurationFile::delete_config() failed."));
}

TEST_F(ComponentProcessTest, MessagesReachTheLogServerOnlyAfterInitialize) {
    write_config("logsrv.cfg", "FREQ = 1;\nLOGSERVERIF = \"LogSrv\";\n");
    auto server =
        start("vantrel-peer", {"logserver", "LogSrv", dir_ + "/logsrv.log", dir_ + "/logsrv.cfg"});
    ComponentIF logsrv("LogSrv");
    ASSERT_TRUE(logsrv.open());
    logsrv.set_call_timeout(2000);
    // Records queued before the log server opens its interface are discarded: wait for it.
    ASSERT_TRUE(state_becomes(logsrv, 0));
    auto child = start_component();
    ComponentIF unit("Unit");
    ASSERT_TRUE(unit.open());
    unit.set_call_timeout(2000);
    ASSERT_TRUE(state_becomes(unit, 0));
    unit.log_msg("before initialize", 0);
    unit.reset();
    ASSERT_TRUE(state_becomes(unit, 1));
    unit.log_msg("after initialize", 0);
    unit.log_msg("too detailed", 1);  // above DEBUG_MODE 0: recorded nowhere
    unit.kill();
    ASSERT_EQ(child->wait(), 0);
    std::int32_t state = 0;
    EXPECT_EQ(logsrv.get_state(state), 0);  // served in order: every message before it is in
    logsrv.kill();
    ASSERT_EQ(server->wait(), 0);
    const std::string local = slurp(dir_ + "/unit.log");
    const std::string central = slurp(dir_ + "/logsrv.log");
    EXPECT_NE(local.find("<Unit>: before initialize"), std::string::npos);
    EXPECT_EQ(central.find("before initialize"), std::string::npos);
    EXPECT_NE(central.find("<Unit>: after initialize"), std::string::npos);
    EXPECT_EQ(local.find("too detailed"), std::string::npos);
    EXPECT_EQ(central.find("too detailed"), std::string::npos);
}

TEST_F(ComponentProcessTest, UnknownCodeTimesOutAndAnOperationExceptionEndsTheLoop) {
    auto child = start_component();
    VantrelIF as_selector("Unit");  // codes 12.. mean nothing to a plain component
    ASSERT_TRUE(as_selector.open());
    as_selector.set_call_timeout(300);
    ComponentIF unit("Unit");
    ASSERT_TRUE(unit.open());
    ASSERT_TRUE(state_becomes(unit, 0));
    std::int32_t capacity = 7;
    EXPECT_EQ(as_selector.get_capacity(capacity), 4);
    EXPECT_EQ(capacity, 0);
    std::int32_t status = 0;
    // The loop ended before completing it: the caller times out, or wakes on the done signal that
    // the closing interface releases and sees someone else's completion.
    const int rc = unit.load_config("throw", status);
    EXPECT_TRUE(rc == 4 || rc == 5) << rc;
    EXPECT_EQ(child->wait(), 0);
    const auto lines = messages(dir_ + "/unit.log");
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2],
              "<Unit>: Component::main Error: load_config was told to throw");
    EXPECT_EQ(lines.back(),
              "<Unit>: QUITTING MAIN COMPONENT THREAD - INTERFACES NO LONGER SERVICED");
}

TEST_F(ComponentProcessTest, TerminationSignalEndsLikeKill) {
    auto child = start_component();
    ComponentIF unit("Unit");
    ASSERT_TRUE(unit.open());
    unit.set_call_timeout(2000);
    ASSERT_TRUE(state_becomes(unit, 0));
    ::kill(child->pid(), SIGTERM);
    EXPECT_EQ(child->wait(), 0);
    const std::string log = slurp(dir_ + "/unit.log");
    EXPECT_NE(log.find("<Unit>: kill -- setting _exit to true"), std::string::npos);
    EXPECT_NE(log.find(" closed "), std::string::npos);
}

// With an idle bound of half a minute, only the wake-ups end the loop's wait: each record is
// served at once, and a termination signal ends the process at once, on whichever thread it lands.
TEST_F(ComponentProcessTest, LongIdleWaitEndsAtOnceForRecordsAndTerminationSignals) {
    struct Row {
        int signal;
        int elsewhere;
    };
    for (const Row row : {Row{SIGTERM, 0}, Row{SIGTERM, 1}, Row{SIGINT, 1}}) {
        SCOPED_TRACE(std::string(strsignal(row.signal)) +
                     (row.elsewhere ? " to another thread" : ""));
        write_config("unit.cfg",
                     "FREQ = 50;\nLOGSERVERIF = \"LogSrv\";\nIDLE_WAIT_MS = 30000;\n"
                     "SIGNALS_ELSEWHERE = " +
                         std::to_string(row.elsewhere) + ";\n");
        auto child = start_component();
        ComponentIF unit("Unit");
        ASSERT_TRUE(unit.open());
        unit.set_call_timeout(2000);
        ASSERT_TRUE(state_becomes(unit, Component::UNINITIALIZED));
        unit.reset();
        ASSERT_TRUE(state_becomes(unit, Component::READY));
        for (int i = 0; i < 5; ++i) {
            std::this_thread::sleep_for(50ms);  // the loop is back in its wait
            std::int32_t state = -1;
            EXPECT_EQ(unit.get_state(state), 0);
            EXPECT_EQ(state, Component::READY);
        }
        std::this_thread::sleep_for(50ms);
        const auto sent = std::chrono::steady_clock::now();
        ::kill(child->pid(), row.signal);
        EXPECT_EQ(child->wait(), 0);
        EXPECT_LT(std::chrono::steady_clock::now() - sent, 10s);  // not the idle bound
        EXPECT_NE(slurp(dir_ + "/unit.log").find("<Unit>: kill -- setting _exit to true"),
                  std::string::npos);
    }
}

// While RUNNING the loop wakes for each update: at the update rate, and never sooner than strictly
// one period after the last (the times are the loop's own).
TEST_F(ComponentProcessTest, RunningUpdatesKeepTheirRateAndNeverComeEarly) {
    write_config("unit.cfg",
                 "FREQ = 50;\nDEBUG_MODE = 2;\nLOGSERVERIF = \"LogSrv\";\n"
                 "IDLE_WAIT_MS = 30000;\n");
    auto child = start_component();
    ComponentIF unit("Unit");
    ASSERT_TRUE(unit.open());
    unit.set_call_timeout(2000);
    ASSERT_TRUE(state_becomes(unit, Component::UNINITIALIZED));
    unit.reset();
    ASSERT_TRUE(state_becomes(unit, Component::READY));
    const auto update_times = [&] {
        std::vector<double> times;
        for (const std::string& line : messages(dir_ + "/unit.log"))
            if (line.rfind("<Unit>: update ", 0) == 0) times.push_back(std::stod(line.substr(15)));
        return times;
    };
    unit.run();
    // About 50 a second; a loop left in its idle wait gives none in the 10 s.
    const auto limit = std::chrono::steady_clock::now() + 10s;
    while (update_times().size() < 20 && std::chrono::steady_clock::now() < limit)
        std::this_thread::sleep_for(50ms);
    unit.stop();
    unit.kill();
    ASSERT_EQ(child->wait(), 0);
    const std::vector<double> times = update_times();
    EXPECT_GE(times.size(), 20u);
    for (std::size_t i = 1; i < times.size(); ++i)
        EXPECT_GT(times[i] - times[i - 1], 0.02) << "update " << i;
}

TEST_F(ComponentProcessTest, MissingArgumentsAreReportedOnStandardErrorWithExitCodeZero) {
    const std::string err = dir_ + "/err.txt";
    const std::string cmd =
        test::helper_path("component_child") + " OnlyTwo " + dir_ + "/x.log 2>" + err;
    EXPECT_EQ(std::system(cmd.c_str()), 0);
    EXPECT_EQ(slurp(err),
              "dummy caught exception: Must specify interface name, logfile, and config file\n");
    EXPECT_FALSE(fs::exists(dir_ + "/x.log"));
}

}  // namespace
