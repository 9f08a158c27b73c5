#include "platform/robust_mutex.h"

#include <cerrno>
#include <ctime>

#include "platform/error.h"

namespace vantrel::platform {
namespace {

void init_mutex(pthread_mutex_t* mutex, bool shared) {
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST);
    if (shared) pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED);
    const int rc = pthread_mutex_init(mutex, &attr);
    pthread_mutexattr_destroy(&attr);
    if (rc != 0) throw_error(PlatformErrc::init_failed, "mutex", rc);
}

}  // namespace

RobustMutex::RobustMutex() : local_(std::make_unique<pthread_mutex_t>()) {
    mutex_ = local_.get();
    init_mutex(mutex_, false);
}

RobustMutex::RobustMutex(std::string_view name, OpenMode mode)
    : object_(std::make_unique<NamedObject>(
          ObjectKind::mutex, name, sizeof(pthread_mutex_t), mode, [](void* payload, std::size_t) {
              init_mutex(static_cast<pthread_mutex_t*>(payload), true);
          })) {
    if (object_->size() < sizeof(pthread_mutex_t))
        throw_error(PlatformErrc::open_failed, object_->path() + " is too small for a mutex", 0);
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
    struct timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const long long end = now.tv_sec * 1000000000LL + now.tv_nsec + milliseconds * 1000000LL;
    for (;;) {
        const int rc = pthread_mutex_trylock(mutex_);
        if (rc != EBUSY) return finish_lock(rc);
        clock_gettime(CLOCK_MONOTONIC, &now);
        if (now.tv_sec * 1000000000LL + now.tv_nsec >= end) return false;
        struct timespec pause {
            0, 200000
        };
        nanosleep(&pause, nullptr);
    }
#endif
    struct timespec deadline {};
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += milliseconds / 1000;
    deadline.tv_nsec += (milliseconds % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= 1000000000L;
    }
    return finish_lock(pthread_mutex_clocklock(mutex_, CLOCK_MONOTONIC, &deadline));
}

bool RobustMutex::unlock() {
    return pthread_mutex_unlock(mutex_) == 0;
}

}  // namespace vantrel::platform
