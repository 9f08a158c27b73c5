#include "tools/gateway/server.h"

#include <arpa/inet.h>
#include <httplib.h>
#include <openssl/evp.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cmath>
#include <limits>
#include <stdexcept>
#include <vector>

#include "tools/gateway/actions.h"
#include "tools/gateway/page.h"
#include "tools/gateway/token.h"

namespace vantrel::gateway {
namespace {

using Clock = std::chrono::steady_clock;

// The route a request was matched to, for the request counter (set before routing, read by the
// logger on the same thread).
thread_local std::string current_route;

bool is_loopback_address(const std::string& address) {
    in_addr v4{};
    if (::inet_pton(AF_INET, address.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
    in6_addr v6{};
    if (::inet_pton(AF_INET6, address.c_str(), &v6) != 1) return false;
    if (IN6_IS_ADDR_LOOPBACK(&v6)) return true;
    return IN6_IS_ADDR_V4MAPPED(&v6) && v6.s6_addr[12] == 127;
}

std::string lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// The SHA-256 of `text` in base64, for the page's script-src.
std::string sha256_base64(const std::string& text) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(text.data(), text.size(), digest, &length, EVP_sha256(), nullptr) != 1)
        throw std::runtime_error("SHA-256 of the page's script failed");
    std::string out(4 * ((length + 2) / 3) + 1, '\0');
    const int written = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()), digest,
                                        static_cast<int>(length));
    out.resize(static_cast<std::size_t>(written));
    return out;
}

// The text between the page's <script> and </script>.
std::string page_script(const std::string& page) {
    const auto open = page.find("<script>");
    const auto close = page.find("</script>");
    if (open == std::string::npos || close == std::string::npos || close < open)
        throw std::runtime_error("the page has no script");
    return page.substr(open + 8, close - open - 8);
}

std::optional<std::int32_t> int32_of(const Json& v) {
    if (v.is_number_unsigned()) {
        const auto u = v.get<std::uint64_t>();
        if (u <= static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max()))
            return static_cast<std::int32_t>(u);
        return std::nullopt;
    }
    if (v.is_number_integer()) {
        const auto i = v.get<std::int64_t>();
        if (i >= std::numeric_limits<std::int32_t>::min() &&
            i <= std::numeric_limits<std::int32_t>::max())
            return static_cast<std::int32_t>(i);
    }
    return std::nullopt;
}

// The HTTP workers run at a lower priority than the poller and the analyser's processes: however
// many clients read, the selector's calls are served first.
class YieldingPool : public httplib::TaskQueue {
  public:
    explicit YieldingPool(std::size_t workers) : pool_(workers) {}
    void enqueue(std::function<void()> fn) override {
        pool_.enqueue([fn = std::move(fn)] {
            thread_local const bool lowered =
                ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), kWorkerNice) == 0;
            (void)lowered;
            fn();
        });
    }
    void shutdown() override { pool_.shutdown(); }

  private:
    static constexpr int kWorkerNice = 10;
    httplib::ThreadPool pool_;
};

// The refusals the HTTP library makes on its own, before any route runs.
std::string reason_phrase(int status) {
    switch (status) {
        case 400:
            return "malformed request";
        case 404:
            return "not found";
        case 408:
            return "the request was not received in time";
        case 413:
            return "the body is larger than " + std::to_string(Gateway::kMaxBody) + " bytes";
        case 414:
            return "the request line is too long";
        case 416:
            return "range not satisfiable";
        case 431:
            return "the request's header fields are too large";
        case 500:
            return "internal error";
    }
    return "refused";
}

// A check of a request's body failed: the reply to give.
struct BadRequest {
    std::string message;
};

