#include "config/paths.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

namespace vantrel {

void normalize_path(std::string& path) {
    std::replace(path.begin(), path.end(), '\\', '/');
    path.erase(std::remove(path.begin(), path.end(), '"'), path.end());
}

std::string directory_of(const std::string& path) {
    const auto pos = path.find_last_of("/\\");
    if (pos == std::string::npos) return "./";
    return path.substr(0, pos + 1);
}

bool file_exists(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) return true;
    std::string copy = path;
    normalize_path(copy);
    // Without blocking: opening a FIFO for reading would wait for a writer.
    const int fd = ::open(copy.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}

bool make_directories(const std::string& path) {
    if (file_exists(path)) return true;
    std::string copy = path;
    std::replace(copy.begin(), copy.end(), '\\', '/');
    if (copy.empty() || copy.back() != '/') copy += '/';

    std::string built;
    std::size_t start = 0;
    for (std::size_t slash = copy.find('/'); slash != std::string::npos;
         start = slash + 1, slash = copy.find('/', start)) {
        built += copy.substr(start, slash - start);
        // An empty first level is the root of an absolute path: it always exists.
        const bool root = built.empty() && start == 0;
        if (!root && !file_exists(built) && ::mkdir(built.c_str(), 0777) != 0) return false;
        built += '/';
    }
    return true;
}

}  // namespace vantrel
