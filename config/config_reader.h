#pragma once
// Reading configuration text: named integers, reals, strings and flat arrays, one entry per line.

#include <cstddef>
#include <cstdint>
#include <istream>
#include <string>
#include <vector>

#include "config/config_value.h"

namespace vantrel {

// The most values (entries and array elements together) that one reading takes: far more than
// any real file holds, few enough that their memory (about a hundred bytes each) and the time to
// read them stay bounded.
inline constexpr std::size_t kMaxConfigValues = 262144;

// Appends every entry read from the stream to `entries`, in file order; the list is not emptied
// first. Lexical problems are reported on the standard error stream and skipped; reading stops
// silently at the first line that cannot begin an entry. Throws ConfigError on a syntax error
// (" line N column M"), on more than kMaxConfigValues values (" line N column M: more than ...
// values") or on an input failure; the entries read before it stay in the list.
// Returns true when the reading went on to the end of the input, false when it stopped early.
bool parse_config(std::istream& in, std::vector<ConfigValue>& entries);

// The value of an INTEGER token (optional sign, decimal digits), clamped to the 32-bit range.
std::int32_t parse_integer(const std::string& text);

// The value of a REAL token. A magnitude beyond the largest double is clamped to it, so the value
// can be written back as a number.
double parse_real(const std::string& text);

}  // namespace vantrel
