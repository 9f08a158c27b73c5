#pragma once
// Whole files that another process may have made or changed, read and written without trusting
// them: a FIFO or a device where a file should be is refused at once instead of being waited for,
// and nothing larger than the caller's limit is read.
//
// Thread safety: free functions without state.

#include <sys/types.h>

#include <cstdint>
#include <string>

namespace vantrel {

// Reads the whole regular file at `path`, at most `limit` bytes (a larger file, or one that grows
// past the limit while it is read, is refused). False with the cause in `failure`; `mode`, when
// given, receives the file's type and permission bits.
bool read_whole_file(const std::string& path, std::uint64_t limit, std::string& text,
                     std::string& failure, mode_t* mode = nullptr);

// Writes all of `text` to `fd` through short writes and interruptions; false with errno set.
bool write_all(int fd, const std::string& text);

}  // namespace vantrel
