#pragma once
// NativeThread: one operating-system thread that can be suspended and resumed from another thread,
// and whose scheduling priority can be changed. Linux has no call to suspend another thread, so a
// suspend request is a signal whose handler parks the thread until the resume request arrives.
//
// Thread safety: start and join belong to the owner; suspend, resume and set_priority may be called
// from any other thread while the body runs.

#include <pthread.h>
#include <sys/types.h>

#include <atomic>
#include <functional>
#include <memory>

namespace vantrel::platform {

class NativeThread {
  public:
    NativeThread();
    ~NativeThread();  // joins the thread, or leaves a parked one detached

    NativeThread(const NativeThread&) = delete;
    NativeThread& operator=(const NativeThread&) = delete;

    // Starts `body` on a new thread with the default stack size. False when no thread could be
    // made (an earlier thread of this object is joined first).
    bool start(std::function<void()> body);
    // Waits for the body to return.
    void join();
    bool started() const noexcept { return started_; }

    // Parks the thread at its next instruction; false when it has ended or could not be signalled.
    bool suspend();
    bool resume();
    // Applies a priority in the Windows sense (0 normal, positive higher, negative lower) as the
    // thread's nice value. False when the system refuses it (raising needs privileges).
    bool set_priority(int priority);

    struct Control;

  private:
    pthread_t handle_{};
    bool started_ = false;
    std::shared_ptr<Control> control_;
};

}  // namespace vantrel::platform
