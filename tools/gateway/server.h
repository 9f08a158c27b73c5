#pragma once
// The gateway's HTTP side: the routes under /api/v1, the event stream, /metrics and the page,
// with the door's rules applied before any route runs:
//  - Host: on a loopback address the Host header must name a loopback host (localhost, 127.0.0.1,
//    [::1]) or the listen address, so that a page of another site that a DNS name rebinds to
//    127.0.0.1 cannot read the API through a browser. An Origin header must be the Host's own.
//  - Token: writes (POST, PUT) need "Authorization: Bearer TOKEN"; on a non-loopback address every
//    request does, except the page itself, which holds no data and asks for the token. No cookies
//    are set or read, and no Access-Control-* header is ever sent: a preflight is refused (405).
//  - Limits: bodies above kMaxBody bytes get 413; at most kMaxEventClients event streams; per
//    client address (loopback peers excepted: all local processes share one address) a token
//    bucket of kRate requests a second; reads and writes of a connection time out.
// Every refusal is a JSON object {"error": ..., "status": ...} with the status.
//
// Thread safety: bind() and serve() on one thread; stop() from any thread.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "tools/gateway/hub.h"
#include "tools/gateway/poller.h"

namespace httplib {
class Server;
struct Request;
struct Response;
class DataSink;
}  // namespace httplib

namespace vantrel::gateway {

inline constexpr int kDefaultPort = 8734;

// "ADDR:PORT" with an IPv4 address, "[IPv6]:PORT", or "localhost:PORT". Throws
// std::invalid_argument naming what is wrong.
struct ListenAddress {
    std::string host;  // numeric
    int port = kDefaultPort;
    bool loopback = true;
};
ListenAddress parse_listen(const std::string& text);

// A token bucket per client key: `rate` requests a second, bursts of `burst`. The table holds at
// most kMaxClients keys; beyond that, new keys pass untracked rather than be refused for others'
// traffic. The clock is a parameter so tests need not wait.
class RateLimiter {
  public:
    static constexpr std::size_t kMaxClients = 4096;
    RateLimiter(double rate, double burst) : rate_(rate), burst_(burst) {}
    bool allow(const std::string& key, std::chrono::steady_clock::time_point now);

  private:
    struct Bucket {
        double tokens;
        std::chrono::steady_clock::time_point last;
    };
    std::mutex mutex_;
    const double rate_, burst_;
    std::unordered_map<std::string, Bucket> buckets_;
};

struct GatewayOptions {
    ListenAddress listen;
    std::string token;
    PollerOptions poller;
};

class Gateway {
  public:
    static constexpr std::size_t kMaxBody = 64 * 1024;
    static constexpr int kMaxEventClients = 16;
    static constexpr int kWorkers = kMaxEventClients + 16;
    static constexpr double kRate = 100.0;
    static constexpr double kBurst = 200.0;
    static constexpr std::chrono::seconds kCommandLimit{10};

    explicit Gateway(GatewayOptions options);
    ~Gateway();
    Gateway(const Gateway&) = delete;
    Gateway& operator=(const Gateway&) = delete;

    // Starts the poller and binds the listening socket; the port bound (the one asked for, or a
    // free one for port 0). Throws std::runtime_error when the address cannot be bound.
    int bind();
    // Serves until stop().
    void serve();
    void stop();

    // http://HOST:PORT/
    std::string url() const;

  private:
    // A path, or a prefix and one last segment of digits or of letters and underscores.
    struct Route {
        std::string label;  // the path as the request counter names it
        std::string prefix;
        enum Segment { none, digits, name } segment = none;
        std::size_t max_length = 0;
        std::vector<std::string> methods;
        bool matches(const std::string& path) const;
        // The same shape as httplib matches it, the last segment captured.
        std::string pattern() const;
    };
    // The pattern of the route that `label` names: handlers take their paths from the table.
    std::string path_of(const std::string& label) const;
    struct Stream;
    void install_routes();
    void configure_server();
    void install_handlers();
    void install_page_route();
    void install_status_routes();
    void install_motion_routes();
    void install_column_routes();
    void install_call_route();
    bool refuse_before_routing(const httplib::Request& req, httplib::Response& res);
    bool host_allowed(const std::string& host) const;
    bool authorised(const httplib::Request& req) const;
    void send(httplib::Response& res, const Reply& reply) const;
    void run_command(httplib::Response& res, Poller::Command command);
    void open_stream(httplib::Response& res);
    bool pump(Stream& stream, httplib::DataSink& sink);

    GatewayOptions options_;
    int port_ = 0;
    Hub hub_;
    Poller poller_;
    RateLimiter limiter_{kRate, kBurst};
    std::atomic<int> event_clients_{0};
    std::string page_;
    std::string page_policy_;  // Content-Security-Policy of the page
    std::vector<Route> routes_;
    std::unique_ptr<httplib::Server> server_;
};

}  // namespace vantrel::gateway
