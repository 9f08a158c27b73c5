#include "config/config_reader.h"

#include <locale.h>
#include <stdlib.h>

#include <algorithm>
#include <antlr/TokenBuffer.hpp>
#include <cmath>
#include <limits>

#include "config/ConfigLexer.hpp"
#include "config/ConfigParser.hpp"
#include "config/config_char_buffer.h"

namespace vantrel {

bool parse_config(std::istream& in, std::vector<ConfigValue>& entries) {
    ConfigCharBuffer characters(in);
    ConfigLexer lexer(characters);
    antlr::TokenBuffer buffer(lexer);
    ConfigParser parser(buffer);
    parser.config(entries);
    // The reading ends without error at the first token that cannot begin an entry; only the
    // end-of-input token means that nothing was left unread.
    return buffer.LA(1) == antlr::Token::EOF_TYPE;
}

std::int32_t parse_integer(const std::string& text) {
    constexpr std::int64_t max = std::numeric_limits<std::int32_t>::max();
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    std::int64_t magnitude = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        // Saturate early: past the 32-bit range every further digit only clamps.
        if (magnitude <= max + 1) magnitude = magnitude * 10 + (text[i] - '0');
    }
    if (negative) return static_cast<std::int32_t>(std::max(-magnitude, -max - 1));
    return static_cast<std::int32_t>(std::min(magnitude, max));
}

double parse_real(const std::string& text) {
    // The C locale keeps the full stop as the decimal point whatever the process's locale is.
    static const locale_t c_locale = ::newlocale(LC_ALL_MASK, "C", nullptr);
    const double value = ::strtod_l(text.c_str(), nullptr, c_locale);
    if (std::isinf(value)) {
        // Overflow: keep the largest finite value, which is written back as a number.
        return std::copysign(std::numeric_limits<double>::max(), value);
    }
    return value;
}

}  // namespace vantrel
