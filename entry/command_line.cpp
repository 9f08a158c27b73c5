#include "entry/command_line.h"

namespace vantrel {

std::vector<std::string> split_arguments(const std::string& text) {
    std::vector<std::string> list{"dummy"};
    std::string token;
    bool in_quotes = false;
    for (const char c : text) {
        if (c == '"') in_quotes = !in_quotes;
        if (c == ' ' && !in_quotes) {
            list.push_back(token);
            token.clear();
        } else if (c == '"' && !in_quotes) {
            token += c;  // this quote closed a quoted stretch: it ends the argument
            list.push_back(token);
            token.clear();
        } else {
            token += c;
        }
    }
    if (!token.empty()) list.push_back(token);
    return list;
}

std::string join_arguments(int argc, const char* const* argv) {
    std::string text;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) text += ' ';
        text += argv[i];
    }
    return text;
}

}  // namespace vantrel
