#pragma once
// The floor of any design that wakes the other side: two processes handing a word back and forth
// through futex words in shared memory, two hand-overs with their wake-ups and nothing else.
//
// Thread safety: a FutexWord is shared by one giver and one taker (of two processes); a Ponger
// belongs to the thread that made it.

#include <sys/types.h>

#include <atomic>
#include <cstdint>

namespace vantrel::bench {

// A futex word with a count of sleepers, so that a wake-up costs a system call only when someone
// sleeps: the cheapest way to hand over and wake. Value 0 means empty.
struct FutexWord {
    std::atomic<std::uint32_t> value;
    std::atomic<std::uint32_t> sleepers;
};

// Waits until the word is non-zero, takes its value and sets it back to 0.
std::uint32_t take(FutexWord& word);
// Puts a non-zero value in the word and wakes its taker if it sleeps.
void give(FutexWord& word, std::uint32_t value);

// Anonymous memory shared with the processes forked after it; throws std::runtime_error when it
// cannot be had. Undo with unmap_shared.
void* map_shared(std::size_t size);
void unmap_shared(void* memory, std::size_t size);

// A forked process that answers each ping with a pong, until stop() or the destructor.
class Ponger {
  public:
    Ponger();
    ~Ponger();  // kills the process when stop() was not called
    Ponger(const Ponger&) = delete;
    Ponger& operator=(const Ponger&) = delete;

    void round_trip();
    // Ends the process in order and waits for it.
    void stop();
    pid_t pid() const { return pid_; }

  private:
    struct Words {
        FutexWord ping, pong;
    };
    Words* words_;
    pid_t pid_ = -1;
};

}  // namespace vantrel::bench
