// The two-way call over iceoryx request/response (a Server and a Client of one service, each
// waiting in a WaitSet). RouDi, iceoryx's daemon, must run while any process uses iceoryx; the
// transport starts it, and a keeper process stops it with SIGTERM (on which it removes its shared
// memory) right after this program has ended.
#include "benchmarks/transports/transport.h"

#ifdef VANTREL_HAVE_ICEORYX

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <vector>

#include "benchmarks/support/processes.h"
#include "benchmarks/support/run.h"
#include "iceoryx_hoofs/log/logmanager.hpp"
#include "iceoryx_posh/popo/client.hpp"
#include "iceoryx_posh/popo/server.hpp"
#include "iceoryx_posh/popo/wait_set.hpp"
#include "iceoryx_posh/runtime/posh_runtime.hpp"

namespace vantrel::bench {
namespace {

const iox::capro::ServiceDescription kService{"VantrelBench", "Call", "PlusOne"};
// RouDi's channel for the runtimes: a Unix socket of this name in /tmp (iceoryx 2.0).
constexpr const char* kRoudiSocket = "/tmp/roudi";

void quiet_logs() {
    iox::log::LogManager::GetLogManager().SetDefaultLogLevel(
        iox::log::LogLevel::kWarn, iox::log::LogLevelOutput::kHideLogLevel);
}

// Answers requests until the request 0. False on a failure.
bool answer_requests() {
    iox::popo::Server<std::uint32_t, std::uint32_t> server(kService);
    iox::popo::WaitSet<> waitset;
    if (waitset.attachState(server, iox::popo::ServerState::HAS_REQUEST).has_error()) return false;
    for (;;) {
        waitset.wait();
        while (auto request = server.take()) {
            const std::uint32_t value = *request.value();
            if (value == 0) return true;  // the end of the run
            auto response = server.loan(request.value());
            if (response.has_error()) return false;
            *response.value() = value + 1;
            if (response.value().send().has_error()) return false;
        }
    }
}

// The server process. It ends with exit(), not _exit(): the runtime unregisters from RouDi in its
// destructor, and RouDi 2.0 aborts its own shutdown (leaving its shared memory behind) when it
// finds a registered process gone.
[[noreturn]] void serve(int cpu) {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (cpu >= 0) pin(cpu);
    quiet_logs();
    iox::runtime::PoshRuntime::initRuntime("vantrel-bench-server");
    std::exit(answer_requests() ? 0 : 1);
}

class IceoryxTransport final : public Transport {
  public:
    explicit IceoryxTransport(pid_t server) : server_(server) {
        quiet_logs();
        // Before any iceoryx object: each of them asks the runtime for its resources.
        iox::runtime::PoshRuntime::initRuntime("vantrel-bench-client");
        client_.emplace(kService);
        waitset_.emplace();
        if (waitset_->attachState(*client_, iox::popo::ClientState::HAS_RESPONSE).has_error())
            throw std::runtime_error("iceoryx: the client cannot be attached to a WaitSet");
        const auto end = Clock::now() + std::chrono::seconds(10);
        while (client_->getConnectionState() != iox::ConnectionState::CONNECTED) {
            if (Clock::now() > end) throw std::runtime_error("iceoryx: the server never connected");
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    ~IceoryxTransport() override {
        send(0);  // ends the server
        ::waitpid(server_, nullptr, 0);
        waitset_->detachState(*client_, iox::popo::ClientState::HAS_RESPONSE);
        waitset_.reset();
        client_.reset();
    }

    std::uint32_t call(std::uint32_t request) override {
        const std::int64_t id = send(request);
        for (;;) {
            waitset_->wait();
            while (auto response = client_->take()) {
                if (response.value().getResponseHeader().getSequenceId() == id)
                    return *response.value();
            }
        }
    }

  private:
    std::int64_t send(std::uint32_t value) {
        auto request = client_->loan();
        if (request.has_error()) throw std::runtime_error("iceoryx: no request could be loaned");
        request.value().getRequestHeader().setSequenceId(++sequence_);
        *request.value() = value;
        if (request.value().send().has_error())
            throw std::runtime_error("iceoryx: the request was not sent");
        return sequence_;
    }

    pid_t server_;
    std::optional<iox::popo::Client<std::uint32_t, std::uint32_t>> client_;
    std::optional<iox::popo::WaitSet<>> waitset_;
    std::int64_t sequence_ = 0;
};

std::string find_roudi() {
    const char* path = std::getenv("PATH");
    std::istringstream dirs(path ? path : "/usr/bin:/bin");
    for (std::string dir; std::getline(dirs, dir, ':');) {
        const std::string candidate = dir + "/iox-roudi";
        if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return "";
}

// The file's text without the line ends and spaces it ends with.
std::string trimmed_text_of(const std::string& path) {
    std::string text = text_of(path);
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    return text;
}

// The keeper: starts RouDi, and stops it (SIGTERM, on which it removes its shared memory and
// sockets) once the end of `ended` reads EOF or RouDi ends by itself; then removes `dir`.
[[noreturn]] void keep_roudi(const std::string& roudi, const std::string& dir, int ended) {
    const int out = ::open((dir + "/roudi.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);  // a keeper that dies takes RouDi down in order
        ::dup2(out, STDOUT_FILENO);
        ::dup2(out, STDERR_FILENO);
        ::close(ended);
        std::vector<std::string> argv{roudi, "--log-level", "warning", "--monitoring-mode", "off"};
        std::vector<char*> args;
        for (auto& a : argv) args.push_back(a.data());
        args.push_back(nullptr);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    if (pid > 0) {
        for (;;) {
            struct pollfd p {
                ended, POLLIN, 0
            };
            if (::poll(&p, 1, 100) > 0) break;                        // EOF: the program has ended
            if (::waitpid(pid, nullptr, WNOHANG) == pid) ::_exit(1);  // RouDi ended by itself
        }
        ::kill(pid, SIGTERM);
        ::waitpid(pid, nullptr, 0);
    }
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
    ::_exit(0);
}

// The write end of the keeper's pipe, open until this process ends.
int keeper_pipe = -1;

// Starts RouDi under a keeper process and waits until it takes runtimes. RouDi's shutdown sends
// SIGTERM to every process still registered with it, and a runtime stays registered until its
// process ends: so RouDi must not be stopped while this process lives. The keeper stops it when
// this process has ended (the pipe's write end closes with it). False with `why_not` set when it
// does not come up.
bool start_roudi(std::string& why_not) {
    const std::string roudi = find_roudi();
    if (roudi.empty()) {
        why_not = "iox-roudi not found on PATH (Debian package iceoryx)";
        return false;
    }
    // The RouDi of a run that has just ended takes a moment to go.
    struct stat st {};
    const auto gone = Clock::now() + std::chrono::seconds(5);
    while (::lstat(kRoudiSocket, &st) == 0) {
        if (Clock::now() > gone) {
            why_not = std::string(kRoudiSocket) + " exists: another RouDi runs on this machine";
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    char tmpl[] = "/tmp/transport_bench-roudi-XXXXXX";
    int fds[2];
    if (::mkdtemp(tmpl) == nullptr || ::pipe(fds) != 0) {
        why_not = "no directory or pipe for RouDi";
        return false;
    }
    const std::string dir = tmpl;
    const pid_t keeper = ::fork();
    if (keeper == 0) {
        ::close(fds[1]);
        keep_roudi(roudi, dir, fds[0]);
    }
    ::close(fds[0]);
    if (keeper < 0) {
        ::close(fds[1]);
        why_not = "fork failed";
        return false;
    }
    keeper_pipe = fds[1];
    const auto end = Clock::now() + std::chrono::seconds(10);
    while (::lstat(kRoudiSocket, &st) != 0) {
        const std::string log = trimmed_text_of(dir + "/roudi.log");
        if (::waitpid(keeper, nullptr, WNOHANG) == keeper) {
            why_not = "iox-roudi ended at start: " + log;
            return false;
        }
        if (Clock::now() > end) {
            why_not = "iox-roudi did not open " + std::string(kRoudiSocket) + " within 10 s";
            return false;  // the keeper stops it when this process ends
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

}  // namespace

std::unique_ptr<Transport> start_iceoryx(const Placement& placement, std::string& why_not) {
    if (!start_roudi(why_not)) return nullptr;
    std::fflush(nullptr);  // the server ends with exit(), which flushes what it inherited
    const pid_t server = ::fork();
    if (server == 0) {
        ::close(keeper_pipe);  // only this process's end keeps RouDi
        serve(placement.server_cpu);
    }
    try {
        return std::make_unique<IceoryxTransport>(server);
    } catch (const std::exception& e) {
        ::kill(server, SIGKILL);
        ::waitpid(server, nullptr, 0);
        why_not = e.what();
        return nullptr;
    }
}

}  // namespace vantrel::bench

#else  // built without iceoryx

namespace vantrel::bench {

std::unique_ptr<Transport> start_iceoryx(const Placement&, std::string& why_not) {
    why_not = "built without iceoryx: CMake found no iceoryx_posh (Debian libiceoryx-posh-dev)";
    return nullptr;
}

}  // namespace vantrel::bench

#endif
