#include "platform/termination.h"

#include <atomic>
#include <csignal>

namespace vantrel::platform {
namespace {

// Signal handlers cannot reach an object, so the request is a process-wide flag.
std::atomic<bool> requested{false};

void on_signal(int) {
    requested.store(true);
}

}  // namespace

void install_termination_handler() {
    struct sigaction sa {};
    sa.sa_handler = on_signal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
}

bool termination_requested() {
    return requested.load();
}

}  // namespace vantrel::platform
