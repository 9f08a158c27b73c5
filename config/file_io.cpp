#include "config/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/file_status.h"

namespace vantrel {

bool read_whole_file(const std::string& path, std::uint64_t limit, std::string& text,
                     std::string& failure, mode_t* mode) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        failure = std::strerror(errno);
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        failure = std::strerror(errno);
    } else if (!S_ISREG(st.st_mode)) {
        failure = std::string("not a regular file (") + platform::file_type_text(st.st_mode) + ")";
    } else if (static_cast<std::uint64_t>(st.st_size) > limit) {
        failure = "larger than the limit of " + std::to_string(limit / (1024 * 1024)) + " MiB (" +
                  std::to_string(st.st_size) + " bytes)";
    }
    if (!failure.empty()) {
        ::close(fd);
        return false;
    }
    if (mode != nullptr) *mode = st.st_mode;
    // Up to one byte beyond the limit, to see a file that grew while it was read.
    text.resize(std::min<std::uint64_t>(st.st_size, limit) + 1);
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::read(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) failure = std::strerror(errno);
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
        if (done == text.size() && done <= limit)
            text.resize(std::min<std::uint64_t>(done * 2, limit + 1));
    }
    ::close(fd);
    if (failure.empty() && done > limit)
        failure = "larger than the limit of " + std::to_string(limit / (1024 * 1024)) + " MiB";
    text.resize(done);
    return failure.empty();
}

bool write_all(int fd, const std::string& text) {
    const char* data = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, data, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += n;
        left -= static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace vantrel
