#include "platform/clock.h"

#include <sched.h>

#include <cerrno>
#include <thread>

namespace vantrel::platform {

namespace detail {
std::atomic<Clock*> installed_clock{nullptr};
}

std::int64_t SystemClock::now_ns() {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

void SystemClock::sleep_ms(long milliseconds) {
    if (milliseconds <= 0) {
        sched_yield();
        return;
    }
    struct timespec ts {
        milliseconds / 1000, (milliseconds % 1000) * 1'000'000L
    };
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

void VirtualClock::sleep_ms(long milliseconds) {
    if (milliseconds > 0) advance_ms(milliseconds);
    std::this_thread::yield();
}

void install_clock(Clock* clock) {
    detail::installed_clock.store(clock, std::memory_order_release);
}

void sleep_ms(long milliseconds) {
    if (Clock* c = detail::installed_clock.load(std::memory_order_acquire)) {
        c->sleep_ms(milliseconds);
        return;
    }
    SystemClock().sleep_ms(milliseconds);
}

}  // namespace vantrel::platform
