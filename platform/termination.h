#pragma once
// SIGTERM and SIGINT as a request to end in order. The handler only sets a flag, which the
// owner polls (the component's main loop does so once per cycle).
// Thread safety: termination_requested may be read from any thread.

namespace vantrel::platform {

// Installs the handlers for SIGTERM and SIGINT (once per process).
void install_termination_handler();
bool termination_requested();

}  // namespace vantrel::platform
