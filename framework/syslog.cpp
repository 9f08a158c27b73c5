#include "framework/syslog.h"

#include <fcntl.h>
#include <spawn.h>
#include <unistd.h>

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

Syslog::Syslog(const std::string& file_name, bool append, StampSource stamps)
    : file_name_(file_name), stamps_(std::move(stamps)) {
    const std::string dir = directory_of(file_name);
    if (!file_exists(dir)) make_directories(dir);  // a failure shows when the file will not open

    const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (append ? O_APPEND : O_TRUNC);
    const int fd = ::open(file_name.c_str(), flags, 0644);
    if (fd >= 0) {
        file_ = ::fdopen(fd, append ? "ab" : "wb");
        if (file_ == nullptr) ::close(fd);
    }
    if (file_ == nullptr) throw Exception("Failed to open: " + file_name);
    const std::string header = "Log file: " + file_name_ + " created " + now_text() + "\n";
    std::fputs(header.c_str(), file_);
    std::fflush(file_);
}

Syslog::~Syslog() {
    if (file_ != nullptr) {
        const std::string line = "Log file: " + file_name_ + " closed " + now_text() + "\r\n";
        std::fputs(line.c_str(), file_);
        std::fflush(file_);
        std::fclose(file_);
        file_ = nullptr;
    }
    lock_.close();
}

bool Syslog::write(const char* message, char* buffer, std::size_t buffer_size) {
    MutexLock guard(lock_);
    ++line_count_;
    const std::string stamp = now_text();
    if (buffer != nullptr && buffer_size > 0) {
        const std::string text = stamp + " " + message;
        const std::size_t n = std::min(text.size(), buffer_size - 1);
        std::memcpy(buffer, text.data(), n);
        buffer[n] = '\0';
    }
    if (file_ == nullptr) return false;
    const int written = std::fprintf(file_, "%li %s %s \r\n", static_cast<long>(line_count_),
                                     stamp.c_str(), message);
    return std::fflush(file_) == 0 && written >= 0;
}

bool Syslog::write(const char* message) {
    return write(message, nullptr, 0);
}

bool Syslog::write(const std::string& message) {
    return write(message.c_str());
}

bool Syslog::write_plain(const char* message) {
    MutexLock guard(lock_);
    if (file_ == nullptr) return false;
    const int written = std::fprintf(file_, "%s \r\n", message);
    return std::fflush(file_) == 0 && written >= 0;
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
