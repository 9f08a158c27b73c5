#pragma once
// What every benchmark program's run shares: its command line, its failures, an IPC scope and a
// scratch directory of its own, and the files it reads back.
//
// Thread safety: call from the main thread; nothing here keeps state between calls.

#include <CLI/CLI.hpp>
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <thread>

namespace vantrel::bench {

using Clock = std::chrono::steady_clock;

// Ends the run with `what`: run_main reports it after the run's guards have stopped its processes
// and removed its files and objects.
[[noreturn]] void fail(const std::string& what);

// Parses the command line into `app`'s options. Null to go on, else the exit status: 0 after
// --help (the usage printed), 1 after a usage error (printed with the usage on standard error).
std::optional<int> parse_command_line(CLI::App& app, int argc, char** argv);

// Runs `run`: an exception is printed as "<program>: <what>" on standard error, exit status 1.
int run_main(const char* program, const std::function<int()>& run);

// Named objects of the run's own scope (VANTREL_IPC_SCOPE set to "<prefix>-<pid>"), whatever else
// runs on this machine; those left unheld, by processes that were killed, go with it.
class RunScope {
  public:
    explicit RunScope(const std::string& prefix);
    ~RunScope();
    RunScope(const RunScope&) = delete;
    RunScope& operator=(const RunScope&) = delete;
};

// A new private directory /tmp/<prefix>-XXXXXX, removed with all it holds.
class ScratchDir {
  public:
    explicit ScratchDir(const std::string& prefix);
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

// The directory of this program, where the build puts the programs it starts.
std::string own_dir();

// The whole text of a file; empty when it cannot be read.
std::string text_of(const std::string& path);

// Polls `pred` every `poll_ms` until it holds (true) or `timeout_ms` have passed (false).
template <typename Pred>
bool eventually(Pred pred, int timeout_ms, int poll_ms) {
    const auto end = Clock::now() + std::chrono::milliseconds(timeout_ms);
    while (Clock::now() < end) {
        if (pred()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(poll_ms));
    }
    return false;
}

}  // namespace vantrel::bench
