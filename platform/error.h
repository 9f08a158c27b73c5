#pragma once
// Errors of the platform layer. Every system call failure is turned into a PlatformError here,
// with a named cause, so callers above never look at errno.

#include <stdexcept>
#include <string>

namespace vantrel::platform {

enum class PlatformErrc {
    invalid_name,    // a name or scope the object namespace cannot hold
    not_found,       // open_existing on an object that no live process holds
    open_failed,     // the backing file could not be opened or created
    untrusted,       // the backing file is not a private regular file of this user: refused
    invalid_object,  // the backing file's header or size is not a valid object's: refused
    lock_failed,     // the holder lock of an object could not be taken
    timed_out,       // another process held a lock of the object longer than the wait's limit
    resize_failed,   // the object could not be sized
    map_failed,      // the object could not be mapped
    init_failed,     // a mutex or semaphore could not be initialised inside the object
    thread_failed,   // a thread could not be created or signalled
};

const char* to_string(PlatformErrc code);

class PlatformError : public std::runtime_error {
  public:
    PlatformError(PlatformErrc code, const std::string& what, int sys_errno);
    PlatformErrc code() const noexcept { return code_; }
    int sys_errno() const noexcept { return errno_; }

  private:
    PlatformErrc code_;
    int errno_;
};

// Throws a PlatformError for `code`, naming the object and the system's description of `sys_errno`.
[[noreturn]] void throw_error(PlatformErrc code, const std::string& object, int sys_errno);

}  // namespace vantrel::platform
