#pragma once
// Fixtures for tests that use named objects or threads.
//  - Every test gets an IPC scope of its own (VANTREL_IPC_SCOPE, inherited by child processes), so
//    ctest may run test programs in parallel without them seeing each other's objects. It is
//    named after the scope the program was started in, "<that scope>-t<pid>-<n>", so a test run
//    finds what its tests left behind by that prefix.
//  - A watchdog aborts the test program when one test runs longer than its limit, so a deadlock
//    fails fast instead of hanging the run.

#include <gtest/gtest.h>

#include <string>

namespace vantrel::test {

// Sets a fresh VANTREL_IPC_SCOPE for its lifetime and restores the previous value afterwards.
class ScopedIpcScope {
  public:
    ScopedIpcScope();
    ~ScopedIpcScope();
    const std::string& scope() const { return scope_; }

  private:
    std::string scope_;
    std::string previous_;
    bool had_previous_ = false;
};

// Aborts the process (SIGALRM) when a test outlives `seconds`.
class Watchdog {
  public:
    explicit Watchdog(unsigned seconds);
    ~Watchdog();
};

class IpcTest : public ::testing::Test {
  protected:
    ScopedIpcScope scope_;
    Watchdog watchdog_{60};
};

// Path of a helper program built next to the test programs.
std::string helper_path(const std::string& name);

}  // namespace vantrel::test
