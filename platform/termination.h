#pragma once
// SIGTERM and SIGINT as a request to end in order. The handler sets a flag, which the owner polls
// (the component's main loop does so once per cycle), and calls the one registered wake-up, so
// that a thread asleep in a long wait for work learns of the request at once, whichever thread
// the signal landed on.
// Thread safety: termination_requested may be read from any thread; one TerminationWake at a time.

namespace vantrel::platform {

// Installs the handlers for SIGTERM and SIGINT (once per process).
void install_termination_handler();
bool termination_requested();

// While it exists, a termination signal also calls `wake(context)` from the signal handler, on
// whatever thread the signal is delivered to: `wake` must be async-signal-safe (lock-free atomics
// and system calls only). A second one while one is registered registers nothing (registered()
// tells). Destruction waits until a handler that is calling `wake` has returned, so `context` may
// be freed right after.
class TerminationWake {
  public:
    using Function = void (*)(void* context) noexcept;

    TerminationWake(Function wake, void* context);
    ~TerminationWake();
    TerminationWake(const TerminationWake&) = delete;
    TerminationWake& operator=(const TerminationWake&) = delete;

    bool registered() const { return registered_; }
    void call() const noexcept { wake_(context_); }

  private:
    Function wake_;
    void* context_;
    bool registered_ = false;
};

}  // namespace vantrel::platform
