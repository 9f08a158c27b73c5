#include "platform/file_status.h"

#include <pwd.h>
#include <sys/stat.h>

#include <cstdio>
#include <vector>

namespace vantrel::platform {

std::string user_text(uid_t uid) {
    const std::string number = "uid " + std::to_string(uid);
    std::vector<char> buffer(16384);
    struct passwd entry {};
    struct passwd* found = nullptr;
    if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr)
        return std::string(found->pw_name) + " (" + number + ")";
    return number;
}

std::string mode_text(mode_t mode) {
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
    return text;
}

const char* file_type_text(mode_t mode) {
    if (S_ISREG(mode)) return "a regular file";
    if (S_ISDIR(mode)) return "a directory";
    if (S_ISLNK(mode)) return "a symbolic link";
    if (S_ISFIFO(mode)) return "a FIFO";
    if (S_ISSOCK(mode)) return "a socket";
    if (S_ISCHR(mode)) return "a character device";
    return "a block device";
}

}  // namespace vantrel::platform