// The body as a JSON object whose keys are among `allowed`; an empty body is {}.
Json body_object(const httplib::Request& req, std::initializer_list<const char*> allowed) {
    if (req.body.find_first_not_of(" \t\r\n") == std::string::npos) return Json::object();
    // No body of ours nests deeper than this; refusing more keeps every later walk shallow.
    constexpr int kMaxDepth = 8;
    Json body;
    try {
        body = Json::parse(req.body, [](int depth, Json::parse_event_t, Json&) {
            if (depth > kMaxDepth)
                throw BadRequest{"the JSON is nested more than " + std::to_string(kMaxDepth) +
                                 " deep"};
            return true;
        });
    } catch (const Json::parse_error& e) {
        throw BadRequest{std::string("malformed JSON: ") + e.what()};
    }
    if (!body.is_object()) throw BadRequest{"the body must be a JSON object"};
    for (const auto& [key, value] : body.items()) {
        bool known = false;
        for (const char* name : allowed) known = known || key == name;
        if (!known) throw BadRequest{"unknown field \"" + key + "\""};
    }
    return body;
}

std::int32_t int_field(const Json& body, const char* name, std::int32_t low, std::int32_t high) {
    const auto value = int32_of(body.at(name));
    if (!value || *value < low || *value > high)
        throw BadRequest{std::string("\"") + name + "\" must be an integer from " +
                         std::to_string(low) + " to " + std::to_string(high)};
    return *value;
}

double real_field(const Json& body, const char* name) {
    const Json& v = body.at(name);
    if (!v.is_number() || !std::isfinite(v.get<double>()))
        throw BadRequest{std::string("\"") + name + "\" must be a finite number"};
    return v.get<double>();
}

bool bool_field(const Json& body, const char* name) {
    if (!body.at(name).is_boolean())
        throw BadRequest{std::string("\"") + name + "\" must be true or false"};
    return body.at(name).get<bool>();
}

// A column type the statistics file can write and read back as it is, and that the selector
// answers whole.
std::string type_field(const Json& body) {
    constexpr std::size_t kMaxType = 249;
    if (!body.at("type").is_string()) throw BadRequest{"\"type\" must be a text"};
    const std::string type = body.at("type").get<std::string>();
    if (type.size() > kMaxType)
        throw BadRequest{"\"type\" holds " + std::to_string(type.size()) + " bytes; at most " +
                         std::to_string(kMaxType) + " are kept"};
    for (unsigned char c : type)
        if (c == '"' || c < 0x20 || c == 0x7f)
            throw BadRequest{"\"type\" may not hold a double quote or a control character"};
    return type;
}

// The words of an operation's arguments, typed as its table says; parse_arguments checks their
// number and range as vantrelctl does.
std::vector<Value> arguments_of(const Operation& op, const Json& args) {
    if (!args.is_array()) throw BadRequest{"\"args\" must be an array"};
    std::vector<std::string> words;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const Json& v = args[i];
        const std::string which = "argument " + std::to_string(i + 1) + " of \"" + op.name + "\"";
        const WireType type = i < op.arguments.size() ? op.arguments[i] : WireType::text;
        if (type == WireType::text && v.is_string()) {
            words.push_back(v.get<std::string>());
        } else if (type == WireType::truth && v.is_boolean()) {
            words.push_back(v.get<bool>() ? "1" : "0");
        } else if (type == WireType::real && v.is_number()) {
            words.push_back(v.dump());
        } else if ((type == WireType::integer || type == WireType::truth) &&
                   v.is_number_integer()) {
            words.push_back(v.dump());
        } else if (i >= op.arguments.size()) {
            words.emplace_back();  // counted, and refused for its number below
        } else {
            throw BadRequest{which + " must be " +
                             (type == WireType::text    ? "a text"
                              : type == WireType::real  ? "a number"
                              : type == WireType::truth ? "true, false, 0 or 1"
                                                        : "an integer")};
        }
    }
    try {
        return ctl::parse_arguments(op, words);
    } catch (const ctl::UsageError& e) {
        throw BadRequest{e.what()};
    }
}

// Operations that act on files of the analyser's machine as the selector's user: not offered to
// HTTP clients, who may sit on another machine.
bool file_operation(const std::string& name) {
    return name == "save_config" || name == "load_config" || name == "delete_config";
}

