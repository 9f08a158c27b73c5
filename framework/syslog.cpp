#include "framework/syslog.h"

#include <fcntl.h>
#include <spawn.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "config/paths.h"
#include "platform/exception.h"

extern char** environ;

namespace vantrel {

std::string DateTime::text_of(const std::tm& t) {
    char text[32];
    std::snprintf(text, sizeof text, "%02d/%02d/%02d %02d:%02d:%02d", t.tm_mon + 1, t.tm_mday,
                  t.tm_year % 100, t.tm_hour, t.tm_min, t.tm_sec);
    return text;
}

std::string DateTime::now_text() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return text_of(local);
}

std::string Syslog::now_text() {
    return stamps_ ? stamps_() : DateTime::now_text();
}

Syslog::Syslog(const std::string& file_name, bool append_to_file, StampSource stamps)
    : file_name_(file_name), stamps_(std::move(stamps)) {
    const std::string dir = directory_of(file_name);
    if (!file_exists(dir)) make_directories(dir);  // a failure shows when the file will not open

    const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (append_to_file ? O_APPEND : O_TRUNC);
    fd_ = ::open(file_name.c_str(), flags, 0644);
    if (fd_ < 0) throw Exception("Failed to open: " + file_name);
    append("Log file: " + file_name_ + " created " + now_text() + "\n");
}

Syslog::~Syslog() {
    if (fd_ >= 0) {
        append("Log file: " + file_name_ + " closed " + now_text() + "\r\n");
        ::close(fd_);
        fd_ = -1;
    }
    lock_.close();
}

std::string Syslog::escape_controls(const std::string& message) {
    std::string text;
    text.reserve(message.size());
    for (const char c : message) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte >= 0x20 && byte != 0x7f) || c == '\t') {
            text += c;
        } else if (c == '\r') {
            text += "\\r";
        } else if (c == '\n') {
            text += "\\n";
        } else {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02x", byte);
            text += escape;
        }
    }
    return text;
}

bool Syslog::append(const std::string& line) {
    // One write(2) per line, no buffer: the file is complete up to its last line, and what a
    // failed write left unwritten is never written later in the middle of another line.
    const std::string text = cut_ ? "\r\n" + line : line;
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd_, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
    if (done > 0) cut_ = done < text.size();
    return done == text.size();
}

bool Syslog::write(const char* message, char* buffer, std::size_t buffer_size) {
    MutexLock guard(lock_);
    ++line_count_;
    const std::string stamp = now_text();
    const std::string shown = escape_controls(message);
    if (buffer != nullptr && buffer_size > 0) {
        const std::string text = stamp + " " + shown;
        const std::size_t n = std::min(text.size(), buffer_size - 1);
        std::memcpy(buffer, text.data(), n);
        buffer[n] = '\0';
    }
    if (fd_ < 0) return false;
    return append(std::to_string(line_count_) + " " + stamp + " " + shown + " \r\n");
}

bool Syslog::write(const char* message) {
    return write(message, nullptr, 0);
}

bool Syslog::write(const std::string& message) {
    return write(message.c_str());
}

bool Syslog::write_plain(const char* message) {
    MutexLock guard(lock_);
    if (fd_ < 0) return false;
    return append(escape_controls(message) + " \r\n");
}

bool Syslog::write_plain(const std::string& message) {
    return write_plain(message.c_str());
}

pid_t Syslog::open_with(const std::string& program) {
    pid_t pid = -1;
    char* argv[] = {const_cast<char*>(program.c_str()), const_cast<char*>(file_name_.c_str()),
                    nullptr};
    if (posix_spawnp(&pid, program.c_str(), nullptr, nullptr, argv, environ) != 0) return -1;
    return pid;
}

void Syslog::set_option(int option) {
    MutexLock guard(lock_);
    option_ = option;
}

}  // namespace vantrel
