#pragma once
// CommandQueue: a ring of variable-length call records in a SharedSegment.
//
//   0   4  total segment size in bytes
//   4   4  number of records in the queue
//   8   4  read offset: where the oldest record starts
//   12  4  write offset: where the next record goes
//   16  .. ring area
//
// Offsets lie in [16, size). Equal offsets mean empty when the count is 0 and full otherwise. A
// record that reaches past the end of the segment continues at 16; one that ends exactly at the
// end leaves the write (or read) offset at 16.
//
// The header lives in memory every peer can write, and a peer may die half-way through an update.
// Every push and pop therefore checks the header first (size as mapped, offsets in range, a count
// that the used space can hold) and each popped record's length (at least its 4-byte header, no
// more than the used space, exactly the used space when it is the last record). A queue that fails
// a check is reset to empty: the records in it cannot be told apart any more, and serving garbage
// would be worse than losing them. resets() counts how often this process did that.
//
// Thread safety: push, pop and state may be called from any thread of any process; they take the
// segment lock.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "interface/call_record.h"
#include "interface/shared_segment.h"

namespace vantrel {

inline constexpr std::size_t kQueueHeaderSize = 16;

class CommandQueue : public SharedSegment {
  public:
    // The queue `name` of `size` bytes (an existing queue keeps the size it was created with),
    // opened within `open_limit_ms` (SharedSegment). Throws Exception when the segment cannot be
    // made or is too small or large for a ring.
    CommandQueue(const std::string& name, std::size_t size,
                 long open_limit_ms = platform::kDefaultWaitLimitMs);

    // Appends the record whose first two bytes give its length; `record` must hold that many.
    // False when it does not fit or its length field is below 4 or beyond `record`.
    bool push(std::span<const std::uint8_t> record);
    // The oldest record, or nothing when the queue is empty (or was found corrupted and reset).
    std::optional<RecordBytes> pop();

    struct State {
        std::int32_t size, count, read, write;
    };
    // The header as it is now (under the lock).
    State state();
    // Records queued now, 0 for a corrupted header.
    std::int32_t pending();
    // Bytes a push could use now.
    std::size_t free_space();
    // Empties the queue (discarding what it holds) and writes a fresh header.
    void reset();

    std::uint64_t resets() const { return resets_.load(); }
    std::size_t ring_size() const { return size() - kQueueHeaderSize; }

  private:
    struct Header;
    Header read_header() const;
    void write_header(const Header& h);
    // Used bytes, or nullopt when the header is not a consistent ring.
    std::optional<std::size_t> used_bytes(const Header& h) const;
    void reset_unlocked();
    // Ring-aware copies: start at `offset`, continue at 16 past the end.
    void copy_in(std::size_t offset, const std::uint8_t* from, std::size_t n);
    void copy_out(std::size_t offset, std::uint8_t* to, std::size_t n) const;
    std::size_t advance(std::size_t offset, std::size_t n) const;

    std::atomic<std::uint64_t> resets_{0};
};

}  // namespace vantrel
