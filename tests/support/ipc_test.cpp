#include "tests/support/ipc_test.h"

#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdlib>

#include "platform/named_object.h"

namespace vantrel::test {
namespace {

constexpr std::size_t kMaxScopeLength = 64;

}  // namespace

ScopedIpcScope::ScopedIpcScope() {
    static std::atomic<int> counter{0};
    if (const char* old = std::getenv("VANTREL_IPC_SCOPE")) {
        previous_ = old;
        had_previous_ = true;
    }
    // Inside the caller's scope when there is one, so that a test run can tell its own objects
    // by the prefix (scripts/test does); alone when that would make the name too long.
    scope_ = "t" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
    if (!previous_.empty() && previous_.size() + 1 + scope_.size() <= kMaxScopeLength)
        scope_ = previous_ + "-" + scope_;
    ::setenv("VANTREL_IPC_SCOPE", scope_.c_str(), 1);
}

ScopedIpcScope::~ScopedIpcScope() {
    vantrel::platform::remove_unheld_objects(scope_);
    if (had_previous_)
        ::setenv("VANTREL_IPC_SCOPE", previous_.c_str(), 1);
    else
        ::unsetenv("VANTREL_IPC_SCOPE");
}

Watchdog::Watchdog(unsigned seconds) {
    std::signal(SIGALRM, SIG_DFL);
    ::alarm(seconds);
}

Watchdog::~Watchdog() {
    ::alarm(0);
}

std::string helper_path(const std::string& name) {
    return std::string(VANTREL_TEST_BIN_DIR) + "/" + name;
}

}  // namespace vantrel::test
