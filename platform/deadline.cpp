#include "platform/deadline.h"

#include <limits>

namespace vantrel::platform {
namespace {

constexpr std::int64_t kNsPerMs = 1'000'000;
constexpr std::int64_t kNsPerS = 1'000'000'000;

struct timespec to_timespec(std::int64_t ns) {
    struct timespec ts {};
    ts.tv_sec = static_cast<time_t>(ns / kNsPerS);
    ts.tv_nsec = static_cast<long>(ns % kNsPerS);
    return ts;
}

}  // namespace

std::int64_t monotonic_ns() {
    struct timespec ts {};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * kNsPerS + ts.tv_nsec;
}

Deadline Deadline::after_ms(long milliseconds) {
    if (milliseconds < 0) return never();
    return Deadline(monotonic_ns() + static_cast<std::int64_t>(milliseconds) * kNsPerMs);
}

bool Deadline::passed() const {
    return !unlimited() && monotonic_ns() >= end_ns_;
}

std::int64_t Deadline::left_ns() const {
    if (unlimited()) return std::numeric_limits<std::int64_t>::max();
    const std::int64_t left = end_ns_ - monotonic_ns();
    return left > 0 ? left : 0;
}

long Deadline::left_ms() const {
    if (unlimited()) return -1;
    return static_cast<long>((left_ns() + kNsPerMs - 1) / kNsPerMs);
}

struct timespec Deadline::left() const {
    return to_timespec(left_ns());
}

struct timespec Deadline::at() const {
    return to_timespec(unlimited() ? std::numeric_limits<std::int64_t>::max() : end_ns_);
}

}  // namespace vantrel::platform
