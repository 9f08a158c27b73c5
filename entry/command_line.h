#pragma once
// Splitting of the command-line text into the argument vector handed to component_main.
//
// Element 0 is always "dummy". A space outside quotes ends the current argument, even an empty
// one; a double quote toggles quoting and stays part of the argument, and a closing quote ends
// the argument at once. After the last character the current argument is kept only when it is
// not empty. There is no escape character and no other separator (tabs included).

#include <string>
#include <vector>

namespace vantrel {

std::vector<std::string> split_arguments(const std::string& text);

// On Linux the arguments arrive already split: joined with single spaces they give the text that
// split_arguments expects (exact for arguments without spaces or quotes).
std::string join_arguments(int argc, const char* const* argv);

}  // namespace vantrel
