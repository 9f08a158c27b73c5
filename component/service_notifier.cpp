#include "component/service_notifier.h"

#include <systemd/sd-daemon.h>

#include <cstdint>
#include <cstdlib>

namespace vantrel {

ServiceNotifier::ServiceNotifier() {
    const char* socket = std::getenv("NOTIFY_SOCKET");
    enabled_ = socket != nullptr && socket[0] != '\0';
    if (!enabled_) return;
    std::uint64_t usec = 0;
    // The variables stay set (unsetting them would race with other threads); the units listen to
    // the main process only (NotifyAccess=main), so a child that inherits them is not heard.
    if (sd_watchdog_enabled(0, &usec) > 0) watchdog_ = std::chrono::microseconds(usec);
}

void ServiceNotifier::cycled(const std::string& state) {
    if (!enabled_) return;
    std::string message;
    if (!ready_) message = "READY=1\n";
    if (!ready_ || state != status_) message += "STATUS=" + state + "\n";
    const auto now = std::chrono::steady_clock::now();
    if (watchdog_.count() > 0 && (!ready_ || now - last_ping_ >= watchdog_ / 2)) {
        message += "WATCHDOG=1\n";
        last_ping_ = now;
    }
    ready_ = true;
    status_ = state;
    if (!message.empty()) send(message);
}

void ServiceNotifier::stopping() {
    if (enabled_) send("STOPPING=1\nSTATUS=stopping\n");
}

void ServiceNotifier::send(const std::string& message) {
    sd_notify(0, message.c_str());  // a failure leaves the manager to its own limits
}

}  // namespace vantrel
