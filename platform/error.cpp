#include "platform/error.h"

#include <cstring>

namespace vantrel::platform {

const char* to_string(PlatformErrc code) {
    switch (code) {
        case PlatformErrc::invalid_name:
            return "invalid name";
        case PlatformErrc::not_found:
            return "not found";
        case PlatformErrc::open_failed:
            return "open failed";
        case PlatformErrc::untrusted:
            return "untrusted object";
        case PlatformErrc::invalid_object:
            return "invalid object";
        case PlatformErrc::lock_failed:
            return "lock failed";
        case PlatformErrc::timed_out:
            return "timed out";
        case PlatformErrc::resize_failed:
            return "resize failed";
        case PlatformErrc::map_failed:
            return "map failed";
        case PlatformErrc::init_failed:
            return "init failed";
        case PlatformErrc::thread_failed:
            return "thread failed";
    }
    return "unknown error";
}

PlatformError::PlatformError(PlatformErrc code, const std::string& what, int sys_errno)
    : std::runtime_error(what), code_(code), errno_(sys_errno) {}

void throw_error(PlatformErrc code, const std::string& object, int sys_errno) {
    std::string text = std::string(to_string(code)) + ": " + object;
    if (sys_errno != 0) text += " (" + std::string(std::strerror(sys_errno)) + ")";
    throw PlatformError(code, text, sys_errno);
}

}  // namespace vantrel::platform
