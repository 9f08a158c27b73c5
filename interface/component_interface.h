#pragma once
// ComponentInterface: one named interface between processes, the part that client and server share.
//
// For an interface name N, open() creates or opens (first process creates, later ones open):
//   N + "_properties"           SharedSegment: header and result slots (lock N +
//   "_propertiesmutex") N + "_cmdQ"                 CommandQueue of call records (lock N +
//   "_cmdQmutex") N + "_action_start_signal"  semaphore (0, 100): one count per record pushed N +
//   "_action_done_signal"   semaphore (0, 1): one completion of a two-way call N + "_action_mutex"
//   mutex: serialises two-way calls across all processes
//
// Properties header (little-endian, signed 32-bit): call counter at 0 (id of the latest two-way
// call), completed call id at 4, call time-out in milliseconds at 8 (20000 in a fresh segment; -1
// or any negative value means no limit). Result slots follow from 12, laid out by the concrete
// class through layout().
//
// A smaller properties segment than the class needs (another class with fewer slots created it):
// open() still succeeds and maps the segment as it was created, so every operation whose slots fit
// keeps working. slots_fit() tells which do not; the client refuses to call those (result 6) and
// the server refuses to run them, and no slot outside the mapping is ever read or written.
//
// Thread safety: one object is used by one thread at a time; any number of objects of one name, in
// any threads and processes, may be used at once.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "framework/mutex.h"
#include "framework/semaphore.h"
#include "interface/command_queue.h"
#include "interface/operation.h"
#include "interface/shared_segment.h"
#include "interface/value.h"

namespace vantrel {

// Result of every client call.
enum CallResult : int {
    kCallDone = 0,             // done; a two-way call's outputs hold its results
    kCallNoRecord = 1,         // the record could not be built
    kCallMutexTimeout = 2,     // the action mutex was not obtained within the call time-out
    kCallQueueFull = 3,        // the record did not fit in the command queue (or the queue's
                               // lock was held beyond its limit by a stuck peer)
    kCallNoCompletion = 4,     // no completion within the call time-out
    kCallOtherCompletion = 5,  // a completion came, but for another call id
    kCallNotOpen = 6,          // the interface (or, for this operation, its result slots) unusable,
                               // or the results could not be read (lock held beyond its limit)
};

const char* describe_call_result(int result);

class ComponentInterface {
  public:
    static constexpr std::size_t kCallCounterOffset = 0;
    static constexpr std::size_t kCompletedCallIdOffset = 4;
    static constexpr std::size_t kCallTimeoutOffset = 8;
    static constexpr std::int32_t kDefaultCallTimeoutMs = 20000;
    // Queue size of every concrete interface class.
    static constexpr std::size_t kQueueSize = 1000000;
    static constexpr long kStartSignalMaximum = 100;

    explicit ComponentInterface(std::string name);
    virtual ~ComponentInterface();

    ComponentInterface(const ComponentInterface&) = delete;
    ComponentInterface& operator=(const ComponentInterface&) = delete;

    // Creates or opens every object of the interface, waiting at most open_limit() in all for
    // other processes opening or closing them. True when usable (also when already open). On
    // failure (an object of another user, a damaged one, a limit reached) everything made so far
    // is closed again and open_error() says why, naming the object.
    virtual bool open();
    bool is_open() const { return open_; }
    const std::string& open_error() const { return open_error_; }
    // The limit of open() (and of closing each object), in milliseconds; not below 0.
    void set_open_limit(long milliseconds) { open_limit_ms_ = milliseconds < 0 ? 0 : milliseconds; }
    long open_limit() const { return open_limit_ms_; }
    const std::string& name() const { return name_; }
    // True when this object created the properties segment (and so wrote its fresh header).
    bool properties_created() const { return properties_ && properties_->created(); }

    // Header fields, unlocked single 4-byte accesses. 0 (or nothing) before open.
    // next_call_id is for holders of the action mutex.
    std::int32_t next_call_id();
    std::int32_t completed_call_id() const;
    void set_completed_call_id(std::int32_t id);
    std::int32_t call_timeout() const;
    // Shared by every process using this interface name.
    void set_call_timeout(std::int32_t milliseconds);

    const InterfaceLayout& layout() const { return layout_; }
    std::optional<std::uint16_t> operation_code(std::string_view name) const {
        return layout_.code_of(name);
    }
    // What this class creates: header plus its slots; and its queue size.
    std::size_t properties_size() const { return layout_.properties_size(); }
    std::size_t queue_size() const { return queue_size_; }
    // The properties segment as mapped; 0 before open.
    std::size_t mapped_properties_size() const;
    // True when every result slot of `op` lies inside the mapped properties segment.
    bool slots_fit(const Operation& op) const;

    // Result slots, under the properties lock. write_slot writes an integer or truth value as 4
    // bytes, a real as 8, and a text as its first 4095 characters plus the NUL, leaving the rest of
    // the slot as it was. False when not open, the slot is outside the mapping or the value is
    // not of the slot's type.
    bool write_slot(const Slot& slot, const Value& value);
    std::optional<Value> read_slot(const Slot& slot);

  protected:
    InterfaceLayout& layout() { return layout_; }
    void set_queue_size(std::size_t size) { queue_size_ = size; }

    SharedSegment* properties() { return properties_.get(); }
    CommandQueue* queue() { return queue_.get(); }
    Semaphore* start_signal() { return start_signal_.get(); }
    Semaphore* done_signal() { return done_signal_.get(); }
    Mutex* action_mutex() { return action_mutex_.get(); }
    void mark_closed(const std::string& why);

  private:
    void close_objects();

    InterfaceLayout layout_;  // the operation table and the result slots
    std::string name_;
    std::unique_ptr<SharedSegment> properties_;
    std::unique_ptr<CommandQueue> queue_;
    std::unique_ptr<Semaphore> start_signal_;
    std::unique_ptr<Semaphore> done_signal_;
    std::unique_ptr<Mutex> action_mutex_;
    std::size_t queue_size_ = 0;
    long open_limit_ms_ = platform::kDefaultWaitLimitMs;
    bool open_ = false;
    std::string open_error_;
};

}  // namespace vantrel
