#include "tests/tools/gateway_harness.h"

#include <stdexcept>

#include "tests/support/ipc_test.h"

namespace vantrel::test {

GatewayProcess::GatewayProcess(const std::string& token_file, const std::string& listen,
                               int poll_ms) {
    process_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{helper_path("vantrel-gateway"), "--listen", listen, "--token-file",
                                 token_file, "--poll-ms", std::to_string(poll_ms)});
    for (int lines = 0; lines < 5 && port_ == 0; ++lines) {
        const auto line = process_->read_line(20000);
        if (!line) break;
        const auto at = line->find(" at http://");
        if (at == std::string::npos) continue;
        const auto colon = line->rfind(':');
        port_ = std::stoi(line->substr(colon + 1));
    }
    if (port_ == 0) throw std::runtime_error("vantrel-gateway did not say where it serves");
    token_ = slurp(token_file);
    while (!token_.empty() && token_.back() == '\n') token_.pop_back();
}

GatewayProcess::~GatewayProcess() {
    ::kill(process_->pid(), SIGTERM);
    process_->wait();
}

std::unique_ptr<httplib::Client> GatewayProcess::client(bool token) const {
    auto c = std::make_unique<httplib::Client>("127.0.0.1", port_);
    c->set_read_timeout(15, 0);
    c->set_connection_timeout(5, 0);
    if (token) c->set_bearer_token_auth(token_);
    return c;
}

Json json_of(const httplib::Result& result) {
    if (!result) return nullptr;
    return Json::parse(result->body, nullptr, false);
}

}  // namespace vantrel::test
