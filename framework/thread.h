#pragma once
// Thread: base class of a worker thread whose body is the virtual thread_main. The body reads the
// stop request (a member) and returns when it is set; destruction sets it and waits, polling every
// 10 ms, for a running body to return. A derived class whose body uses its own members must make
// that body return in its own destructor, before those members go.
//
// Thread safety: stop, suspend, resume, is_running and get_name may be called from any thread;
// start from the owner.

#include <atomic>
#include <string>

#include "framework/mutex.h"
#include "platform/native_thread.h"

namespace vantrel {

class Thread {
  public:
    enum RunState : int { kRunning = 0, kSuspended = 1, kNotRunning = 2 };

    Thread(const std::string& name, int priority);
    virtual ~Thread();

    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    // Starts a new run of the body; false when one is running (or suspended) or no thread could be
    // made.
    virtual bool start();
    virtual void thread_main() = 0;
    // Asks the body to return; does not wait.
    virtual void stop();
    virtual bool suspend();
    virtual bool resume();
    // Applies an operating-system priority to the running thread; the stored priority stays.
    virtual bool set_priority(int priority);

    bool is_running();
    std::string get_name();

  protected:
    // Waits, polling every 10 ms, until a running body has returned. For derived destructors.
    void wait_for_body();

    platform::NativeThread thread_;
    int priority_;
    std::atomic<int> run_state_{kNotRunning};
    std::atomic<bool> stop_request_{false};
    std::string name_;
    Mutex lock_;

  private:
    void trampoline();
};

}  // namespace vantrel
