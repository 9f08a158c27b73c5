#pragma once
// Free functions on file paths. Both '/' and '\' count as separators.
// They keep no state and are safe to call from any thread.

#include <string>

namespace vantrel {

// Turns every backslash into a slash and drops every double quote, in place.
void normalize_path(std::string& path);

// The directory part of a path with its trailing separator (kept as written),
// or "./" when the path has no separator.
std::string directory_of(const std::string& path);

// True when the path names an existing file or directory. Falls back to opening
// the normalised path for reading, so a quoted path with backslashes also works.
bool file_exists(const std::string& path);

// Creates every missing level of a directory path. True when the whole path
// exists afterwards; stops at the first level that can be neither found nor
// created, leaving the levels made so far. A leading '/' is the existing root.
bool make_directories(const std::string& path);

}  // namespace vantrel