// The interface an operation goes to: the one named in the body, when it is of the operation's
// kind, else its kind's usual one.
std::string interface_for(const ctl::NamedOperation& named, const Json& body,
                          const std::string& selector) {
    std::vector<std::string> allowed;
    if (!named.kind) {
        allowed = {selector, "LogServer", "Supervisor", "RotaryMC", "LinearMC", "Sipper"};
    } else if (*named.kind == ctl::Kind::selector) {
        allowed = {selector};
    } else if (*named.kind == ctl::Kind::board_manager) {
        allowed = {"RotaryMC", "LinearMC"};
    } else {
        allowed = {"Sipper"};
    }
    if (!body.contains("interface")) return allowed.front();
    const Json& v = body.at("interface");
    for (const auto& name : allowed)
        if (v.is_string() && v.get<std::string>() == name) return name;
    std::string list;
    for (const auto& name : allowed) list += (list.empty() ? "" : ", ") + name;
    throw BadRequest{"\"" + named.op->name + "\" goes to one of: " + list};
}

}  // namespace

ListenAddress parse_listen(const std::string& text) {
    const auto colon = text.rfind(':');
    if (colon == std::string::npos || colon + 1 == text.size())
        throw std::invalid_argument("--listen takes ADDRESS:PORT, not \"" + text + "\"");
    std::string host = text.substr(0, colon);
    const std::string port_text = text.substr(colon + 1);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    if (host == "localhost") host = "127.0.0.1";
    in_addr v4{};
    in6_addr v6{};
    if (::inet_pton(AF_INET, host.c_str(), &v4) != 1 &&
        ::inet_pton(AF_INET6, host.c_str(), &v6) != 1)
        throw std::invalid_argument("--listen: \"" + host +
                                    "\" is not a numeric IPv4 or IPv6 address");
    if (port_text.find_first_not_of("0123456789") != std::string::npos || port_text.size() > 5 ||
        std::stoi(port_text) > 65535)
        throw std::invalid_argument("--listen: the port must be from 0 to 65535, not \"" +
                                    port_text + "\"");
    return {host, std::stoi(port_text), is_loopback_address(host)};
}

bool RateLimiter::allow(const std::string& key, Clock::time_point now) {
    std::lock_guard lock(mutex_);
    auto it = buckets_.find(key);
    if (it == buckets_.end()) {
        if (buckets_.size() >= kMaxClients)
            std::erase_if(buckets_, [&](const auto& entry) {
                return now - entry.second.last > std::chrono::duration<double>(burst_ / rate_);
            });
        if (buckets_.size() >= kMaxClients) return true;
        it = buckets_.emplace(key, Bucket{burst_, now}).first;
    }
    Bucket& b = it->second;
    const double elapsed = std::chrono::duration<double>(now - b.last).count();
    b.tokens = std::min(burst_, b.tokens + std::max(0.0, elapsed) * rate_);
    b.last = now;
    if (b.tokens < 1.0) return false;
    b.tokens -= 1.0;
    return true;
}

bool Gateway::Route::matches(const std::string& path) const {
    if (segment == none) return path == prefix;
    if (!path.starts_with(prefix)) return false;
    const std::string_view rest = std::string_view(path).substr(prefix.size());
    if (rest.empty() || rest.size() > max_length) return false;
    for (const char c : rest) {
        const bool digit = c >= '0' && c <= '9';
        const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
        if (!(segment == digits ? digit : letter)) return false;
    }
    return true;
}

std::string Gateway::Route::pattern() const {
    if (segment == none) return prefix;
    const std::string characters = segment == digits ? "[0-9]" : "[A-Za-z_]";
    return prefix + "(" + characters + "{1," + std::to_string(max_length) + "})";
}

std::string Gateway::path_of(const std::string& label) const {
    for (const Route& route : routes_)
        if (route.label == label) return route.pattern();
    throw std::logic_error("vantrel-gateway has no route " + label);
}

struct Gateway::Stream {
    bool opened = false;
    std::uint64_t last = 0;
};

