#include "platform/robust_mutex.h"

#include <cerrno>
#include <ctime>

#include "platform/deadline.h"
#include "platform/error.h"

namespace vantrel::platform {
namespace {

// The attributes of one mutex. A mutex that is not robust, recursive and (for a named one) shared
// fails in ways that show only much later, so every attribute call is checked.
class MutexAttributes {
  public:
    MutexAttributes() { check(pthread_mutexattr_init(&attr_), "mutex attributes"); }
    ~MutexAttributes() { pthread_mutexattr_destroy(&attr_); }
    MutexAttributes(const MutexAttributes&) = delete;
    MutexAttributes& operator=(const MutexAttributes&) = delete;

    pthread_mutexattr_t* get() { return &attr_; }
    static void check(int rc, const char* what) {
        if (rc != 0) throw_error(PlatformErrc::init_failed, what, rc);
    }

  private:
    pthread_mutexattr_t attr_;
};

void init_mutex(pthread_mutex_t* mutex, bool shared) {
    MutexAttributes attr;
    MutexAttributes::check(pthread_mutexattr_settype(attr.get(), PTHREAD_MUTEX_RECURSIVE),
                           "recursive mutex type");
    MutexAttributes::check(pthread_mutexattr_setrobust(attr.get(), PTHREAD_MUTEX_ROBUST),
                           "robust mutex");
    if (shared)
        MutexAttributes::check(pthread_mutexattr_setpshared(attr.get(), PTHREAD_PROCESS_SHARED),
                               "mutex shared between processes");
    MutexAttributes::check(pthread_mutex_init(mutex, attr.get()), "mutex");
}

}  // namespace

RobustMutex::RobustMutex() : local_(std::make_unique<pthread_mutex_t>()) {
    mutex_ = local_.get();
    init_mutex(mutex_, false);
}

RobustMutex::RobustMutex(std::string_view name, OpenMode mode, long wait_limit_ms)
    : object_(std::make_unique<NamedObject>(
          ObjectKind::mutex, name, sizeof(pthread_mutex_t), mode,
          [](void* payload, std::size_t) {
              init_mutex(static_cast<pthread_mutex_t*>(payload), true);
          },
          wait_limit_ms)) {
    if (object_->size() < sizeof(pthread_mutex_t))
        throw_error(PlatformErrc::invalid_object, object_->path() + " is too small for a mutex", 0);
    mutex_ = static_cast<pthread_mutex_t*>(object_->data());
}

RobustMutex::~RobustMutex() {
    // A shared mutex belongs to the object; only the process-local one is ours to destroy.
    if (local_) pthread_mutex_destroy(local_.get());
}

bool RobustMutex::finish_lock(int rc) {
    if (rc == 0) return true;
    if (rc == EOWNERDEAD) {
        // The previous owner died holding it: we own it now, and make it usable again.
        pthread_mutex_consistent(mutex_);
        return true;
    }
    return false;
}

void RobustMutex::lock() {
    for (;;) {
        if (finish_lock(pthread_mutex_lock(mutex_))) return;
        // ENOTRECOVERABLE cannot happen since every owner-died lock is made consistent; anything
        // else is a broken object, for which waiting again is the only sensible choice.
        struct timespec pause {
            0, 1000000
        };
        nanosleep(&pause, nullptr);
    }
}

bool RobustMutex::try_lock(long milliseconds) {
    if (milliseconds <= 0) return finish_lock(pthread_mutex_trylock(mutex_));
#if defined(__SANITIZE_THREAD__)
    // ThreadSanitizer intercepts neither pthread_mutex_clocklock nor a timed lock from an owner
    // that died, and then reports the unlock of a lock it never saw taken. Under it, poll the
    // intercepted trylock instead.
    const Deadline deadline = Deadline::after_ms(milliseconds);
    for (;;) {
        const int rc = pthread_mutex_trylock(mutex_);
        if (rc != EBUSY) return finish_lock(rc);
        if (deadline.passed()) return false;
        struct timespec pause {
            0, 200000
        };
        nanosleep(&pause, nullptr);
    }
#endif
    const struct timespec at = Deadline::after_ms(milliseconds).at();
    return finish_lock(pthread_mutex_clocklock(mutex_, CLOCK_MONOTONIC, &at));
}

bool RobustMutex::unlock() {
    return pthread_mutex_unlock(mutex_) == 0;
}

}  // namespace vantrel::platform
