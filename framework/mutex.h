#pragma once
// Mutex: a recursive lock, private to this process or shared by name with every process of the
// IPC scope. A lock whose owner ended without releasing it is obtained by the next waiter.
// Creation failures leave no handle (error() says why); then every wait and release fails. Nothing
// is thrown.
//
// Thread safety: all operations may be called from any thread; close() only by the owner of the
// object, when no other thread uses it.

#include <memory>
#include <string>

#include "platform/robust_mutex.h"

namespace vantrel {

class Mutex {
  public:
    // An unnamed mutex, owned at once by the calling thread when `initial_owner` is true.
    explicit Mutex(bool initial_owner = false);
    // Creates the mutex of that name, or opens it when some process already holds it. Opening
    // waits at most `open_limit_ms` for other processes opening or closing it.
    Mutex(const std::string& name, bool initial_owner,
          long open_limit_ms = platform::kDefaultWaitLimitMs);
    virtual ~Mutex();

    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;

    // Waits without limit. False only when there is no handle.
    bool lock();
    // Waits up to `milliseconds`; true when obtained (also from an owner that died holding it).
    bool try_lock(long milliseconds);
    bool unlock();
    void close();

    bool valid() const noexcept { return handle_ != nullptr; }
    // Why the named mutex could not be created or opened; empty when valid.
    const std::string& error() const noexcept { return error_; }
    // True when this object created the named mutex rather than opening a live one.
    bool created() const noexcept { return handle_ && handle_->created(); }

  private:
    std::unique_ptr<platform::RobustMutex> handle_;
    std::string error_;
};

// Holds a Mutex for a scope.
class MutexLock {
  public:
    explicit MutexLock(Mutex& mutex) : mutex_(mutex) { mutex_.lock(); }
    ~MutexLock() { mutex_.unlock(); }
    MutexLock(const MutexLock&) = delete;
    MutexLock& operator=(const MutexLock&) = delete;

  private:
    Mutex& mutex_;
};

}  // namespace vantrel
