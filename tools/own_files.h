#pragma once
// Files and directories that nobody but their owner could have changed, in the manner of
// OpenSSH's StrictModes. vantrel-sim often runs as root: a directory that another user owns or
// may write, or a file planted there (a symbolic link to /etc/..., a configuration of theirs),
// would make it write where they point or run what they wrote.
//
// A directory is trusted when the effective user owns it and neither its group nor others may
// write it, and every directory above it belongs to root or to that user and is either writable
// by nobody else or sticky (as /tmp is: others cannot rename or remove what is not theirs). A
// file is trusted when it is a regular file (not a symbolic link) of the effective user that
// neither its group nor others may write.
//
// Thread safety: free functions without state.

#include <sys/stat.h>
#include <sys/types.h>

#include <string>

namespace vantrel::simtool {

// Empty when `dir` (an absolute path without symbolic links) is trusted; else why not, naming
// the directory, its owner and its mode.
std::string untrusted_directory(const std::string& dir);

// Empty when every existing directory above `dir` is trusted; else why not.
std::string untrusted_ancestors(const std::string& dir);

// Empty when `path` is missing or a trusted file; else why not, naming the file, its owner and
// its mode.
std::string untrusted_file(const std::string& path);

// Opens `path` with `flags` (O_CREAT and O_EXCL as the caller asks) without following a symbolic
// link and without blocking on a FIFO, close-on-exec, and accepts the opened file only when it is
// trusted. The descriptor, or -1 with the cause in `error` (errno kept for a failed open).
int open_own_file(const std::string& path, int flags, mode_t mode, std::string& error);

}  // namespace vantrel::simtool
