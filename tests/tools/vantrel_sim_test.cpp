// The simulated analyser brought up with vantrel-sim and driven with vantrelctl, all as real
// processes in an IPC scope of the test's own, with the default configuration files.
#include "tools/vantrel_sim.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include "platform/object_name.h"
#include "tests/support/child_process.h"
#include "tests/support/ipc_test.h"
#include "tests/tools/text_lines.h"
#include "tests/tools/tool_runner.h"

using namespace vantrel;
using namespace std::chrono_literals;
using test::run_tool;
using test::ToolRun;
namespace fs = std::filesystem;

namespace {

bool has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

std::size_t count(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

std::string slurp(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Named objects of the current scope that are still in /dev/shm.
std::size_t objects_of_scope() {
    const std::string prefix = "vantrel." + platform::encode_name(platform::ipc_scope()) + ".";
    std::size_t n = 0;
    for (const auto& entry : fs::directory_iterator(platform::kObjectDirectory))
        if (entry.path().filename().string().rfind(prefix, 0) == 0) ++n;
    return n;
}

class SimulatedAnalyser : public test::IpcTest {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/vantrel-sim-test-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
    }
    void TearDown() override {
        // Whatever a failed test left running goes.
        for (const std::string& dir : {dir_, dir_ + "/second"}) {
            try {
                if (const auto record = simtool::read_record(dir))
                    for (const auto& p : record->processes)
                        if (simtool::still_running(p)) {
                            ::kill(p.pid, SIGKILL);
                            ::kill(p.pid, SIGCONT);
                        }
            } catch (const std::exception&) {
            }
        }
        fs::remove_all(dir_);
    }
    ToolRun sim(const std::string& command, std::vector<std::string> more = {}) {
        std::vector<std::string> args = {command};
        args.insert(args.end(), more.begin(), more.end());
        if (more.empty()) args.push_back(dir_);
        return run_tool("vantrel-sim", args);
    }
    static ToolRun ctl(const std::vector<std::string>& args) {
        std::vector<std::string> all = {"--timeout", "3000"};
        all.insert(all.end(), args.begin(), args.end());
        return run_tool("vantrelctl", all);
    }
    // Polls a plain vantrelctl query until its answer is `expected`.
    static bool eventually_answers(const std::vector<std::string>& query,
                                   const std::string& expected) {
        for (int i = 0; i < 100; ++i) {
            if (ctl(query).output == expected + "\n") return true;
            std::this_thread::sleep_for(50ms);
        }
        return false;
    }

    std::string dir_;
};

TEST_F(SimulatedAnalyser, UpDriveTripRecoverAndDown) {
    ToolRun run = sim("up");
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(count(run.output, "answering"), 6u) << run.output;
    // The gateway, on its usual port or (another analyser's gateway has it) on a free one.
    EXPECT_TRUE(has(run.output, "gateway        http://127.0.0.1:")) << run.output;
    for (const char* file :
         {"vantrel.cfg", "rotary.cfg", "linear.cfg", "sipper.cfg", "logserver.cfg",
          "supervisor.cfg", "vantrel-sim.pids", "gateway.token"})
        EXPECT_TRUE(fs::exists(dir_ + "/" + file)) << file;

    // A second up in the same directory starts nothing.
    run = sim("up");
    EXPECT_NE(run.status, 0) << run.output;
    EXPECT_TRUE(has(run.output, "already up in " + dir_)) << run.output;
    EXPECT_EQ(simtool::read_record(dir_)->processes.size(), 7u);  // the six and the gateway

    run = sim("status");
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_TRUE(test::has_line(run.output, "rotary RotaryMC ", " READY")) << run.output;
    EXPECT_TRUE(test::has_line(run.output, "vantrel Vantrel ", " UNINITIALIZED")) << run.output;
    EXPECT_TRUE(has(run.output, " serving http://127.0.0.1:")) << run.output;

    run = ctl({"--interface", "RotaryMC", "get_ID"});
    EXPECT_EQ(run.output, "1\n");
    EXPECT_EQ(ctl({"--interface", "LinearMC", "get_ID"}).output, "2\n");

    ASSERT_EQ(ctl({"reset"}).status, 0);
    ASSERT_TRUE(eventually_answers({"get_state"}, "1 (READY)"));
    run = ctl({"home", "--wait"});
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_TRUE(has(run.output, "reached column 1 (rotor position 1000)")) << run.output;
    EXPECT_TRUE(has(run.output, "busy yes")) << run.output;  // the progress lines
    run = ctl({"set_current_column", "2", "--wait"});
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_TRUE(has(run.output, "reached column 2 (rotor position 1440)")) << run.output;

    EXPECT_EQ(ctl({"set_column_type", "2", "C18 guard"}).output,
              "sent \"set_column_type\" to \"Vantrel\"\n");
    EXPECT_EQ(ctl({"set_sample_count", "2", "7"}).status, 0);
    EXPECT_EQ(ctl({"increment_sample_count"}).status, 0);
    run = ctl({"--json", "get_sample_count", "2"});
    EXPECT_EQ(run.output,
              "{\"interface\":\"Vantrel\",\"operation\":\"get_sample_count\",\"code\":18,"
              "\"result\":0,\"values\":[8]}\n");
    run = ctl({"status"});
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(test::has_exact_line(run.output, "> 2 C18 guard 8")) << run.output;
    EXPECT_TRUE(has(slurp(dir_ + "/columns.dat"), "COL2COUNT=8;")) << slurp(dir_ + "/columns.dat");

    {
        // The ring, until interrupted.
        test::ChildProcess watch({test::helper_path("vantrelctl"), "watch", "--interval", "100"});
        bool ring = false;
        while (const auto line = watch.read_line(5000))
            if (has(*line, "[2]")) {
                ring = true;
                break;
            }
        EXPECT_TRUE(ring);
        ::kill(watch.pid(), SIGINT);
        EXPECT_EQ(watch.wait(), 0);
    }

    // The kill switch tripped while the rotor turns: the move fails and says why.
    test::ChildProcess move(
        test::tool_command("vantrelctl", {"set_current_column", "6", "--wait"}));
    ASSERT_TRUE([&] {
        for (int i = 0; i < 200; ++i) {
            const std::string position = ctl({"get_rotor_position"}).output;
            if (std::atoi(position.c_str()) > 1600) return true;
            std::this_thread::sleep_for(20ms);
        }
        return false;
    }());
    EXPECT_EQ(ctl({"--interface", "Sipper", "emergency"}).status, 0);
    std::string moved;
    while (const auto line = move.read_line(20000)) moved += *line + "\n";
    EXPECT_EQ(move.wait(), 7) << moved;
    EXPECT_TRUE(has(moved, "motion failed")) << moved;
    EXPECT_TRUE(has(moved, "not at the requested column 6")) << moved;
    EXPECT_TRUE(has(moved, "the kill switch is tripped")) << moved;
    EXPECT_EQ(ctl({"--interface", "Sipper", "get_inhibit_state"}).output, "1\n");

    EXPECT_EQ(ctl({"--interface", "Sipper", "reset_error_state"}).status, 0);
    ASSERT_EQ(ctl({"home", "--wait"}).status, 0);
    run = ctl({"set_current_column", "3", "--wait"});
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_TRUE(has(run.output, "reached column 3")) << run.output;

    // The selector stops answering for a while during the move: the wait outlasts it.
    pid_t vantrel = 0;
    const auto started = simtool::read_record(dir_);
    ASSERT_TRUE(started);
    for (const auto& p : started->processes)
        if (p.name == "vantrel") vantrel = p.pid;
    ASSERT_NE(vantrel, 0);
    test::ChildProcess patient(test::tool_command(
        "vantrelctl", {"--timeout", "200", "set_current_column", "4", "--wait"}));
    std::this_thread::sleep_for(300ms);
    ASSERT_EQ(::kill(vantrel, SIGSTOP), 0);
    std::this_thread::sleep_for(1000ms);
    ASSERT_EQ(::kill(vantrel, SIGCONT), 0);
    std::string waited;
    while (const auto line = patient.read_line(20000)) waited += *line + "\n";
    EXPECT_EQ(patient.wait(), 0) << waited;
    EXPECT_TRUE(has(waited, "reached column 4")) << waited;

    run = sim("down");
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(count(run.output, "stopped with \"kill\""), 6u) << run.output;
    EXPECT_TRUE(has(run.output, "gateway (pid ")) << run.output;
    EXPECT_LT(run.output.find("gateway (pid"), run.output.find("vantrel (pid")) << run.output;
    // Vantrel first, the log server last.
    EXPECT_LT(run.output.find("vantrel (pid"), run.output.find("sipper (pid")) << run.output;
    EXPECT_LT(run.output.find("supervisor (pid"), run.output.find("logserver (pid")) << run.output;
    EXPECT_FALSE(fs::exists(dir_ + "/vantrel-sim.pids"));
    EXPECT_TRUE(has(slurp(dir_ + "/vantrel.log"),
                    "VantrelTask :One of the kill switches has been tripped"));
    EXPECT_TRUE(has(slurp(dir_ + "/logserver.log"), "VantrelTask :at position 3"));
    run = sim("status");
    EXPECT_EQ(run.status, simtool::kNotUp) << run.output;
    EXPECT_EQ(objects_of_scope(), 0u);
}

TEST_F(SimulatedAnalyser, RefusesADuplicateInTheScopeAndStopsAStuckProcessWithSignals) {
    ASSERT_EQ(sim("up").status, 0);
    // Another directory, the same scope: the interface names are taken.
    ToolRun run = sim("up", {dir_ + "/second"});
    EXPECT_EQ(run.status, 1) << run.output;
    EXPECT_TRUE(has(run.output, "something already serves \"LogServer\"")) << run.output;
    EXPECT_FALSE(fs::exists(dir_ + "/second/vantrel-sim.pids"));

    run = sim("up", {"/tmp/vantrel sim"});
    EXPECT_EQ(run.status, 1) << run.output;
    EXPECT_TRUE(has(run.output, "holds a space")) << run.output;

    // A supervisor that takes no calls any more.
    const auto record = simtool::read_record(dir_);
    ASSERT_TRUE(record);
    pid_t supervisor = 0;
    for (const auto& p : record->processes)
        if (p.name == "supervisor") supervisor = p.pid;
    ASSERT_NE(supervisor, 0);
    ASSERT_EQ(::kill(supervisor, SIGSTOP), 0);
    run = sim("status");
    EXPECT_EQ(run.status, 1) << run.output;
    EXPECT_TRUE(test::has_line(run.output, "supervisor Supervisor ",
                               " running, not answering (no completion within the call time-out)"))
        << run.output;

    run = sim("down", {"--grace", "0.5", dir_});
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_TRUE(has(run.output, "supervisor (pid " + std::to_string(supervisor) +
                                    ", \"Supervisor\") stopped with SIGKILL"))
        << run.output;
    EXPECT_EQ(count(run.output, "stopped with \"kill\""), 5u) << run.output;
    EXPECT_EQ(objects_of_scope(), 0u);  // what the killed one held is cleared away
    EXPECT_EQ(sim("down").output,
              "vantrel-sim: nothing is up in " + dir_ + " (no vantrel-sim.pids)\n");
}

TEST_F(SimulatedAnalyser, AComponentThatCannotStartStopsTheRestAndShowsWhy) {
    // The user's own configuration, missing a key: kept as it is, and named as the cause.
    const std::string broken =
        "FREQ = 10.0;\nLOGSERVERIF = \"LogServer\";\nCOLUMNSTATS = \"c.dat\";\n";
    std::ofstream(dir_ + "/vantrel.cfg") << broken;
    const ToolRun run = sim("up");
    EXPECT_EQ(run.status, 1) << run.output;
    EXPECT_TRUE(has(run.output, "vantrel (\"Vantrel\") did not come up: it ended during start-up"))
        << run.output;
    EXPECT_TRUE(has(run.output, "cfg file missing DEVICE_PRESENT")) << run.output;
    EXPECT_EQ(count(run.output, "stopped with \"kill\""), 5u) << run.output;
    EXPECT_EQ(slurp(dir_ + "/vantrel.cfg"), broken);
    EXPECT_FALSE(fs::exists(dir_ + "/vantrel-sim.pids"));
    EXPECT_EQ(objects_of_scope(), 0u);
}

// As root, vantrel-sim would write where another user's directory or planted files point, and run
// their configuration: each is refused before anything is written or started.
TEST_F(SimulatedAnalyser, RefusesADirectoryOrFilesThatAnotherUserCouldHaveChanged) {
    const bool root = ::geteuid() == 0;
    const std::string target = dir_ + "/precious";
    std::ofstream(target) << "precious\n";
    const auto nobody = [](const std::string& path) { return ::chown(path.c_str(), 65534, 65534); };
    const struct {
        const char* what;
        bool needs_root;
        std::function<void(const std::string& d)> plant;
        std::string says;
    } cases[] = {
        {"another user's directory", true, [&](const std::string& d) { nobody(d); },
         " belongs to nobody (uid 65534), not to root (uid 0)"},
        {"a group-writable directory", false,
         [](const std::string& d) { ::chmod(d.c_str(), 0770); },
         " can be written by its group or by others"},
        {"a world-writable directory above", false,
         [](const std::string& d) { ::chmod(fs::path(d).parent_path().c_str(), 0777); },
         ", can be written by its group or by others and is not sticky"},
        {"a log that links elsewhere", false,
         [&](const std::string& d) { fs::create_symlink(target, d + "/vantrel.log"); },
         "/vantrel.log is a symbolic link"},
        {"an output file that links elsewhere", false,
         [&](const std::string& d) { fs::create_symlink(target, d + "/rotary.out"); },
         "/rotary.out is a symbolic link"},
        {"a configuration that links to nothing yet", false,
         [&](const std::string& d) { fs::create_symlink(dir_ + "/created", d + "/sipper.cfg"); },
         "/sipper.cfg is a symbolic link"},
        {"another user's configuration", true,
         [&](const std::string& d) {
             std::ofstream(d + "/vantrel.cfg") << "FREQ = 1;\n";
             nobody(d + "/vantrel.cfg");
         },
         "/vantrel.cfg belongs to nobody (uid 65534)"},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.needs_root && !root) continue;
        const std::string d = dir_ + "/case" + std::to_string(++n) + "/analyser";
        fs::create_directories(d);
        c.plant(d);
        const ToolRun run = sim("up", {d});
        ::chmod(fs::path(d).parent_path().c_str(), 0700);
        EXPECT_EQ(run.status, 1) << run.output;
        EXPECT_TRUE(has(run.output, c.says)) << run.output;
        EXPECT_TRUE(has(run.output, "vantrel-sim works only in a directory of your own"))
            << run.output;
        EXPECT_FALSE(fs::exists(d + "/vantrel-sim.pids"));
        EXPECT_EQ(slurp(target), "precious\n");
        EXPECT_FALSE(fs::exists(dir_ + "/created"));
        EXPECT_EQ(objects_of_scope(), 0u);  // nothing was started
    }
}

// A pids record is acted on only when it is the caller's own file, and a recorded pid is signalled
// only while it runs the program that vantrel-sim started there.
TEST_F(SimulatedAnalyser, AForgedOrForeignRecordNeverSignalsAnotherProcess) {
    test::ChildProcess victim({"/bin/sleep", "60"});
    const auto start = simtool::process_start_time(victim.pid());
    const auto sleep = simtool::process_executable(victim.pid());
    ASSERT_TRUE(start && sleep);
    const std::string peer = fs::canonical(test::helper_path("vantrel-peer")).string();
    const auto record = [&](std::uint64_t start_time, const std::string& program) {
        return "scope " + platform::ipc_scope() + "\nprocess supervisor " +
               std::to_string(victim.pid()) + " " + std::to_string(start_time) + " " + program +
               "\n";
    };
    const bool root = ::geteuid() == 0;
    const struct {
        const char* what;
        std::string text;
        std::function<void(const std::string& file)> alter;
        std::string says;
    } cases[] = {
        {"names the started program",
         record(*start, peer),
         {},
         "runs another program now; left alone"},
        {"names the victim's own program",
         record(*start, *sleep),
         {},
         "runs another program now; left alone"},
        {"an older start time", record(*start - 1, peer), {}, "was not running"},
        {"writable by others", record(*start, peer),
         [](const std::string& f) { ::chmod(f.c_str(), 0666); },
         "vantrel-sim.pids can be written by its group or by others"},
        {"a symbolic link", record(*start, peer),
         [](const std::string& f) {
             fs::rename(f, f + ".real");
             fs::create_symlink(f + ".real", f);
         },
         "vantrel-sim.pids is a symbolic link"},
        {"another user's", record(*start, peer),
         [root](const std::string& f) {
             if (root) ::chown(f.c_str(), 65534, 65534);
         },
         root ? "vantrel-sim.pids belongs to nobody (uid 65534)" : "left alone"},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string d = dir_ + "/case" + std::to_string(++n);
        ::mkdir(d.c_str(), 0700);
        const std::string file = d + "/vantrel-sim.pids";
        std::ofstream(file) << c.text;
        ::chmod(file.c_str(), 0600);
        if (c.alter) c.alter(file);
        sim("status", {d});
        const ToolRun run = sim("down", {"--grace", "0", d});
        EXPECT_TRUE(has(run.output, c.says)) << run.output;
        EXPECT_EQ(simtool::process_start_time(victim.pid()), start);  // never signalled
    }
}

}  // namespace
