#pragma once
// Ways to damage configuration-format files, for the tests of damaged files.

#include <random>
#include <stdexcept>
#include <string>

namespace vantrel::test {

inline std::string without_line(std::string text, const std::string& key) {
    const auto at = text.find(key + " =");
    if (at == std::string::npos) throw std::runtime_error("no line " + key);
    text.erase(at, text.find('\n', at) + 1 - at);
    return text;
}

inline std::string replaced_line(std::string text, const std::string& key,
                                 const std::string& line) {
    const auto at = text.find(key + " =");
    if (at == std::string::npos) throw std::runtime_error("no line " + key);
    text.replace(at, text.find('\n', at) - at, line);
    return text;
}

inline std::string random_bytes(std::size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::string out(n, '\0');
    for (auto& c : out) c = static_cast<char>(rng());
    return out;
}

// A statistics file for six columns: COL<i>TYPE "t<i>", COL<i>COUNT 10 * i.
inline std::string stats_text() {
    std::string text;
    for (int i = 1; i <= 6; ++i) {
        text += "COL" + std::to_string(i) + "TYPE = \"t" + std::to_string(i) + "\";\n";
        text += "COL" + std::to_string(i) + "COUNT = " + std::to_string(10 * i) + ";\n";
    }
    return text;
}

}  // namespace vantrel::test
