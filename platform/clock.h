#pragma once
// The one source of time for timers and sleeps. By default the monotonic clock and real sleeps;
// a test may install a VirtualClock, whose sleeps advance time at once, so that limits of tens of
// seconds run in microseconds.
//
// Thread safety: now_ns and sleep_for_ms may be called from any thread. install_clock is meant for
// test set-up, while no other thread reads the clock.

#include <atomic>
#include <cstdint>
#include <ctime>
#include <mutex>

namespace vantrel::platform {

class Clock {
  public:
    virtual ~Clock() = default;
    // Nanoseconds on a monotonic time line with an arbitrary origin.
    virtual std::int64_t now_ns() = 0;
    virtual void sleep_ms(long milliseconds) = 0;
};

// The monotonic clock and real sleeps (0 ms yields the processor).
class SystemClock final : public Clock {
  public:
    std::int64_t now_ns() override;
    void sleep_ms(long milliseconds) override;
};

// Time that moves only when someone sleeps or advances it.
class VirtualClock final : public Clock {
  public:
    explicit VirtualClock(std::int64_t start_ns = 1'000'000'000) : now_(start_ns) {}
    std::int64_t now_ns() override { return now_.load(); }
    // Advances time by the sleep and yields, so other threads get to run.
    void sleep_ms(long milliseconds) override;
    void advance_ms(long milliseconds) { now_.fetch_add(std::int64_t{milliseconds} * 1'000'000); }

  private:
    std::atomic<std::int64_t> now_;
};

// Installs `clock` for the whole process (nullptr: back to the system clock).
void install_clock(Clock* clock);

namespace detail {
extern std::atomic<Clock*> installed_clock;
}

// Current time in nanoseconds: a direct clock read unless a clock is installed.
inline std::int64_t now_ns() {
    if (Clock* c = detail::installed_clock.load(std::memory_order_acquire)) return c->now_ns();
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

// Sleeps on the installed clock.
void sleep_ms(long milliseconds);

// Installs a clock for the lifetime of this guard.
class ScopedClock {
  public:
    explicit ScopedClock(Clock& clock) { install_clock(&clock); }
    ~ScopedClock() { install_clock(nullptr); }
    ScopedClock(const ScopedClock&) = delete;
    ScopedClock& operator=(const ScopedClock&) = delete;
};

}  // namespace vantrel::platform
