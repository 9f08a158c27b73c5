#pragma once
// Deadline: the moment on the monotonic clock by which a wait must end, or no limit at all. It is
// the one place where a limit in milliseconds becomes what the kernel's timed waits take: a
// relative time-out (futex) or an absolute one on CLOCK_MONOTONIC (pthread_mutex_clocklock).
// Always the real clock, never an installed test clock (platform/clock.h): the kernel measures
// these waits on its own.
//
// Thread safety: a Deadline is a plain value.

#include <cstdint>
#include <ctime>

namespace vantrel::platform {

// Nanoseconds on CLOCK_MONOTONIC.
std::int64_t monotonic_ns();

class Deadline {
  public:
    // `milliseconds` from now; a negative value means no limit.
    static Deadline after_ms(long milliseconds);
    static Deadline never() { return Deadline(-1); }

    bool unlimited() const noexcept { return end_ns_ < 0; }
    bool passed() const;
    // Time left, at least 0; for no limit, the largest value.
    std::int64_t left_ns() const;
    // Time left in whole milliseconds, rounded up so that a short rest is not taken for none;
    // -1 for no limit.
    long left_ms() const;
    // Time left as a relative time-out.
    struct timespec left() const;
    // The deadline as an absolute time on CLOCK_MONOTONIC.
    struct timespec at() const;

  private:
    explicit Deadline(std::int64_t end_ns) : end_ns_(end_ns) {}
    std::int64_t end_ns_;
};

}  // namespace vantrel::platform
