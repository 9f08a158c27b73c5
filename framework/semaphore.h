#pragma once
// Semaphore: a counting semaphore with a maximum count, private to this process or shared by name
// with every process of the IPC scope. Opening a live named semaphore keeps its counts. Creation
// failures leave no handle (error() says why); then every wait and release fails. Nothing is
// thrown.
//
// Thread safety: wait and release may be called from any thread; close() only by the owner.

#include <cstdint>
#include <memory>
#include <string>

#include "platform/futex_semaphore.h"

namespace vantrel {

class Semaphore {
  public:
    Semaphore(long initial, long maximum);
    // Opening waits at most `open_limit_ms` for other processes opening or closing it.
    Semaphore(const std::string& name, long initial, long maximum,
              long open_limit_ms = platform::kDefaultWaitLimitMs);
    ~Semaphore();

    Semaphore(const Semaphore&) = delete;
    Semaphore& operator=(const Semaphore&) = delete;

    // Negative `milliseconds` waits without limit. True only when a count was taken in time.
    bool wait(long milliseconds);
    // Adds one count; false at the maximum or without a handle.
    bool release();
    void close();

    bool valid() const noexcept { return handle_ != nullptr; }
    // Why the semaphore could not be created or opened; empty when valid.
    const std::string& error() const noexcept { return error_; }
    bool created() const noexcept { return handle_ && handle_->created(); }

  private:
    std::unique_ptr<platform::FutexSemaphore> handle_;
    std::string error_;
};

}  // namespace vantrel
