#pragma once
// Runs the command-line tools of the build as a user would: a real process, its output and its
// errors read together, its exit status.

#include <string>
#include <vector>

namespace vantrel::test {

struct ToolRun {
    int status = -1;
    std::string output;  // standard output and standard error, interleaved as written
};

// Runs `program` (a program of the build's bin directory) with `arguments` until it ends; after
// `timeout_ms` the program is killed and the run fails the test.
ToolRun run_tool(const std::string& program, const std::vector<std::string>& arguments,
                 int timeout_ms = 30000);

// The argument vector that runs `program` with its errors going to its output, for ChildProcess.
std::vector<std::string> tool_command(const std::string& program,
                                      const std::vector<std::string>& arguments);

}  // namespace vantrel::test
