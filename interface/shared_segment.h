#pragma once
// SharedSegment: a named block of shared memory with its own named lock (name + "mutex").
//
// The first process to ask creates the segment, zero-filled, at the size it asks for (created()
// is then true); later ones open the live segment and map it at the size it was created with,
// which may differ from what they asked for: size() is what is mapped, requested_size() what was
// asked. Every read and write is checked against size(): a range that leaves the mapping is
// refused (false) and nothing is copied, so a peer that made the segment smaller than we expect
// can never make us touch memory outside it.
//
// Thread safety: the locked operations may be used from any thread of any process; the unlocked
// ones are for callers that hold lock() or that use a field only one party writes.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "framework/mutex.h"
#include "platform/named_object.h"

namespace vantrel {

class SharedSegment {
  public:
    // Runs on a freshly created segment before any other process can see it.
    using Initialiser = platform::NamedObject::Initialiser;

    // Creates or opens the segment `name` and its lock, waiting at most `open_limit_ms` in all
    // for other processes opening or closing them. Throws Exception, with the cause, when either
    // can be neither created nor opened (one that another user made is refused: NamedObject).
    SharedSegment(const std::string& name, std::size_t size, bool read_only,
                  const Initialiser& init = nullptr,
                  long open_limit_ms = platform::kDefaultWaitLimitMs);
    virtual ~SharedSegment();

    SharedSegment(const SharedSegment&) = delete;
    SharedSegment& operator=(const SharedSegment&) = delete;

    // Copy n bytes under the segment lock. False when the range leaves the mapping (and, for
    // write, on a read-only segment).
    bool read(std::size_t offset, void* out, std::size_t n);
    bool write(std::size_t offset, const void* in, std::size_t n);
    // The same without the lock.
    bool read_unlocked(std::size_t offset, void* out, std::size_t n) const;
    bool write_unlocked(std::size_t offset, const void* in, std::size_t n);

    // A single 4-byte field read or stored atomically without the lock (header fields that other
    // processes read and write concurrently). `offset` must be a multiple of 4 inside the mapping;
    // out of it load gives 0 and store does nothing.
    std::int32_t load_int32(std::size_t offset) const;
    void store_int32(std::size_t offset, std::int32_t value);
    std::int32_t fetch_add_int32(std::size_t offset, std::int32_t delta);

    bool fits(std::size_t offset, std::size_t n) const {
        return offset <= size_ && n <= size_ - offset;
    }

    Mutex& lock() { return lock_; }
    const std::string& name() const { return name_; }
    std::size_t size() const { return size_; }
    std::size_t requested_size() const { return requested_size_; }
    bool read_only() const { return read_only_; }
    bool created() const { return created_; }

  protected:
    std::uint8_t* view() const { return view_; }

  private:
    SharedSegment(const std::string& name, std::size_t size, bool read_only,
                  const Initialiser& init, const platform::Deadline& deadline);
    std::atomic_ref<std::int32_t> field(std::size_t offset) const;

    Mutex lock_;
    std::string name_;
    std::unique_ptr<platform::NamedObject> mapping_;
    std::uint8_t* view_ = nullptr;
    std::size_t size_ = 0;
    std::size_t requested_size_ = 0;
    bool read_only_ = false;
    bool created_ = false;
};

}  // namespace vantrel
