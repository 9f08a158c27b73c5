#include "interface/operation.h"

#include <algorithm>
#include <utility>

#include "platform/exception.h"

namespace vantrel {

std::size_t Operation::argument_offset(std::size_t index) const {
    std::size_t offset = kRecordHeaderSize;
    for (std::size_t i = 0; i < index && i < arguments.size(); ++i)
        offset += wire_size(arguments[i]);
    return offset;
}

std::size_t Operation::call_id_offset() const {
    return argument_offset(arguments.size());
}

std::size_t Operation::record_length() const {
    return call_id_offset() + (kind == CallKind::two_way ? kIntegerSize : 0);
}

std::size_t Operation::results_end() const {
    std::size_t end = 0;
    for (const Slot& slot : results) end = std::max(end, slot.end());
    return end;
}

Slot InterfaceLayout::add_slot(WireType type) {
    Slot slot{properties_size_, type};
    properties_size_ += slot.size();
    return slot;
}

Operation InterfaceLayout::add_one_way(std::string name, std::uint16_t code,
                                       std::vector<WireType> arguments) {
    return add(Operation{std::move(name), code, CallKind::one_way, std::move(arguments), {}});
}

Operation InterfaceLayout::add_two_way(std::string name, std::uint16_t code,
                                       std::vector<WireType> arguments, std::vector<Slot> results) {
    return add(Operation{std::move(name), code, CallKind::two_way, std::move(arguments),
                         std::move(results)});
}

Operation InterfaceLayout::add_two_way_with_slots(std::string name, std::uint16_t code,
                                                  std::vector<WireType> arguments,
                                                  const std::vector<WireType>& result_types) {
    std::vector<Slot> results;
    for (WireType type : result_types) results.push_back(add_slot(type));
    return add_two_way(std::move(name), code, std::move(arguments), std::move(results));
}

Operation InterfaceLayout::add(Operation op) {
    if (codes_.count(op.name) != 0 || operations_.count(op.code) != 0)
        throw Exception("InterfaceLayout::add() -- operation \"" + op.name + "\" or code " +
                        std::to_string(op.code) + " entered twice");
    if (op.record_length() > kMaxRecordLength)
        throw Exception("InterfaceLayout::add() -- record of \"" + op.name +
                        "\" is longer than a record can be");
    codes_.emplace(op.name, op.code);
    return operations_.emplace(op.code, std::move(op)).first->second;
}

const Operation* InterfaceLayout::find(std::uint16_t code) const {
    const auto it = operations_.find(code);
    return it == operations_.end() ? nullptr : &it->second;
}

const Operation* InterfaceLayout::find(std::string_view name) const {
    const auto code = code_of(name);
    return code ? find(*code) : nullptr;
}

std::optional<std::uint16_t> InterfaceLayout::code_of(std::string_view name) const {
    const auto it = codes_.find(name);
    if (it == codes_.end()) return std::nullopt;
    return it->second;
}

void InterfaceLayout::clear() {
    codes_.clear();
    operations_.clear();
}

}  // namespace vantrel
