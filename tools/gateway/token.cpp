#include "tools/gateway/token.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/file_status.h"

namespace vantrel::gateway {
namespace {

using platform::mode_text;
using platform::user_text;

// A token file holds one line; anything longer is not ours.
constexpr off_t kMaxFileSize = 4096;
constexpr std::size_t kMinTokenLength = 16;
constexpr std::size_t kMaxTokenLength = 1024;

[[noreturn]] void fail(const std::string& path, const std::string& why) {
    throw TokenError("token file \"" + path + "\": " + why);
}

std::string system_error(int error) {
    return std::strerror(error);
}

// Closes its descriptor on every way out.
class Fd {
  public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }

  private:
    int fd_;
};

std::string random_token() {
    std::array<unsigned char, 32> bytes{};
    std::size_t got = 0;
    while (got < bytes.size()) {
        const ssize_t n = ::getrandom(bytes.data() + got, bytes.size() - got, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) throw TokenError("no random bytes for a token: " + system_error(errno));
        got += static_cast<std::size_t>(n);
    }
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

// Makes the missing directories above `path`, each with mode 0700.
void make_parents(const std::string& path) {
    for (std::size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
        const std::string dir = path.substr(0, slash);
        struct stat st {};
        if (::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) continue;  // also read-only ones
        if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST)
            fail(path, "cannot make directory \"" + dir + "\": " + system_error(errno));
    }
}

// Creates the file exclusively with a new token; false when a file appeared there first.
bool create(const std::string& path, Token& out) {
    make_parents(path);
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                          S_IRUSR | S_IWUSR);
    if (fd < 0 && errno == EEXIST) return false;
    if (fd < 0) fail(path, "cannot create: " + system_error(errno));
    Fd file(fd);
    out.value = random_token();
    const std::string line = out.value + "\n";
    if (::write(fd, line.data(), line.size()) != static_cast<ssize_t>(line.size()) ||
        ::fsync(fd) != 0) {
        const int error = errno;
        ::unlink(path.c_str());
        fail(path, "cannot write: " + system_error(error));
    }
    out.created = true;
    return true;
}

bool token_character(char c) {
    // The characters a Bearer token may hold.
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
           std::strchr("-._~+/=", c) != nullptr;
}

Token read_existing(const std::string& path, int fd) {
    Fd file(fd);
    struct stat st {};
    if (::fstat(fd, &st) != 0) fail(path, "cannot examine: " + system_error(errno));
    if (!S_ISREG(st.st_mode)) fail(path, "not a regular file");
    if (st.st_uid != ::geteuid())
        fail(path, "owned by " + user_text(st.st_uid) + ", not by " + user_text(::geteuid()));
    if ((st.st_mode & (S_IRWXG | S_IRWXO)) != 0)
        fail(path, "mode " + mode_text(st.st_mode) +
                       " lets group or others at it; it must be 0600 (chmod 600 \"" + path + "\")");
    if (st.st_size > kMaxFileSize)
        fail(path, "holds " + std::to_string(st.st_size) + " bytes; a token file holds one line");
    std::string text(static_cast<std::size_t>(st.st_size), '\0');
    std::size_t got = 0;
    while (got < text.size()) {
        const ssize_t n = ::read(fd, text.data() + got, text.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) fail(path, "cannot read: " + system_error(errno));
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    text.resize(got);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
        text.pop_back();
    if (text.size() < kMinTokenLength || text.size() > kMaxTokenLength)
        fail(path, "the token must be " + std::to_string(kMinTokenLength) + " to " +
                       std::to_string(kMaxTokenLength) + " characters long, not " +
                       std::to_string(text.size()));
    for (char c : text)
        if (!token_character(c))
            fail(path, "the token may hold only letters, digits and - . _ ~ + / =");
    return Token{text, false};
}

}  // namespace

Token load_or_create_token(const std::string& path) {
    if (path.empty()) throw TokenError("token file: empty path");
    for (int attempt = 0; attempt < 2; ++attempt) {
        // Non-blocking, so that a FIFO planted at the path cannot hold the start.
        const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0) return read_existing(path, fd);
        if (errno == ELOOP) fail(path, "is a symbolic link; it is not followed");
        if (errno != ENOENT) fail(path, "cannot open: " + system_error(errno));
        Token token;
        if (create(path, token)) return token;
    }
    fail(path, "appeared and vanished while it was being created");
}

std::string default_token_path() {
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && config[0] == '/')
        return std::string(config) + "/vantrel/gateway.token";
    const char* home = std::getenv("HOME");
    std::string base = home && home[0] == '/' ? home : "";
    if (base.empty())
        if (const passwd* pw = ::getpwuid(::geteuid())) base = pw->pw_dir;
    return base + "/.config/vantrel/gateway.token";
}

bool same_token(std::string_view expected, std::string_view given) {
    unsigned char difference = expected.size() == given.size() ? 0 : 1;
    for (std::size_t i = 0; i < expected.size(); ++i)
        difference |= static_cast<unsigned char>(expected[i] ^ (i < given.size() ? given[i] : 0));
    return difference == 0;
}

}  // namespace vantrel::gateway
