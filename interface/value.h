#pragma once
// Values as they cross an interface. Integers and truth values travel as 4-byte little-endian
// signed integers, reals as 8-byte IEEE 754 doubles at whatever offset they fall (no alignment),
// texts as fixed 4096-byte fields holding at most 4095 characters and a NUL. Nothing else crosses.
//
// The put_/get_ functions work on raw bytes and never look past the size they are given; callers
// check bounds once (CallRecord, SharedSegment) and then use these.

#include <bit>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

namespace vantrel {

static_assert(std::endian::native == std::endian::little,
              "the interface wire format is little-endian and copied as is");

enum class WireType : std::uint8_t { integer, truth, real, text };

inline constexpr std::size_t kIntegerSize = 4;
inline constexpr std::size_t kRealSize = 8;
inline constexpr std::size_t kTextFieldSize = 4096;
inline constexpr std::size_t kMaxTextLength = kTextFieldSize - 1;

// Bytes a value of `type` takes in a record or a result slot.
constexpr std::size_t wire_size(WireType type) {
    switch (type) {
        case WireType::integer:
        case WireType::truth:
            return kIntegerSize;
        case WireType::real:
            return kRealSize;
        case WireType::text:
            return kTextFieldSize;
    }
    return 0;
}

const char* to_string(WireType type);

// One argument or result. Construction is strict on purpose: an int is an integer, a bool a truth
// value, a double a real, and any text a text; anything else does not compile.
using Value = std::variant<std::int32_t, bool, double, std::string>;

WireType type_of(const Value& value);
// The zero of a type: 0, false, 0.0 or the empty text.
Value zero_value(WireType type);

void put_int32(std::uint8_t* at, std::int32_t value);
std::int32_t get_int32(const std::uint8_t* at);
void put_real(std::uint8_t* at, double value);
double get_real(const std::uint8_t* at);

// The first `kMaxTextLength` characters of `text`, stopping at an embedded NUL (the receiver would
// stop there anyway).
std::string_view cut_text(std::string_view text);
// Fills a whole 4096-byte text argument field: the cut text, then NULs up to the field's end.
void put_text_field(std::uint8_t* field, std::string_view text);
// Reads the text of a field of `field_size` bytes: the characters before the first NUL, at most
// kMaxTextLength of them even when the field holds no NUL at all.
std::string get_text(const std::uint8_t* field, std::size_t field_size = kTextFieldSize);

// Encodes `value` (which must be of `type`) into wire_size(type) bytes at `at`. A text is written
// as a whole argument field.
void put_value(std::uint8_t* at, WireType type, const Value& value);
// Decodes wire_size(type) bytes at `at`. A truth value is true for any non-zero integer.
Value get_value(const std::uint8_t* at, WireType type);

}  // namespace vantrel
