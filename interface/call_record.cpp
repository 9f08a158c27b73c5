#include "interface/call_record.h"

#include <cstring>

#include "platform/exception.h"

namespace vantrel {
namespace {

std::uint16_t get_u16(const std::uint8_t* at) {
    std::uint16_t value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

void put_u16(std::uint8_t* at, std::uint16_t value) {
    std::memcpy(at, &value, sizeof value);
}

}  // namespace

RecordBytes encode_call(const Operation& op, std::span<const Value> arguments,
                        std::int32_t call_id) {
    if (arguments.size() != op.arguments.size())
        throw Exception("encode_call() -- \"" + op.name + "\" takes " +
                        std::to_string(op.arguments.size()) + " arguments, " +
                        std::to_string(arguments.size()) + " given");
    const std::size_t length = op.record_length();
    if (length > kMaxRecordLength)
        throw Exception("encode_call() -- record of \"" + op.name + "\" is too long");
    RecordBytes record(length);
    put_u16(record.data(), static_cast<std::uint16_t>(length));
    put_u16(record.data() + 2, op.code);
    for (std::size_t i = 0; i < arguments.size(); ++i)
        put_value(record.data() + op.argument_offset(i), op.arguments[i], arguments[i]);
    if (op.kind == CallKind::two_way) put_int32(record.data() + op.call_id_offset(), call_id);
    return record;
}

std::uint16_t CallRecord::length() const {
    return bytes_.size() >= 2 ? get_u16(bytes_.data()) : 0;
}

std::uint16_t CallRecord::code() const {
    return bytes_.size() >= kRecordHeaderSize ? get_u16(bytes_.data() + 2) : 0;
}

std::string CallRecord::check(const Operation& op) const {
    if (bytes_.size() < kRecordHeaderSize) return "record shorter than its header";
    if (code() != op.code) return "record is not one of \"" + op.name + "\"";
    const std::size_t expected = op.record_length();
    // The length field must say what we hold, and that must reach the end of the layout: a shorter
    // record would have us read past it. A longer one holds every argument and the call id at
    // their fixed offsets; the bytes after them are not ours to read.
    if (length() != bytes_.size() || bytes_.size() < expected)
        return "record of \"" + op.name + "\" is " + std::to_string(length()) +
               " bytes, its layout " + std::to_string(expected);
    return {};
}

std::optional<Arguments> CallRecord::decode(const Operation& op) const {
    if (!check(op).empty()) return std::nullopt;
    std::vector<Value> values;
    values.reserve(op.arguments.size());
    for (std::size_t i = 0; i < op.arguments.size(); ++i)
        values.push_back(get_value(bytes_.data() + op.argument_offset(i), op.arguments[i]));
    const std::int32_t id =
        op.kind == CallKind::two_way ? get_int32(bytes_.data() + op.call_id_offset()) : 0;
    return Arguments(std::move(values), id);
}

}  // namespace vantrel
