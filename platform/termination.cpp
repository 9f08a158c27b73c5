#include "platform/termination.h"

#include <sched.h>

#include <atomic>
#include <cerrno>
#include <csignal>

namespace vantrel::platform {
namespace {

// Signal handlers cannot reach an object, so the request and the wake-up are process-wide.
std::atomic<bool> requested{false};
std::atomic<const TerminationWake*> registered_wake{nullptr};
// Handlers between reading registered_wake and returning from its call.
std::atomic<int> handlers_calling{0};

static_assert(std::atomic<const TerminationWake*>::is_always_lock_free);
static_assert(std::atomic<int>::is_always_lock_free);

void on_signal(int) {
    const int interrupted_errno =
        errno;  // the wake-up is a system call; the thread's errno is not ours
    requested.store(true);
    handlers_calling.fetch_add(1);
    if (const TerminationWake* wake = registered_wake.load()) wake->call();
    handlers_calling.fetch_sub(1);
    errno = interrupted_errno;
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

TerminationWake::TerminationWake(Function wake, void* context) : wake_(wake), context_(context) {
    const TerminationWake* none = nullptr;
    registered_ = registered_wake.compare_exchange_strong(none, this);
}

TerminationWake::~TerminationWake() {
    if (!registered_) return;
    registered_wake.store(nullptr);
    // A handler on another thread may have read the pointer just before: it finishes in a few
    // instructions and a system call. One on this thread has finished before we get here.
    while (handlers_calling.load() != 0) ::sched_yield();
}

}  // namespace vantrel::platform
