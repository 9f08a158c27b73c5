#pragma once
// ServiceNotifier: what the main loop tells a service manager through systemd's notification
// protocol (sd_notify): READY=1 after the first cycle, STATUS=<state> whenever the state changes,
// WATCHDOG=1 while the loop cycles, STOPPING=1 on the way out. Without NOTIFY_SOCKET at
// construction it sends nothing, so a process started by hand or by a test behaves as before.
//
// The watchdog interval is the manager's (WATCHDOG_USEC, and WATCHDOG_PID when set); a ping goes
// out at most once per half interval, so the pings show that the loop still cycles, however
// fast it cycles. A message that cannot be sent is dropped: the manager then acts on the silence.
//
// Thread safety: an object belongs to the one thread that runs the main loop.

#include <chrono>
#include <string>

namespace vantrel {

class ServiceNotifier {
  public:
    ServiceNotifier();

    bool enabled() const { return enabled_; }
    // Zero when the manager asked for no watchdog.
    std::chrono::microseconds watchdog_interval() const { return watchdog_; }

    // After each cycle of the main loop, with the name of the component's state.
    void cycled(const std::string& state);
    // When the main loop has ended, whatever ended it.
    void stopping();

  private:
    void send(const std::string& message);

    bool enabled_ = false;
    bool ready_ = false;
    std::chrono::microseconds watchdog_{0};
    std::chrono::steady_clock::time_point last_ping_{};
    std::string status_;
};

}  // namespace vantrel
