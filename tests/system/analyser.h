#pragma once
// The whole analyser for system tests: the stand-in peers and the vantrel program as real
// processes, configured in a temporary directory of their own and scoped to the test's own IPC
// scope. The test process holds a client of every peer interface and sets a short call time-out
// on each, so that calls to an absent or dead peer end quickly, for the selector as for the test.
//
// Repetitions: tests take their counts from scaled(bounded, stress); `scripts/stress` sets
// VANTREL_STRESS=1 for the long versions.
//
// Thread safety: one Analyser belongs to one test thread.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <thread>

#include "interface/clients.h"
#include "tests/support/child_process.h"
#include "tests/support/ipc_test.h"

namespace vantrel::test {

// True when the long versions are asked for (VANTREL_STRESS set and not "0").
bool stress_mode();
int scaled(int bounded, int stress);

// Calls `pred` every 10 ms until it holds or `timeout_ms` passed.
template <typename Pred>
bool eventually(Pred pred, int timeout_ms = 20000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        if (pred()) return true;
        if (std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

std::string slurp(const std::string& path);
// Resident memory of a process in kB, a field of /proc/<pid>/status: "VmRSS" for all of it,
// "RssAnon" for its private memory (heap and stacks, not the shared segments); -1 when unknown.
long resident_kb(int pid, const std::string& field = "VmRSS");
// CPU time (user + system) of a process in clock ticks (/proc/<pid>/stat); -1 when unknown.
long cpu_ticks(int pid);

struct AnalyserOptions {
    bool log_server = true;
    bool supervisor = true;
    bool sipper = true;
    bool board_managers = true;
    // Call time-out of every peer interface, and of the selector's own.
    std::int32_t peer_call_timeout_ms = 500;
    std::int32_t selector_call_timeout_ms = 5000;
    int device_present = 1;
};

class Analyser {
  public:
    // Interface names of the peers.
    static constexpr const char* kLogServer = "LogServer";
    static constexpr const char* kSupervisor = "Supervisor";
    static constexpr const char* kRotary = "RotaryMC";
    static constexpr const char* kLinear = "LinearMC";
    static constexpr const char* kSipper = "Sipper";
    static constexpr int kRotorBoard = 1;
    static constexpr int kGripperBoard = 2;
    static constexpr std::int32_t kHomedMarker = static_cast<std::int32_t>(0x88000001u);

    // Writes every configuration and starts the peers that `options` asks for.
    explicit Analyser(AnalyserOptions options = {});
    ~Analyser();

    Analyser(const Analyser&) = delete;
    Analyser& operator=(const Analyser&) = delete;

    const std::string& dir() const { return dir_; }
    std::string path(const std::string& file) const { return dir_ + "/" + file; }
    void write(const std::string& file, const std::string& text) const;
    std::string read(const std::string& file) const { return slurp(path(file)); }

    // Peers by interface name.
    void start_peer(const std::string& name);
    void kill_peer(const std::string& name);
    // The running peer's process, or nullptr.
    ChildProcess* peer(const std::string& name) {
        const auto it = peers_.find(name);
        return it == peers_.end() ? nullptr : it->second.get();
    }

    // The selector process "vantrel Vantrel <dir>/vantrel.log <dir>/vantrel.cfg".
    ChildProcess& start_selector();
    // Starts it with arguments of the caller's choice (none added).
    ChildProcess& start_selector_with(const std::vector<std::string>& arguments);
    ChildProcess* selector() { return selector_.get(); }
    void kill_selector();
    // Sends "kill" and waits for the process to end; its exit code.
    int stop_selector();

    // The test's client of "Vantrel" (opened at construction).
    VantrelIF& vantrel() { return *vantrel_; }
    SipperIF& sipper() { return *sipper_; }

    // Waits until the selector answers "get_state" with `state`.
    bool wait_state(int state, int timeout_ms = 20000);
    // Starts the selector (when not running), waits for it to serve, sends "reset" and waits for
    // READY. False on a time-out or INIT_FAILED.
    bool start_ready();
    bool wait_idle(int timeout_ms = 20000);
    bool home();
    bool move_to(int column);
    std::int32_t current_column();
    std::int32_t sample_count(int column);
    bool homed();

    // Board variable of the rotor board as the board itself holds it (the board must be held by
    // its manager). nullopt when the board is absent.
    std::optional<std::int32_t> rotor_variable(int number);
    // True when the selector's log holds `text` (its lines read "<n> <stamp> <Vantrel>: text").
    bool logged(const std::string& text) const;
    // The same for a message of the motion task ("VantrelTask :" + text), waited for: the task
    // sends it to the component's own queue, which may serve it after the task has ended.
    bool task_logged(const std::string& text) const;

  private:
    void write_configs();

    AnalyserOptions options_;
    std::string dir_;
    std::map<std::string, std::unique_ptr<ChildProcess>> peers_;
    std::unique_ptr<ChildProcess> selector_;
    // Peer clients held open for the call time-outs they set.
    std::unique_ptr<NI7344IF> rotary_, linear_;
    std::unique_ptr<SipperIF> sipper_;
    std::unique_ptr<LogServerIF> log_server_;
    std::unique_ptr<SupervisorIF> supervisor_;
    std::unique_ptr<VantrelIF> vantrel_;
};

// Fixture: an IPC scope of its own and a watchdog sized for the bounded or the long version.
class SystemTest : public ::testing::Test {
  protected:
    ScopedIpcScope scope_;
    Watchdog watchdog_{stress_mode() ? 7200u : 240u};
};

}  // namespace vantrel::test
