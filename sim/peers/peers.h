#pragma once
// Stand-ins for the peer processes of the analyser that the column selector calls: each a small
// component built on the framework, started with the usual three arguments and its own
// configuration file, serving only what this system calls.
//
//   BoardManager  "get_ID" under its interface name ("RotaryMC", "LinearMC"): the identifier of a
//                 simulated board, which the process keeps alive (keys BOARD_ID, and optionally
//                 REFERENCE_POSITION, the place of the axis-4 reference switch in counts).
//   Sipper        "get_inhibit_state": the kill switch; "emergency" trips it and
//                 "reset_error_state" clears it.
//   LogServer     "add_log_msg": each message becomes a line of its own log file.
//   Supervisor    the common operations only.
//
// Thread safety: like every component, all of it runs on the process's main thread.

#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "component/component.h"
#include "component/component_ifs.h"
#include "sim/board.h"

namespace vantrel::sim {

class BoardManager : public Component {
  public:
    BoardManager(const std::string& name, const std::string& log_file,
                 const std::string& config_file);
    void update() override {}
    int board_id() const { return board_id_; }

  private:
    int board_id_ = 0;
    std::unique_ptr<BoardHandle> board_;
};

class Sipper : public Component {
  public:
    Sipper(const std::string& name, const std::string& log_file, const std::string& config_file);
    void update() override {}
    int inhibit_state() const { return inhibit_; }
    void set_inhibit_state(int state);
    // Runs `hook` on the serving thread at each "get_inhibit_state" before it is answered, so that
    // an in-process test can act (trip the switch, inject a fault) at a known step of its caller.
    // Setting the hook waits for a running one to end; what the hook did is then seen by the
    // thread that set it.
    void on_poll(std::function<void()> hook) {
        std::lock_guard<std::mutex> hold(hook_lock_);
        poll_hook_ = std::move(hook);
    }
    void polled() {
        std::lock_guard<std::mutex> hold(hook_lock_);
        if (poll_hook_) poll_hook_();
    }

  private:
    int inhibit_ = 0;
    std::mutex hook_lock_;
    std::function<void()> poll_hook_;
};

class LogServer : public Component {
  public:
    LogServer(const std::string& name, const std::string& log_file, const std::string& config_file);
    void update() override {}
    // Its own messages go straight to its own log, never to itself through its interface.
    bool initialize() override;
    void add_log_msg(const std::string& message);
};

class Supervisor : public Component {
  public:
    Supervisor(const std::string& name, const std::string& log_file,
               const std::string& config_file);
    void update() override {}
};

}  // namespace vantrel::sim
