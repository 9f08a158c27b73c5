#include "tools/own_files.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/file_status.h"

namespace vantrel::simtool {
namespace {

using platform::file_type_text;
using platform::mode_text;
using platform::user_text;

bool others_may_write(mode_t mode) {
    return (mode & (S_IWGRP | S_IWOTH)) != 0;
}

std::string owner_and_mode(const struct stat& st) {
    return "owner " + user_text(st.st_uid) + ", mode " + mode_text(st.st_mode);
}

// Why a file with this status is not trusted; empty when it is.
std::string untrusted_status(const std::string& path, const struct stat& st) {
    if (!S_ISREG(st.st_mode))
        return path + " is " + file_type_text(st.st_mode) + ", not a regular file (" +
               owner_and_mode(st) + ")";
    if (st.st_uid != ::geteuid())
        return path + " belongs to " + user_text(st.st_uid) + ", not to " + user_text(::geteuid()) +
               " (mode " + mode_text(st.st_mode) + ")";
    if (others_may_write(st.st_mode))
        return path + " can be written by its group or by others (" + owner_and_mode(st) + ")";
    return "";
}

}  // namespace

std::string untrusted_directory(const std::string& dir) {
    struct stat st {};
    if (::lstat(dir.c_str(), &st) != 0) return "can't examine " + dir + ": " + std::strerror(errno);
    if (!S_ISDIR(st.st_mode))
        return dir + " is " + file_type_text(st.st_mode) + ", not a directory";
    if (st.st_uid != ::geteuid())
        return dir + " belongs to " + user_text(st.st_uid) + ", not to " + user_text(::geteuid()) +
               " (mode " + mode_text(st.st_mode) + ")";
    if (others_may_write(st.st_mode))
        return dir + " can be written by its group or by others (" + owner_and_mode(st) + ")";
    return untrusted_ancestors(dir);
}

std::string untrusted_ancestors(const std::string& dir) {
    struct stat st {};
    // Whoever may change a directory above could put another directory in this one's place.
    for (std::string above = dir; above.size() > 1;) {
        above.resize(above.rfind('/') == 0 ? 1 : above.rfind('/'));
        if (::lstat(above.c_str(), &st) != 0) {
            if (errno == ENOENT) continue;  // not made yet
            return "can't examine " + above + ": " + std::strerror(errno);
        }
        if (st.st_uid != 0 && st.st_uid != ::geteuid())
            return above + ", above " + dir + ", belongs to " + user_text(st.st_uid) + " (mode " +
                   mode_text(st.st_mode) + ")";
        if (others_may_write(st.st_mode) && (st.st_mode & S_ISVTX) == 0)
            return above + ", above " + dir +
                   ", can be written by its group or by others and is not sticky (" +
                   owner_and_mode(st) + ")";
    }
    return "";
}

std::string untrusted_file(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0)
        return errno == ENOENT ? "" : "can't examine " + path + ": " + std::strerror(errno);
    return untrusted_status(path, st);
}

int open_own_file(const std::string& path, int flags, mode_t mode, std::string& error) {
    const int fd =
        ::open(path.c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, mode);
    if (fd < 0) {
        const int e = errno;
        error = e == ELOOP ? path + " is a symbolic link"
                           : "can't open " + path + ": " + std::strerror(e);
        errno = e;
        return -1;
    }
    struct stat st {};
    error = ::fstat(fd, &st) == 0 ? untrusted_status(path, st)
                                  : "can't examine " + path + ": " + std::strerror(errno);
    if (!error.empty()) {
        ::close(fd);
        errno = EPERM;
        return -1;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

}  // namespace vantrel::simtool
