#pragma once
// Records with a recognisable pattern, and their bytes as text, for queue tests in several
// processes.

#include <cstddef>
#include <cstdint>
#include <string>

#include "interface/call_record.h"

namespace vantrel::test {

// A record of `length` bytes with code `seed` and bytes seed + i after its header.
inline RecordBytes pattern_record(std::size_t length, int seed) {
    RecordBytes record(length);
    for (std::size_t i = 0; i < length; ++i) record[i] = static_cast<std::uint8_t>(seed + i);
    record[0] = static_cast<std::uint8_t>(length & 0xFF);
    record[1] = static_cast<std::uint8_t>(length >> 8);
    record[2] = static_cast<std::uint8_t>(seed);
    record[3] = 0;
    return record;
}

inline std::string hex(const RecordBytes& bytes) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (auto b : bytes) {
        out.push_back(digits[b >> 4]);
        out.push_back(digits[b & 15]);
    }
    return out;
}

}  // namespace vantrel::test
