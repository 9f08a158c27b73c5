#pragma once
// The simulated analyser with a vantrel-gateway process in front of it, for the gateway's tests:
// the selector READY in the test's own IPC scope, the gateway on a free loopback port with a token
// file in the analyser's directory, and an HTTP client of it.

#include <httplib.h>

#include <memory>
#include <string>

#include "tests/support/child_process.h"
#include "tests/system/analyser.h"
#include "tools/client/json.h"

namespace vantrel::test {

using ctl::Json;

class GatewayProcess {
  public:
    // Starts vantrel-gateway with `listen` (port 0: a free one) and waits for its URL.
    GatewayProcess(const std::string& token_file, const std::string& listen = "127.0.0.1:0",
                   int poll_ms = 50);
    ~GatewayProcess();

    int port() const { return port_; }
    std::string url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/"; }
    const std::string& token() const { return token_; }
    // A client of it; with `token` every request carries the header.
    std::unique_ptr<httplib::Client> client(bool token = true) const;
    ChildProcess& process() { return *process_; }

  private:
    std::unique_ptr<ChildProcess> process_;
    int port_ = 0;
    std::string token_;
};

// The body of a reply as JSON (null when it is not JSON).
Json json_of(const httplib::Result& result);

}  // namespace vantrel::test
