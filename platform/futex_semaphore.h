#pragma once
// FutexSemaphore: a counting semaphore with a maximum count, built on one futex word. It lives in
// this process's memory or inside a NamedObject shared by every process of the scope. Opening an
// existing named semaphore keeps its counts.
//
// Thread safety: wait and release may be called from any thread of any process holding it.

#include <atomic>
#include <cstdint>
#include <memory>
#include <string_view>

#include "platform/named_object.h"

namespace vantrel::platform {

struct SemaphoreState {
    std::atomic<std::uint32_t> count;
    std::uint32_t maximum;
    std::atomic<std::uint32_t> waiters;  // lets release skip the wake-up call when nobody waits
};

class FutexSemaphore {
  public:
    // A semaphore for threads of this process only.
    FutexSemaphore(std::uint32_t initial, std::uint32_t maximum);
    // The semaphore `name` shared by the scope; initial and maximum apply only when it is created.
    // `wait_limit_ms` bounds the waits of opening and closing it (NamedObject). Throws
    // PlatformError.
    FutexSemaphore(std::string_view name, std::uint32_t initial, std::uint32_t maximum,
                   OpenMode mode, long wait_limit_ms = kDefaultWaitLimitMs);

    FutexSemaphore(const FutexSemaphore&) = delete;
    FutexSemaphore& operator=(const FutexSemaphore&) = delete;

    // Takes one count, waiting at most `milliseconds` (negative: no limit). False on time-out.
    bool wait(long milliseconds);
    // Adds one count; false at the maximum.
    bool release();

    std::uint32_t count() const noexcept { return state_->count.load(); }
    std::uint32_t maximum() const noexcept { return state_->maximum; }
    bool created() const noexcept { return object_ ? object_->created() : true; }

  private:
    std::unique_ptr<NamedObject> object_;
    std::unique_ptr<SemaphoreState> local_;
    SemaphoreState* state_ = nullptr;
    bool shared_ = false;
};

}  // namespace vantrel::platform