Gateway::Gateway(GatewayOptions options)
    : options_(std::move(options)),
      hub_(options_.poller.interface),
      poller_(options_.poller, hub_),
      page_(page_html()),
      server_(std::make_unique<httplib::Server>()) {
    page_policy_ =
        "default-src 'none'; script-src 'sha256-" + sha256_base64(page_script(page_)) +
        "'; style-src 'unsafe-inline'; img-src data:; connect-src 'self'; base-uri 'none'; "
        "form-action 'none'; frame-ancestors 'none'";
    install_routes();
}

Gateway::~Gateway() {
    stop();
}

std::string Gateway::url() const {
    const std::string& host = options_.listen.host;
    return "http://" + (host.find(':') != std::string::npos ? "[" + host + "]" : host) + ":" +
           std::to_string(port_) + "/";
}

int Gateway::bind() {
    poller_.start();
    const auto& listen = options_.listen;
    if (listen.port == 0) {
        port_ = server_->bind_to_any_port(listen.host);
        if (port_ <= 0)
            throw std::runtime_error("cannot listen on " + listen.host + ": no free port");
    } else {
        if (!server_->bind_to_port(listen.host, listen.port))
            throw std::runtime_error("cannot listen on " + listen.host + " port " +
                                     std::to_string(listen.port) +
                                     " (in use, or not an address of this machine)");
        port_ = listen.port;
    }
    return port_;
}

void Gateway::serve() {
    server_->listen_after_bind();
}

void Gateway::stop() {
    hub_.close();
    if (server_) server_->stop();
    poller_.stop();
}

bool Gateway::host_allowed(const std::string& host_header) const {
    if (!options_.listen.loopback) return true;  // every request carries the token there
    std::string host = lower(host_header);
    std::string port;
    if (!host.empty() && host.front() == '[') {
        const auto close = host.find(']');
        if (close == std::string::npos) return false;
        if (close + 1 < host.size()) {
            if (host[close + 1] != ':') return false;
            port = host.substr(close + 2);
        }
        host = host.substr(1, close - 1);
    } else if (const auto colon = host.find(':'); colon != std::string::npos) {
        port = host.substr(colon + 1);
        host = host.substr(0, colon);
    }
    if (!port.empty() && port != std::to_string(port_)) return false;
    return host == "localhost" || host == "127.0.0.1" || host == "::1" ||
           host == lower(options_.listen.host);
}

bool Gateway::authorised(const httplib::Request& req) const {
    const std::string header = req.get_header_value("Authorization");
    constexpr std::string_view kScheme = "Bearer ";
    if (header.size() <= kScheme.size() || lower(header.substr(0, kScheme.size())) != "bearer ")
        return false;
    return same_token(options_.token, std::string_view(header).substr(kScheme.size()));
}

void Gateway::send(httplib::Response& res, const Reply& reply) const {
    res.status = reply.status;
    res.set_content(ctl::dump(reply.body), "application/json");
}

bool Gateway::refuse_before_routing(const httplib::Request& req, httplib::Response& res) {
    current_route = "unmatched";
    auto refuse = [&](int status, const std::string& message) {
        send(res, error_reply(status, message));
        return true;
    };
    if (!req.has_header("Host")) return refuse(400, "the request has no Host header");
    if (req.get_header_value_count("Host") != 1 || !host_allowed(req.get_header_value("Host")))
        return refuse(403, "the Host header names no address of this gateway");
    if (req.has_header("Origin") &&
        req.get_header_value("Origin") != "http://" + req.get_header_value("Host"))
        return refuse(403, "requests from pages of another origin are refused");
    if (!is_loopback_address(req.remote_addr) && !limiter_.allow(req.remote_addr, Clock::now())) {
        res.set_header("Retry-After", "1");
        return refuse(429, "too many requests from " + req.remote_addr + "; at most " +
                               std::to_string(static_cast<int>(kRate)) + " a second");
    }
    const Route* route = nullptr;
    for (const Route& r : routes_)
        if (r.matches(req.path)) route = &r;
    if (!route) return refuse(404, "no route " + req.path);
    current_route = route->label;
    bool allowed = false;
    std::string allow;
    for (const auto& m : route->methods) {
        allowed = allowed || m == req.method;
        allow += (allow.empty() ? "" : ", ") + m;
    }
    if (!allowed) {
        res.set_header("Allow", allow);
        return refuse(
            405, req.method + " is not allowed on " + route->label + " (allowed: " + allow + ")");
    }
    const bool write = req.method != "GET";
    if ((write || (!options_.listen.loopback && route->label != "/")) && !authorised(req)) {
        res.set_header("WWW-Authenticate", "Bearer realm=\"vantrel-gateway\"");
        return refuse(401, req.has_header("Authorization")
                               ? "the token is wrong"
                               : "this request needs the header Authorization: Bearer TOKEN "
                                 "(the token is in the gateway's token file)");
    }
    return false;
}

