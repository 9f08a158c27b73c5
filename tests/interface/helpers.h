#pragma once
// Shared pieces of the interface tests: starting the helper program, and waiting for a condition
// that another process brings about.

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/ipc_test.h"

namespace vantrel::test {

inline ChildProcess interface_child(const std::vector<std::string>& args) {
    std::vector<std::string> argv{helper_path("interface_child")};
    argv.insert(argv.end(), args.begin(), args.end());
    return ChildProcess(argv);
}

// Polls `done` every millisecond; false when it did not hold within `limit_ms`.
template <typename Pred>
bool eventually(Pred done, int limit_ms = 10000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limit_ms);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

}  // namespace vantrel::test
