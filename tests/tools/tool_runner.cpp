#include "tests/tools/tool_runner.h"

#include <gtest/gtest.h>

#include <chrono>

#include "tests/support/child_process.h"
#include "tests/support/ipc_test.h"

namespace vantrel::test {

std::vector<std::string> tool_command(const std::string& program,
                                      const std::vector<std::string>& arguments) {
    // The shell only joins the two streams; "$0" "$@" pass the words through untouched.
    std::vector<std::string> argv = {"/bin/sh", "-c", "exec \"$0\" \"$@\" 2>&1",
                                     helper_path(program)};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return argv;
}

ToolRun run_tool(const std::string& program, const std::vector<std::string>& arguments,
                 int timeout_ms) {
    ChildProcess child(tool_command(program, arguments));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    ToolRun run;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) {
            child.kill9();
            ADD_FAILURE() << program << " did not end within " << timeout_ms
                          << " ms; output so far:\n"
                          << run.output;
            return run;
        }
        const auto line = child.read_line(static_cast<int>(left));
        if (!line) {
            if (std::chrono::steady_clock::now() < deadline) break;  // end of output
            continue;
        }
        run.output += *line + "\n";
    }
    run.status = child.wait();
    return run;
}

}  // namespace vantrel::test