void Gateway::run_command(httplib::Response& res, Poller::Command command) {
    const auto reply = poller_.run(std::move(command), kCommandLimit);
    if (!reply) {
        res.set_header("Retry-After", "1");
        send(res, error_reply(503, "the gateway's poller did not take the request within " +
                                       std::to_string(kCommandLimit.count()) +
                                       " s (the selector is slow to answer, or too many requests "
                                       "wait); nothing was sent"));
        return;
    }
    send(res, *reply);
}

void Gateway::install_routes() {
    routes_ = {
        {"/", "/", Route::none, 0, {"GET"}},
        {"/metrics", "/metrics", Route::none, 0, {"GET"}},
        {"/api/v1/status", "/api/v1/status", Route::none, 0, {"GET"}},
        {"/api/v1/events", "/api/v1/events", Route::none, 0, {"GET"}},
        {"/api/v1/operations", "/api/v1/operations", Route::none, 0, {"GET"}},
        {"/api/v1/operations/{id}", "/api/v1/operations/", Route::digits, 19, {"GET"}},
        {"/api/v1/home", "/api/v1/home", Route::none, 0, {"POST"}},
        {"/api/v1/column", "/api/v1/column", Route::none, 0, {"POST"}},
        {"/api/v1/columns/{n}", "/api/v1/columns/", Route::digits, 9, {"PUT"}},
        {"/api/v1/samples/increment", "/api/v1/samples/increment", Route::none, 0, {"POST"}},
        {"/api/v1/settings", "/api/v1/settings", Route::none, 0, {"PUT"}},
        {"/api/v1/call/{operation}", "/api/v1/call/", Route::name, 64, {"POST"}},
    };
    configure_server();
    install_handlers();
    install_page_route();
    install_status_routes();
    install_motion_routes();
    install_column_routes();
    install_call_route();
}

void Gateway::configure_server() {
    httplib::Server& s = *server_;
    s.new_task_queue = [] { return new YieldingPool(kWorkers); };
    // Headers and body go out in separate writes: without this, Nagle's algorithm holds the body
    // until the client's delayed acknowledgement, some 40 ms a request.
    s.set_tcp_nodelay(true);
    s.set_payload_max_length(kMaxBody);
    s.set_read_timeout(5, 0);
    s.set_write_timeout(5, 0);
    s.set_keep_alive_timeout(5);
    s.set_keep_alive_max_count(100);
    s.set_default_headers({{"Cache-Control", "no-store"},
                           {"X-Content-Type-Options", "nosniff"},
                           {"X-Frame-Options", "DENY"},
                           {"Referrer-Policy", "no-referrer"}});
}

// What every request meets: the checks before routing, the JSON form of refusals and failures,
// and the request counter.
void Gateway::install_handlers() {
    httplib::Server& s = *server_;
    s.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
        return refuse_before_routing(req, res) ? httplib::Server::HandlerResponse::Handled
                                               : httplib::Server::HandlerResponse::Unhandled;
    });
    // Refusals of the library itself (a malformed request, 413) get the JSON form too.
    s.set_error_handler(httplib::Server::HandlerWithResponse(
        [this](const httplib::Request&, httplib::Response& res) {
            if (!res.body.empty()) return httplib::Server::HandlerResponse::Unhandled;
            send(res, error_reply(res.status, reason_phrase(res.status)));
            return httplib::Server::HandlerResponse::Handled;
        }));
    s.set_exception_handler(
        [this](const httplib::Request&, httplib::Response& res, std::exception_ptr error) {
            try {
                std::rethrow_exception(error);
            } catch (const BadRequest& bad) {
                send(res, error_reply(400, bad.message));
            } catch (const std::exception& e) {
                send(res, error_reply(500, std::string("internal error: ") + e.what()));
            } catch (...) {
                send(res, error_reply(500, "internal error"));
            }
        });
    s.set_logger([this](const httplib::Request&, const httplib::Response& res) {
        hub_.count_request(current_route.empty() ? "unmatched" : current_route, res.status);
        current_route.clear();
    });
}

