#pragma once
// InterfaceClient: the calling side of an interface. A concrete client class enters its
// operations in its constructor (layout().add_one_way / add_two_way...) and then has one short stub
// per operation:
//
//   int VantrelIF::get_column_type(int column, std::string& type) {
//       return call_two_way(get_column_type_, {column}, {type});
//   }
//   int VantrelIF::set_current_column(int column) { return call_one_way(set_current_column_,
//   {column}); }
//
// Both return a CallResult code (0 to 6) and never throw on a failure of the peer or the queue.
// Outputs are set to their zero before anything else and stay so on every non-zero result.
// A mismatch between a stub's values and its operation's table is a fault of the stub and throws
// Exception.
//
// Time limits: by default every wait of a two-way call (the action mutex, then the completion)
// takes the interface's shared call time-out, which whoever created the interface set. A client
// may instead set a limit of its own (set_own_timeout): it lives only in this object, never
// touches the shared value, and bounds the whole two-way call, both waits together.
//
// Thread safety: one client object is used by one thread at a time. Two-way calls of all clients of
// one interface name, in any process, are serialised by the action mutex.

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <variant>

#include "interface/component_interface.h"
#include "interface/operation.h"
#include "interface/value.h"

namespace vantrel {

// Where a two-way call stores one result.
class Out {
  public:
    Out(std::int32_t& target) : target_(&target) {}
    Out(bool& target) : target_(&target) {}
    Out(double& target) : target_(&target) {}
    Out(std::string& target) : target_(&target) {}
    // A caller's text buffer of `capacity` bytes (at least 1): the text is cut to fit with its NUL.
    Out(char* buffer, std::size_t capacity) : target_(Buffer{buffer, capacity}) {}

    WireType type() const;
    // Sets the target to its zero (empty text).
    void clear() const;
    // Stores `value`, which must be of type().
    void store(const Value& value) const;

  private:
    struct Buffer {
        char* data;
        std::size_t capacity;
    };
    std::variant<std::int32_t*, bool*, double*, std::string*, Buffer> target_;
};

class InterfaceClient : public ComponentInterface {
  public:
    explicit InterfaceClient(std::string name);

    // This object's own limit for a whole two-way call, in milliseconds (negative: no limit), in
    // place of the shared call time-out; nullopt goes back to the shared one.
    void set_own_timeout(std::optional<std::int32_t> milliseconds) { own_timeout_ = milliseconds; }
    const std::optional<std::int32_t>& own_timeout() const { return own_timeout_; }

  protected:
    // The one-way call: push the record, release the start signal; no waiting, no call id.
    int call_one_way(const Operation& op, std::initializer_list<Value> arguments);
    // The two-way call: under the action mutex, with a fresh call id, wait for the completion and
    // read the operation's result slots into `results` (one per slot, in order).
    int call_two_way(const Operation& op, std::initializer_list<Value> arguments,
                     std::initializer_list<Out> results = {});

  private:
    std::optional<std::int32_t> own_timeout_;
};

}  // namespace vantrel
