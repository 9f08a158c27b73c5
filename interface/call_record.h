#pragma once
// Call records: the binary entries of the command queue.
//
//   0  2  record length in bytes, unsigned, including this 4-byte header
//   2  2  operation code, unsigned
//   4  .. arguments, packed in the order of the operation's parameter list
//   .. 4  call id, signed: two-way calls only
//
// encode_call builds a record from an Operation and its values; CallRecord decodes one that came
// out of the queue. Decoding trusts nothing in the bytes: a record shorter than its operation's
// layout, or whose length field disagrees with its size, is refused as a whole, so no argument is
// ever read from outside it. A longer record is decoded from the layout's fixed offsets; whatever
// follows the layout is ignored.

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "interface/operation.h"
#include "interface/value.h"

namespace vantrel {

using RecordBytes = std::vector<std::uint8_t>;

// Builds the record of `op` with `arguments` (one value per parameter, of its type) and, for a
// two-way operation, `call_id`. Throws Exception when the values do not match the parameters
// (a fault of the calling code, not of the peer).
RecordBytes encode_call(const Operation& op, std::span<const Value> arguments,
                        std::int32_t call_id = 0);

// The decoded arguments of one record, with typed access by position.
class Arguments {
  public:
    Arguments() = default;
    Arguments(std::vector<Value> values, std::int32_t call_id)
        : values_(std::move(values)), call_id_(call_id) {}

    std::size_t size() const { return values_.size(); }
    const Value& at(std::size_t index) const { return values_.at(index); }
    // Typed readers; they throw std::bad_variant_access when the operation's table says
    // otherwise, which is a fault of the dispatching code.
    std::int32_t integer(std::size_t index) const { return std::get<std::int32_t>(at(index)); }
    bool truth(std::size_t index) const { return std::get<bool>(at(index)); }
    double real(std::size_t index) const { return std::get<double>(at(index)); }
    const std::string& text(std::size_t index) const { return std::get<std::string>(at(index)); }
    // The call id of a two-way record (0 for a one-way one).
    std::int32_t call_id() const { return call_id_; }

  private:
    std::vector<Value> values_;
    std::int32_t call_id_ = 0;
};

class CallRecord {
  public:
    explicit CallRecord(RecordBytes bytes) : bytes_(std::move(bytes)) {}

    const RecordBytes& bytes() const { return bytes_; }
    std::size_t size() const { return bytes_.size(); }
    // The header fields; 0 when the record is too short to hold them.
    std::uint16_t length() const;
    std::uint16_t code() const;

    // Why decode() refuses this record for `op`; empty when it does not.
    std::string check(const Operation& op) const;
    // The arguments (and call id) of `op` from this record; nullopt when check() refuses it.
    std::optional<Arguments> decode(const Operation& op) const;

  private:
    RecordBytes bytes_;
};

}  // namespace vantrel