void Gateway::install_page_route() {
    server_->Get(path_of("/"), [this](const httplib::Request&, httplib::Response& res) {
        res.set_header("Content-Security-Policy", page_policy_);
        res.set_content(page_, "text/html; charset=utf-8");
    });
}

// What the gateway reads and keeps: metrics, status, events and the operations it started.
void Gateway::install_status_routes() {
    httplib::Server& s = *server_;
    s.Get(path_of("/metrics"), [this](const httplib::Request&, httplib::Response& res) {
        res.set_content(hub_.metrics(), "text/plain; version=0.0.4; charset=utf-8");
    });
    s.Get(path_of("/api/v1/status"), [this](const httplib::Request&, httplib::Response& res) {
        const auto [status, body] = hub_.status_reply();
        res.status = status;
        res.set_content(*body, "application/json");
    });
    s.Get(path_of("/api/v1/events"),
          [this](const httplib::Request&, httplib::Response& res) { open_stream(res); });
    s.Get(path_of("/api/v1/operations"), [this](const httplib::Request&, httplib::Response& res) {
        send(res, {200, hub_.operations_json()});
    });
    s.Get(path_of("/api/v1/operations/{id}"),
          [this](const httplib::Request& req, httplib::Response& res) {
              const auto op = hub_.operation(std::stoull(req.matches[1].str()));
              if (!op)
                  send(res, error_reply(404, "no operation " + req.matches[1].str() +
                                                 " (the gateway keeps the last " +
                                                 std::to_string(Hub::kOperationsKept) + ")"));
              else
                  send(res, {200, op->json()});
          });
}

void Gateway::install_motion_routes() {
    httplib::Server& s = *server_;
    s.Post(path_of("/api/v1/home"), [this](const httplib::Request& req, httplib::Response& res) {
        body_object(req, {});
        run_command(res, [](Poller::Access& a) { return start_motion(a, std::nullopt); });
    });
    s.Post(path_of("/api/v1/column"), [this](const httplib::Request& req, httplib::Response& res) {
        const Json body = body_object(req, {"column"});
        if (!body.contains("column")) throw BadRequest{"\"column\" is missing (0 parks)"};
        const int column = int_field(body, "column", 0, 64);
        run_command(res, [column](Poller::Access& a) { return start_motion(a, column); });
    });
}

// The column statistics and the selector's settings.
void Gateway::install_column_routes() {
    httplib::Server& s = *server_;
    s.Put(path_of("/api/v1/columns/{n}"), [this](const httplib::Request& req,
                                                 httplib::Response& res) {
        const int column = std::stoi(req.matches[1].str());
        const Json body = body_object(req, {"type", "samples"});
        std::optional<std::string> type;
        std::optional<std::int32_t> samples;
        if (body.contains("type")) type = type_field(body);
        if (body.contains("samples"))
            samples = int_field(body, "samples", 0, std::numeric_limits<std::int32_t>::max());
        if (!type && !samples) throw BadRequest{"give \"type\", \"samples\" or both"};
        run_command(res, [=](Poller::Access& a) { return set_column(a, column, type, samples); });
    });
    s.Post(path_of("/api/v1/samples/increment"),
           [this](const httplib::Request& req, httplib::Response& res) {
               body_object(req, {});
               run_command(res, [](Poller::Access& a) { return increment_samples(a); });
           });
    s.Put(path_of("/api/v1/settings"), [this](const httplib::Request& req, httplib::Response& res) {
        const Json body =
            body_object(req, {"auto_column_switch", "p1_pres_limit", "p3_pres_limit"});
        std::optional<bool> auto_switch;
        std::optional<double> p1, p3;
        if (body.contains("auto_column_switch"))
            auto_switch = bool_field(body, "auto_column_switch");
        if (body.contains("p1_pres_limit")) p1 = real_field(body, "p1_pres_limit");
        if (body.contains("p3_pres_limit")) p3 = real_field(body, "p3_pres_limit");
        if (!auto_switch && !p1 && !p3)
            throw BadRequest{"give \"auto_column_switch\", \"p1_pres_limit\" or \"p3_pres_limit\""};
        run_command(res,
                    [=](Poller::Access& a) { return change_settings(a, auto_switch, p1, p3); });
    });
}

