#pragma once
// The local log file. Lines are numbered per opened file, time-stamped in local time and flushed
// one by one, so the file is complete up to its last line even when the process dies.
//
// Format (bytes as written, no line-end translation):
//   header    "Log file: <name> created <stamp>\n"
//   numbered  "<n> <stamp> <message> \r\n"
//   plain     "<message> \r\n"
//   footer    "Log file: <name> closed <stamp>\r\n"
// with <stamp> "MM/DD/YY hh:mm:ss".
//
// A message cannot forge lines: its control characters other than tab (bytes below 0x20, and
// DEL) are written as visible escapes, "\r", "\n" and "\xHH", in the file and in the copy that
// write hands back for the log server; every other byte stays as it is. A line that a write error
// (a full disk) cut short is ended with CR LF before the next line is written.
//
// Thread safety: write, write_plain and set_option serialise on the log's lock, so numbered lines
// from several threads never interleave and their numbers follow their order in the file.

#include <sys/types.h>

#include <ctime>
#include <functional>
#include <string>

#include "framework/mutex.h"

namespace vantrel {

class DateTime {
  public:
    virtual ~DateTime() = default;
    // The time stamp of the current local time.
    virtual std::string now_text();
    // The time stamp of a broken-down time: "MM/DD/YY hh:mm:ss".
    static std::string text_of(const std::tm& time);
};

class Syslog : public DateTime {
  public:
    // Supplies time stamps instead of the local clock (tests use a fixed time).
    using StampSource = std::function<std::string()>;

    // Opens the log, creating its directory when missing; emptied first unless `append`.
    // Throws Exception("Failed to open: " + file name).
    Syslog(const std::string& file_name, bool append, StampSource stamps = {});
    ~Syslog() override;

    Syslog(const Syslog&) = delete;
    Syslog& operator=(const Syslog&) = delete;

    // Appends a numbered line. With a buffer, also copies "<stamp> <message>" into it, cut to
    // `buffer_size` - 1 characters and NUL-ended.
    virtual bool write(const char* message, char* buffer, std::size_t buffer_size);
    virtual bool write(const char* message);
    virtual bool write(const std::string& message);
    virtual bool write_plain(const char* message);
    virtual bool write_plain(const std::string& message);
    // Starts `program` (searched along PATH) with the log file name as its argument, without
    // waiting. The process id, or -1 when it could not be started.
    virtual pid_t open_with(const std::string& program);
    virtual void set_option(int option);

    // `message` with its control characters other than tab escaped, as every line shows it.
    static std::string escape_controls(const std::string& message);

    const std::string& file_name() const noexcept { return file_name_; }
    int line_count() const noexcept { return line_count_; }

    std::string now_text() override;

  private:
    // Writes `line` whole, after ending a line that an earlier failure cut short. Under the lock.
    bool append(const std::string& line);

    Mutex lock_;
    int fd_ = -1;
    // The last write stopped part way through its line.
    bool cut_ = false;
    std::string file_name_;
    int line_count_ = 0;
    int option_ = 0;
    StampSource stamps_;
};

}  // namespace vantrel
