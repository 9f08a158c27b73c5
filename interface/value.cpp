#include "interface/value.h"

#include <algorithm>
#include <cstring>

#include "platform/exception.h"

namespace vantrel {

const char* to_string(WireType type) {
    switch (type) {
        case WireType::integer:
            return "integer";
        case WireType::truth:
            return "truth value";
        case WireType::real:
            return "real";
        case WireType::text:
            return "text";
    }
    return "unknown";
}

WireType type_of(const Value& value) {
    switch (value.index()) {
        case 0:
            return WireType::integer;
        case 1:
            return WireType::truth;
        case 2:
            return WireType::real;
        default:
            return WireType::text;
    }
}

Value zero_value(WireType type) {
    switch (type) {
        case WireType::integer:
            return std::int32_t{0};
        case WireType::truth:
            return false;
        case WireType::real:
            return 0.0;
        case WireType::text:
            break;
    }
    return std::string();
}

void put_int32(std::uint8_t* at, std::int32_t value) {
    std::memcpy(at, &value, sizeof value);
}

std::int32_t get_int32(const std::uint8_t* at) {
    std::int32_t value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

void put_real(std::uint8_t* at, double value) {
    std::memcpy(at, &value, sizeof value);
}

double get_real(const std::uint8_t* at) {
    double value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

std::string_view cut_text(std::string_view text) {
    text = text.substr(0, std::min(text.find('\0'), kMaxTextLength));
    return text;
}

void put_text_field(std::uint8_t* field, std::string_view text) {
    const std::string_view cut = cut_text(text);
    std::memcpy(field, cut.data(), cut.size());
    std::memset(field + cut.size(), 0, kTextFieldSize - cut.size());
}

std::string get_text(const std::uint8_t* field, std::size_t field_size) {
    const std::size_t limit = std::min(field_size, kMaxTextLength);
    const void* nul = std::memchr(field, 0, limit);
    const std::size_t length =
        nul ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(nul) - field) : limit;
    return std::string(reinterpret_cast<const char*>(field), length);
}

void put_value(std::uint8_t* at, WireType type, const Value& value) {
    if (type_of(value) != type)
        throw Exception(std::string("a ") + to_string(type_of(value)) + " given where a " +
                        to_string(type) + " belongs");
    switch (type) {
        case WireType::integer:
            put_int32(at, std::get<std::int32_t>(value));
            break;
        case WireType::truth:
            put_int32(at, std::get<bool>(value) ? 1 : 0);
            break;
        case WireType::real:
            put_real(at, std::get<double>(value));
            break;
        case WireType::text:
            put_text_field(at, std::get<std::string>(value));
            break;
    }
}

Value get_value(const std::uint8_t* at, WireType type) {
    switch (type) {
        case WireType::integer:
            return get_int32(at);
        case WireType::truth:
            return get_int32(at) != 0;
        case WireType::real:
            return get_real(at);
        case WireType::text:
            break;
    }
    return get_text(at);
}

}  // namespace vantrel
