#pragma once
// RobustMutex: a recursive pthread mutex that survives the death of its owner. It lives either in
// this process's memory or inside a NamedObject shared with other processes. When the owning thread
// or process dies while holding it, the next locker obtains it, repairs it, and the lock counts as
// obtained. A recursive owner may lock it again; each lock needs one unlock.
//
// Thread safety: lock/try_lock/unlock may be called from any thread; that is the point.

#include <pthread.h>

#include <memory>
#include <string_view>

#include "platform/named_object.h"

namespace vantrel::platform {

class RobustMutex {
  public:
    // A mutex for threads of this process only.
    RobustMutex();
    // The mutex `name` shared by every process of the scope (created or opened as `mode` says);
    // `wait_limit_ms` bounds the waits of opening and closing it (NamedObject). Throws
    // PlatformError.
    RobustMutex(std::string_view name, OpenMode mode, long wait_limit_ms = kDefaultWaitLimitMs);
    ~RobustMutex();

    RobustMutex(const RobustMutex&) = delete;
    RobustMutex& operator=(const RobustMutex&) = delete;

    void lock();
    // Waits at most `milliseconds` (0: do not wait). False on time-out.
    bool try_lock(long milliseconds);
    // False when the calling thread does not own the mutex.
    bool unlock();

    // True when this handle created the shared object (always true for a process-local mutex).
    bool created() const noexcept { return object_ ? object_->created() : true; }

  private:
    bool finish_lock(int rc);

    std::unique_ptr<NamedObject> object_;
    std::unique_ptr<pthread_mutex_t> local_;
    pthread_mutex_t* mutex_ = nullptr;
};

}  // namespace vantrel::platform
