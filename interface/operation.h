#pragma once
// The operations of an interface class and the result slots they answer in.
//
// An interface class (a client or a server of one component kind) describes itself in its
// constructor through its InterfaceLayout: it lays out its result slots one after the other from
// the current properties size, and enters each operation with its name, its 16-bit code, the types
// of its arguments and, for a two-way operation, the slots of its results. From that description
// follow the record length, the argument offsets and the offset of the call id, so client and
// server encode and decode records from one table instead of hand-written offsets.
//
// Thread safety: a layout is filled by constructors and read-only afterwards.

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "interface/value.h"

namespace vantrel {

// One result slot in the properties segment.
struct Slot {
    std::size_t offset = 0;
    WireType type = WireType::integer;
    std::size_t size() const { return wire_size(type); }
    std::size_t end() const { return offset + size(); }
};

enum class CallKind : std::uint8_t { one_way, two_way };

struct Operation {
    std::string name;
    std::uint16_t code = 0;
    CallKind kind = CallKind::one_way;
    std::vector<WireType> arguments;
    std::vector<Slot> results;  // two-way only; may be empty

    // Header, arguments, and the call id of a two-way call.
    std::size_t record_length() const;
    // Record offset of argument `index` (the header is 4 bytes).
    std::size_t argument_offset(std::size_t index) const;
    // Record offset of the call id of a two-way call: right after the arguments.
    std::size_t call_id_offset() const;
    // End of the last result slot (0 without results).
    std::size_t results_end() const;
};

// Size of the properties header: call counter, completed call id, call time-out.
inline constexpr std::size_t kPropertiesHeaderSize = 12;
// Records carry their length in 16 bits.
inline constexpr std::size_t kMaxRecordLength = 0xFFFF;
inline constexpr std::size_t kRecordHeaderSize = 4;

class InterfaceLayout {
  public:
    // A result slot of `type` at the current properties size, which it then advances.
    Slot add_slot(WireType type);
    // Enters a one-way operation. Throws Exception when the name or code is taken or its record
    // would not fit in a 16-bit length.
    Operation add_one_way(std::string name, std::uint16_t code, std::vector<WireType> arguments);
    // Enters a two-way operation answering in `results` (slots laid out before, in any order).
    Operation add_two_way(std::string name, std::uint16_t code, std::vector<WireType> arguments,
                          std::vector<Slot> results);
    // Lays out one slot per result type, in order, then enters the operation.
    Operation add_two_way_with_slots(std::string name, std::uint16_t code,
                                     std::vector<WireType> arguments,
                                     const std::vector<WireType>& result_types);

    const Operation* find(std::uint16_t code) const;
    const Operation* find(std::string_view name) const;
    std::optional<std::uint16_t> code_of(std::string_view name) const;

    // Header plus every slot laid out so far: the size this class creates its segment with.
    std::size_t properties_size() const { return properties_size_; }
    void clear();

  private:
    Operation add(Operation op);

    std::map<std::string, std::uint16_t, std::less<>> codes_;  // name to code
    std::map<std::uint16_t, Operation> operations_;
    std::size_t properties_size_ = kPropertiesHeaderSize;
};

}  // namespace vantrel
