#pragma once
// The words in which refusals describe a file found on disk: whose it is, what it is, its mode.
// Every check of a file that someone else could have made says it the same way.
//
// Thread safety: every function may be called from any thread (the user lookup is reentrant).

#include <sys/types.h>

#include <string>

namespace vantrel::platform {

// "nobody (uid 65534)", or "uid 1234" for a uid without a name.
std::string user_text(uid_t uid);

// The permission bits and the set-id and sticky bits in octal: "0600".
std::string mode_text(mode_t mode);

// "a regular file", "a directory", "a symbolic link", "a FIFO", "a socket", "a character device"
// or "a block device".
const char* file_type_text(mode_t mode);

}  // namespace vantrel::platform
