// The vantrel program as a service runs it: the notification protocol read from a datagram socket
// standing in for the service manager, and the board library named by VANTREL_MOTION_LIBRARY.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <optional>

#include "tests/system/analyser.h"

using namespace vantrel;
using namespace vantrel::test;
using Clock = std::chrono::steady_clock;

namespace {

// Sets an environment variable for the processes started in its lifetime.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, const std::string& value) : name_(name) {
        ::setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv() { ::unsetenv(name_); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

  private:
    const char* name_;
};

// The service manager's end of the notification protocol.
class NotifySocket {
  public:
    explicit NotifySocket(const std::string& path) : path_(path) {
        fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        path.copy(address.sun_path, sizeof address.sun_path - 1);
        if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
            throw std::runtime_error("cannot bind " + path);
    }
    ~NotifySocket() {
        ::close(fd_);
        ::unlink(path_.c_str());
    }
    NotifySocket(const NotifySocket&) = delete;
    NotifySocket& operator=(const NotifySocket&) = delete;

    // The next message; nullopt when none came within `timeout_ms`.
    std::optional<std::string> receive(int timeout_ms) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, timeout_ms) != 1) return std::nullopt;
        char buffer[4096];
        const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
        if (n < 0) return std::nullopt;
        return std::string(buffer, static_cast<std::size_t>(n));
    }
    // Waits for a message holding `line`; the messages read meanwhile count as seen.
    std::optional<std::string> wait_for(const std::string& line, int timeout_ms) {
        const auto end = Clock::now() + std::chrono::milliseconds(timeout_ms);
        while (Clock::now() < end) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
            auto message = receive(static_cast<int>(left.count()) + 1);
            if (!message) break;
            count(*message);
            if (message->find(line + "\n") != std::string::npos) return message;
        }
        return std::nullopt;
    }
    // The watchdog pings among the messages that come within `ms`.
    int pings_within(int ms) {
        const int before = pings_;
        const auto end = Clock::now() + std::chrono::milliseconds(ms);
        while (Clock::now() < end) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
            if (auto message = receive(static_cast<int>(left.count()) + 1)) count(*message);
        }
        return pings_ - before;
    }
    int pings() const { return pings_; }

  private:
    void count(const std::string& message) {
        if (message.find("WATCHDOG=1\n") != std::string::npos) ++pings_;
    }

    std::string path_;
    int fd_ = -1;
    int pings_ = 0;
};

bool stopped(pid_t pid) {
    const std::string stat = slurp("/proc/" + std::to_string(pid) + "/stat");
    const auto close = stat.rfind(')');
    return close != std::string::npos && stat.compare(close + 2, 1, "T") == 0;
}

AnalyserOptions without_peers() {
    AnalyserOptions options;
    options.log_server = options.supervisor = options.sipper = options.board_managers = false;
    options.device_present = 0;
    return options;
}

class DeploymentTest : public SystemTest {};

TEST_F(DeploymentTest, ServiceManagerHearsReadyStatusWatchdogAndStopping) {
    Analyser a(without_peers());
    NotifySocket manager(a.path("notify"));
    constexpr int kWatchdogMs = 400;  // a ping at most every 200 ms
    const auto started = Clock::now();
    {
        ScopedEnv socket("NOTIFY_SOCKET", a.path("notify"));
        ScopedEnv watchdog("WATCHDOG_USEC", std::to_string(kWatchdogMs * 1000));
        a.start_selector();
    }
    const auto ready = manager.wait_for("READY=1", 20000);
    ASSERT_TRUE(ready);
    EXPECT_NE(ready->find("STATUS=UNINITIALIZED\n"), std::string::npos) << *ready;

    // Running, its loop has an update due every 100 ms, however long it may wait when idle.
    ASSERT_EQ(a.vantrel().reset(), kCallDone);
    ASSERT_TRUE(manager.wait_for("STATUS=READY", 20000));
    ASSERT_EQ(a.vantrel().run(), kCallDone);
    ASSERT_TRUE(manager.wait_for("STATUS=RUNNING", 20000));
    EXPECT_GE(manager.pings_within(2000), 3);
    // Never more often than once per half interval since the start.
    const auto elapsed_ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started).count();
    EXPECT_LE(manager.pings(), elapsed_ms / (kWatchdogMs / 2) + 1);

    // A stopped process says nothing, and carries on when it may.
    const pid_t pid = a.selector()->pid();
    ASSERT_EQ(::kill(pid, SIGSTOP), 0);
    ASSERT_TRUE(eventually([&] { return stopped(pid); }, 5000));
    while (manager.receive(0)) {
    }
    EXPECT_EQ(manager.pings_within(3 * kWatchdogMs), 0);
    ASSERT_EQ(::kill(pid, SIGCONT), 0);
    EXPECT_TRUE(manager.wait_for("WATCHDOG=1", 5000));

    EXPECT_EQ(a.stop_selector(), 0);  // "kill"
    EXPECT_TRUE(manager.wait_for("STOPPING=1", 5000));
}

TEST_F(DeploymentTest, SelectorMovesThroughTheLoadedSimulator) {
    Analyser a;
    const std::string library = VANTREL_FLEXSIM_LIBRARY;
    {
        ScopedEnv motion("VANTREL_MOTION_LIBRARY", library);
        a.start_selector();
    }
    ASSERT_TRUE(a.start_ready());
    EXPECT_TRUE(a.logged("motion library " + library));
    const std::string maps = slurp("/proc/" + std::to_string(a.selector()->pid()) + "/maps");
    EXPECT_NE(maps.find("libvantrel-flexsim.so"), std::string::npos);
    ASSERT_TRUE(a.home());
    ASSERT_TRUE(a.move_to(3));
    EXPECT_EQ(a.current_column(), 3);
    EXPECT_EQ(a.stop_selector(), 0);
}

TEST_F(DeploymentTest, UnusableMotionLibraryEndsTheStartWithItsReport) {
    const std::string partial = VANTREL_PARTIAL_LIBRARY;
    const std::string absent = "/nonexistent/libflex.so";
    const std::pair<std::string, std::string> cases[] = {
        {partial, "motion library " + partial + " lacks flex_flush_rdb"},
        {absent, "motion library " + absent + " cannot be loaded: " + absent +
                     ": cannot open shared object file: No such file or directory"},
    };
    for (const auto& [library, report] : cases) {
        Analyser a(without_peers());
        ScopedEnv motion("VANTREL_MOTION_LIBRARY", library);
        // The standard error stream, read through the standard output.
        ChildProcess selector({"/bin/sh", "-c", "exec \"$0\" \"$@\" 2>&1", helper_path("vantrel"),
                               "Vantrel", a.path("vantrel.log"), a.path("vantrel.cfg")});
        EXPECT_EQ(selector.read_line(), "dummy caught exception: " + report);
        EXPECT_EQ(selector.wait(), 0);
        EXPECT_TRUE(a.logged(report)) << a.read("vantrel.log");
    }
}

}  // namespace