// Any operation by name, as vantrelctl calls it; motions go the way of the motion routes.
void Gateway::install_call_route() {
    server_->Post(path_of("/api/v1/call/{operation}"), [this](const httplib::Request& req,
                                                              httplib::Response& res) {
        const std::string name = req.matches[1].str();
        const auto named = ctl::find_operation(name);
        if (!named) return send(res, error_reply(404, "no operation \"" + name + "\""));
        if (file_operation(name))
            return send(res, error_reply(403, "\"" + name +
                                                  "\" acts on files of the analyser's machine; "
                                                  "it is not offered over HTTP (use vantrelctl "
                                                  "there)"));
        const Json body = body_object(req, {"args", "interface"});
        static const Json no_arguments = Json::array();
        const std::vector<Value> arguments =
            arguments_of(*named->op, body.contains("args") ? body.at("args") : no_arguments);
        const std::string interface = interface_for(*named, body, options_.poller.interface);
        if (name == "home" || name == "set_current_column") {
            std::optional<int> column;
            if (!arguments.empty()) column = std::get<std::int32_t>(arguments[0]);
            return run_command(res,
                               [column](Poller::Access& a) { return start_motion(a, column); });
        }
        const ctl::NamedOperation op = *named;
        run_command(res, [=](Poller::Access& a) {
            return call_operation(a, interface, op.kind, *op.op, arguments);
        });
    });
}

void Gateway::open_stream(httplib::Response& res) {
    const int clients = ++event_clients_;
    if (clients > kMaxEventClients) {
        --event_clients_;
        res.set_header("Retry-After", "5");
        return send(res, error_reply(503, "too many event streams are open (at most " +
                                              std::to_string(kMaxEventClients) + ")"));
    }
    hub_.set_event_clients(clients);
    auto stream = std::make_shared<Stream>();
    res.set_chunked_content_provider(
        "text/event-stream",
        [this, stream](std::size_t, httplib::DataSink& sink) { return pump(*stream, sink); },
        [this](bool) { hub_.set_event_clients(--event_clients_); });
}

bool Gateway::pump(Stream& stream, httplib::DataSink& sink) {
    constexpr auto kKeepAlive = std::chrono::seconds(15);
    auto write = [&](const std::string& text) { return sink.write(text.data(), text.size()); };
    auto event_text = [](const Event& e) {
        return "id: " + std::to_string(e.id) + "\nevent: " + e.name + "\ndata: " + e.data + "\n\n";
    };
    auto snapshot = [&](const char* prefix) {
        const Event e = hub_.snapshot_event();
        stream.last = e.id;
        return write(prefix + event_text(e));
    };
    if (!stream.opened) {
        stream.opened = true;
        return snapshot("retry: 2000\n");
    }
    const auto quiet_until = Clock::now() + kKeepAlive;
    std::vector<Event> events;
    while (!hub_.closed()) {
        if (!hub_.events_after(stream.last, events)) return snapshot("");  // fell behind
        if (!events.empty()) {
            std::string text;
            for (const Event& e : events) text += event_text(e);
            stream.last = events.back().id;
            return write(text);
        }
        // A comment now and then finds a client that has gone.
        if (Clock::now() >= quiet_until) return write(": keep-alive\n\n");
        hub_.wait_for_event(stream.last, std::chrono::milliseconds(500));
    }
    return false;
}

}  // namespace vantrel::gateway
