#include "platform/futex_semaphore.h"

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

#include "platform/deadline.h"
#include "platform/error.h"

namespace vantrel::platform {
namespace {

static_assert(sizeof(std::atomic<std::uint32_t>) == sizeof(std::uint32_t));
static_assert(std::atomic<std::uint32_t>::is_always_lock_free);

std::uint32_t* word(std::atomic<std::uint32_t>& a) {
    return reinterpret_cast<std::uint32_t*>(&a);
}

long futex(std::uint32_t* addr, int op, std::uint32_t value, const struct timespec* timeout) {
    return ::syscall(SYS_futex, addr, op, value, timeout, nullptr, 0);
}

}  // namespace

FutexSemaphore::FutexSemaphore(std::uint32_t initial, std::uint32_t maximum)
    : local_(std::make_unique<SemaphoreState>()) {
    state_ = local_.get();
    state_->count.store(initial);
    state_->maximum = maximum;
    state_->waiters.store(0);
}

FutexSemaphore::FutexSemaphore(std::string_view name, std::uint32_t initial, std::uint32_t maximum,
                               OpenMode mode, long wait_limit_ms)
    : object_(std::make_unique<NamedObject>(
          ObjectKind::semaphore, name, sizeof(SemaphoreState), mode,
          [&](void* payload, std::size_t) {
              auto* s = static_cast<SemaphoreState*>(payload);
              s->count.store(initial);
              s->maximum = maximum;
          },
          wait_limit_ms)),
      shared_(true) {
    if (object_->size() < sizeof(SemaphoreState))
        throw_error(PlatformErrc::invalid_object, object_->path() + " is too small for a semaphore",
                    0);
    state_ = static_cast<SemaphoreState*>(object_->data());
}

bool FutexSemaphore::wait(long milliseconds) {
    const int op = shared_ ? FUTEX_WAIT : FUTEX_WAIT_PRIVATE;
    const Deadline deadline = Deadline::after_ms(milliseconds);
    for (;;) {
        std::uint32_t c = state_->count.load();
        while (c > 0) {
            if (state_->count.compare_exchange_weak(c, c - 1)) return true;
        }
        struct timespec left {};
        const struct timespec* timeout = nullptr;
        if (!deadline.unlimited()) {
            if (deadline.passed()) return false;
            left = deadline.left();
            timeout = &left;
        }
        state_->waiters.fetch_add(1);
        // Sleeps only while the count is still 0; a release in between makes it return at once.
        futex(word(state_->count), op, 0, timeout);
        state_->waiters.fetch_sub(1);
    }
}

bool FutexSemaphore::release() {
    std::uint32_t c = state_->count.load();
    do {
        if (c >= state_->maximum) return false;
    } while (!state_->count.compare_exchange_weak(c, c + 1));
    if (state_->waiters.load() > 0)
        futex(word(state_->count), shared_ ? FUTEX_WAKE : FUTEX_WAKE_PRIVATE, 1, nullptr);
    return true;
}

}  // namespace vantrel::platform
