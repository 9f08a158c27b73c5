#pragma once
// Timer: an interval timer in seconds on the monotonic clock (or the clock installed for tests).
// Created stopped; start() marks it running and takes the start time. There is no stop.
// Thread safety: one Timer belongs to one thread.

namespace vantrel {

class Timer {
  public:
    // Throws Exception("Timer::Timer() -- no high performace counter present") without a
    // monotonic clock.
    Timer();
    void start();
    // Seconds since the start time while running; 0 when never started.
    double elapsed() const;
    // The start time becomes now; the running flag stays as it is.
    void restart();

  private:
    double now() const;

    double seconds_per_tick_;
    double start_time_;
    bool running_ = false;
};

// Suspends the calling thread for `milliseconds` (0 gives up the rest of the time slice).
void sleep_ms(long milliseconds);

}  // namespace vantrel
