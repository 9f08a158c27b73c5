#pragma once
// Checks of command-line values for the programs that read their command lines with CLI11
// (vantrel-gateway, the benchmarks).

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdlib>
#include <limits>
#include <string>

namespace vantrel::ctl {

// A whole number from `low` to `high`, written in decimal: CLI11 alone would read 010 as 8 and
// 0x10 as 16. The value goes on in its plain decimal form.
inline CLI::Validator whole_number(long long low,
                                   long long high = std::numeric_limits<long long>::max()) {
    const bool unbounded = high == std::numeric_limits<long long>::max();
    const std::string range = unbounded
                                  ? "of at least " + std::to_string(low)
                                  : "from " + std::to_string(low) + " to " + std::to_string(high);
    return CLI::Validator(
        [=](std::string& text) -> std::string {
            char* end = nullptr;
            errno = 0;
            const long long value = std::strtoll(text.c_str(), &end, 10);
            if (text.empty() || *end != '\0' || errno != 0 || value < low || value > high)
                return "must be a whole number " + range + ", not \"" + text + "\"";
            text = std::to_string(value);
            return "";
        },
        low == 1 && unbounded ? "POSITIVE" : std::to_string(low) + " to " + std::to_string(high));
}

}  // namespace vantrel::ctl
