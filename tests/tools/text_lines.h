#pragma once
// Looking at the screens the tools print: lines with their runs of blanks squeezed to one, so a
// test states what a line says rather than how it is aligned.

#include <sstream>
#include <string>
#include <vector>

namespace vantrel::test {

inline std::vector<std::string> squeezed_lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        std::istringstream words(line);
        std::string squeezed;
        for (std::string w; words >> w;) squeezed += (squeezed.empty() ? "" : " ") + w;
        lines.push_back(squeezed);
    }
    return lines;
}

// True when some line, squeezed, is `line`.
inline bool has_exact_line(const std::string& text, const std::string& line) {
    for (const auto& l : squeezed_lines(text))
        if (l == line) return true;
    return false;
}

// True when some line, squeezed, begins with `first` and ends with `last`.
inline bool has_line(const std::string& text, const std::string& first,
                     const std::string& last = "") {
    for (const auto& line : squeezed_lines(text))
        if (line.rfind(first, 0) == 0 && line.size() >= first.size() + last.size() &&
            line.compare(line.size() - last.size(), last.size(), last) == 0)
            return true;
    return false;
}

}  // namespace vantrel::test
