#pragma once
// A child process for multi-process tests: started with posix_spawn (a real separate program),
// its standard output read line by line through a pipe, killed with SIGKILL on demand.
// Thread safety: one ChildProcess belongs to one test thread.

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace vantrel::test {

class ChildProcess {
  public:
    // Starts `argv[0]` (a path) with the given arguments and this process's environment.
    explicit ChildProcess(const std::vector<std::string>& argv);
    ~ChildProcess();  // kills and reaps a child that is still running

    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // The next line of the child's output without its newline; nullopt at end of output or when
    // nothing came within `timeout_ms`.
    std::optional<std::string> read_line(int timeout_ms = 10000);
    // Sends SIGKILL and reaps the child.
    void kill9();
    // Waits for the child to end; its exit code, or 128 + signal number.
    int wait();
    // Closes the child's standard input (children that hold until EOF then finish).
    void close_stdin();
    pid_t pid() const { return pid_; }

  private:
    pid_t pid_ = -1;
    int out_fd_ = -1;
    int in_fd_ = -1;
    std::string buffer_;
    bool reaped_ = false;
    int status_ = 0;
};

}  // namespace vantrel::test
