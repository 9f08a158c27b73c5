#include "framework/timer.h"

#include <ctime>

#include "platform/clock.h"
#include "platform/exception.h"

namespace vantrel {

Timer::Timer() {
    struct timespec res {};
    if (clock_getres(CLOCK_MONOTONIC, &res) != 0)
        throw Exception("Timer::Timer() -- no high performace counter present");
    seconds_per_tick_ = 1e-9;  // the clock counts nanoseconds
    start_time_ = now();
}

double Timer::now() const {
    return static_cast<double>(platform::now_ns()) * seconds_per_tick_;
}

void Timer::start() {
    if (running_) return;
    running_ = true;
    start_time_ = now();
}

double Timer::elapsed() const {
    return running_ ? now() - start_time_ : 0.0;
}

void Timer::restart() {
    start_time_ = now();
}

void sleep_ms(long milliseconds) {
    platform::sleep_ms(milliseconds);
}

}  // namespace vantrel
