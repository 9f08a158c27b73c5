// transport_bench: the same two-way call between two processes (a 4-byte request, a 4-byte answer)
// over the transports a designer might pick instead of this system's interfaces, in one run:
//
//   transport_bench [--calls N] [--rounds R] [--placement same|split|free]
//
//  - futex: a raw ping-pong through two futex words in shared memory, the floor of any design
//    that wakes the other side;
//  - interface: this system's two-way call (InterfaceClient against an InterfaceServer serving
//    in a loop), an operation with one integer argument and one integer result slot;
//  - unix_socket: a connected AF_UNIX stream socket pair, blocking write and read;
//  - zeromq: REQ/REP over ipc:// (libzmq);
//  - iceoryx: request/response through iceoryx's shared memory, with its RouDi daemon started
//    and stopped by this program.
// Each call asks for n and must get n + 1. The transports are measured in R alternating blocks of
// N/R calls each, so that load from elsewhere falls on all alike; medians, 99th percentiles and
// their ratios to the futex floor are printed, one `name=value` line per figure. A transport
// that cannot run here prints `<name>_skipped=` and the reason. --placement: "same" (default)
// runs both sides on processor 0, "split" the caller on 0 and the servers on 1, "free" pins
// nothing.

#include <sys/socket.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "benchmarks/support/figures.h"
#include "benchmarks/support/futex_pingpong.h"
#include "benchmarks/support/processes.h"
#include "benchmarks/support/run.h"
#include "benchmarks/transports/transport.h"
#include "interface/interface_client.h"
#include "interface/interface_server.h"
#include "tools/client/command_line.h"

#ifdef VANTREL_HAVE_ZMQ
#include <zmq.h>
#endif

using namespace vantrel;
using namespace vantrel::bench;

namespace {

// A server process, pinned as placed, that runs `body` and exits.
pid_t fork_server(const Placement& placement, const std::function<void()>& body) {
    return fork_process(body, placement.server_cpu);
}

// --- the floor: two futex words in shared memory --------------------------------------------

// Requests and answers are never 0 (0 means empty): the request travels as n + 1.
class FutexTransport final : public Transport {
  public:
    explicit FutexTransport(const Placement& placement) {
        words_ = new (map_shared(sizeof(Words))) Words{};
        server_ = fork_server(placement, [w = words_] {
            for (std::uint32_t v; (v = take(w->request)) != kEnd;) give(w->answer, v + 1);
        });
    }
    ~FutexTransport() override {
        give(words_->request, kEnd);
        wait_exit(server_);
        unmap_shared(words_, sizeof(Words));
    }
    std::uint32_t call(std::uint32_t request) override {
        give(words_->request, request + 1);
        return take(words_->answer) - 1;
    }

  private:
    static constexpr std::uint32_t kEnd = 0xFFFFFFFF;
    struct Words {
        FutexWord request, answer;
    };
    Words* words_ = nullptr;
    pid_t server_ = -1;
};

// --- this system's interface ------------------------------------------------------------------

const std::string kInterfaceName = "TransportBench";

Operation declare(InterfaceLayout& layout) {
    return layout.add_two_way_with_slots("plus_one", 0, {WireType::integer}, {WireType::integer});
}

class PlusOneServer final : public InterfaceServer {
  public:
    PlusOneServer() : InterfaceServer(kInterfaceName) {
        op_ = declare(layout());
        set_queue_size(kQueueSize);
    }
    bool ended() const { return ended_; }

  protected:
    void dispatch(const CallRecord& record) override {
        const Operation* op = operation_of(record);
        if (op == nullptr) return reject(record, "unknown operation code");
        const auto args = accept(record, *op);
        if (!args) return;
        const std::int32_t n = args->integer(0);
        if (n == -1) ended_ = true;
        complete(*op, *args, {static_cast<std::int32_t>(static_cast<std::uint32_t>(n) + 1)});
    }

  private:
    Operation op_;
    bool ended_ = false;
};

class PlusOneClient final : public InterfaceClient {
  public:
    PlusOneClient() : InterfaceClient(kInterfaceName) {
        op_ = declare(layout());
        set_queue_size(kQueueSize);
    }
    int plus_one(std::int32_t n, std::int32_t& answer) { return call_two_way(op_, {n}, {answer}); }

  private:
    Operation op_;
};

class InterfaceTransport final : public Transport {
  public:
    explicit InterfaceTransport(const Placement& placement) {
        server_ = fork_server(placement, [] {
            PlusOneServer server;
            if (!server.open()) fail(server.open_error());
            while (!server.ended()) server.service();
        });
        if (!client_.open()) fail(client_.open_error());
        client_.set_call_timeout(10000);
        // The first calls may meet the server's open, which discards them and wakes us with 5.
        int rc = -1;
        std::int32_t answer = 0;
        for (int attempt = 0; attempt < 100 && rc != kCallDone; ++attempt)
            rc = client_.plus_one(1, answer);
        if (rc != kCallDone) fail(std::string("no answer: ") + describe_call_result(rc));
    }
    ~InterfaceTransport() override {
        std::int32_t answer = 0;
        client_.plus_one(-1, answer);
        wait_exit(server_);
    }
    std::uint32_t call(std::uint32_t request) override {
        std::int32_t answer = 0;
        const int rc = client_.plus_one(static_cast<std::int32_t>(request), answer);
        if (rc != kCallDone) fail(std::string("interface call: ") + describe_call_result(rc));
        return static_cast<std::uint32_t>(answer);
    }

  private:
    pid_t server_ = -1;
    PlusOneClient client_;
};

// --- a Unix-domain stream socket pair ---------------------------------------------------------

bool write_word(int fd, std::uint32_t value) {
    return ::write(fd, &value, sizeof value) == sizeof value;  // 4 bytes go in one piece
}

bool read_word(int fd, std::uint32_t& value) {
    auto* bytes = reinterpret_cast<char*>(&value);
    for (std::size_t got = 0; got < sizeof value;) {
        const ssize_t n = ::read(fd, bytes + got, sizeof value - got);
        if (n <= 0) return false;
        got += static_cast<std::size_t>(n);
    }
    return true;
}

class SocketTransport final : public Transport {
  public:
    explicit SocketTransport(const Placement& placement) {
        int fds[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0)
            fail(std::string("socketpair: ") + std::strerror(errno));
        fd_ = fds[0];
        server_ = fork_server(placement, [fd = fds[1], other = fds[0]] {
            ::close(other);
            for (std::uint32_t v; read_word(fd, v) && v != kEnd;) write_word(fd, v + 1);
        });
        ::close(fds[1]);
    }
    ~SocketTransport() override {
        // Servers forked later hold this end too, so closing it would not end the server.
        write_word(fd_, kEnd);
        wait_exit(server_);
        ::close(fd_);
    }
    std::uint32_t call(std::uint32_t request) override {
        std::uint32_t answer = 0;
        if (!write_word(fd_, request) || !read_word(fd_, answer)) fail("socket call failed");
        return answer;
    }

  private:
    static constexpr std::uint32_t kEnd = 0xFFFFFFFF;
    int fd_ = -1;
    pid_t server_ = -1;
};

// --- ZeroMQ REQ/REP over ipc:// ---------------------------------------------------------------

#ifdef VANTREL_HAVE_ZMQ
class ZmqTransport final : public Transport {
  public:
    ZmqTransport(const Placement& placement, const std::string& dir)
        : endpoint_("ipc://" + dir + "/zeromq") {
        // A context must not cross a fork: the server makes its own.
        server_ = fork_server(placement, [endpoint = endpoint_] {
            void* context = zmq_ctx_new();
            void* rep = zmq_socket(context, ZMQ_REP);
            if (zmq_bind(rep, endpoint.c_str()) != 0) ::_exit(1);
            for (;;) {
                std::uint32_t v = 0;
                if (zmq_recv(rep, &v, sizeof v, 0) != sizeof v) break;
                if (v == kEnd) break;
                ++v;
                zmq_send(rep, &v, sizeof v, 0);
            }
            zmq_close(rep);
            zmq_ctx_term(context);
        });
        context_ = zmq_ctx_new();
        req_ = zmq_socket(context_, ZMQ_REQ);
        // A REQ socket connects before the server binds and queues until it does.
        if (zmq_connect(req_, endpoint_.c_str()) != 0)
            fail(std::string("zmq_connect: ") + zmq_strerror(zmq_errno()));
        const int limit_ms = 10000;
        zmq_setsockopt(req_, ZMQ_RCVTIMEO, &limit_ms, sizeof limit_ms);
    }
    ~ZmqTransport() override {
        const std::uint32_t end = kEnd;
        zmq_send(req_, &end, sizeof end, 0);
        wait_exit(server_);
        const int linger = 0;
        zmq_setsockopt(req_, ZMQ_LINGER, &linger, sizeof linger);
        zmq_close(req_);
        zmq_ctx_term(context_);
    }
    std::uint32_t call(std::uint32_t request) override {
        std::uint32_t answer = 0;
        if (zmq_send(req_, &request, sizeof request, 0) != sizeof request ||
            zmq_recv(req_, &answer, sizeof answer, 0) != sizeof answer)
            fail(std::string("zeromq call: ") + zmq_strerror(zmq_errno()));
        return answer;
    }

  private:
    static constexpr std::uint32_t kEnd = 0xFFFFFFFF;
    std::string endpoint_;
    pid_t server_ = -1;
    void* context_ = nullptr;
    void* req_ = nullptr;
};
#endif

std::unique_ptr<Transport> start_zmq(const Placement& placement, const std::string& dir,
                                     std::string& why_not) {
#ifdef VANTREL_HAVE_ZMQ
    (void)why_not;
    return std::make_unique<ZmqTransport>(placement, dir);
#else
    (void)placement;
    (void)dir;
    why_not = "built without ZeroMQ: CMake found no libzmq (Debian libzmq3-dev)";
    return nullptr;
#endif
}

// --- the run ----------------------------------------------------------------------------------

struct Measured {
    std::string name;
    std::unique_ptr<Transport> transport;
    std::vector<double> micros;
};

void measure(Measured& m, long count, std::uint32_t& next) {
    for (long i = 0; i < count; ++i, ++next) {
        const auto t0 = Clock::now();
        const std::uint32_t answer = m.transport->call(next);
        const double micros = micros_since(t0);
        if (answer != next + 1) fail(m.name + ": wrong answer");
        m.micros.push_back(micros);
    }
}

struct Options {
    long calls = 40000, rounds = 8;
    std::string placement = "same";
};

std::optional<int> parse(int argc, char** argv, Options& o) {
    CLI::App app(
        "The same two-way call over a futex ping-pong, this system's interface, a Unix "
        "socket pair, ZeroMQ and iceoryx.",
        "transport_bench");
    app.add_option("--calls", o.calls, "calls over each transport")
        ->transform(ctl::whole_number(1));
    app.add_option("--rounds", o.rounds, "alternating blocks the calls are measured in")
        ->transform(ctl::whole_number(1));
    app.add_option("--placement", o.placement,
                   "same: both sides on processor 0; split: the caller on 0, the servers on 1; "
                   "free: pinned nowhere")
        ->check(CLI::IsMember({"same", "split", "free"}));
    return parse_command_line(app, argc, argv);
}

// Pins this process as `name` says; where its servers go. `pinned` tells whether it could.
Placement place(const std::string& name, bool& pinned) {
    Placement placement;
    if (name == "same") {
        if (pin(0)) placement.server_cpu = 0;
    } else if (name == "split") {
        if (pin(0) && pin(1)) {
            pin(0);
            placement.server_cpu = 1;
        }
    }
    pinned = placement.server_cpu >= 0 || name == "free";
    return placement;
}

// Every transport that runs here, in the order they are measured (the floor first), and the
// reasons of those that do not.
std::vector<Measured> start_transports(const Placement& placement, const std::string& dir,
                                       std::vector<std::pair<std::string, std::string>>& skipped) {
    std::vector<Measured> all;
    all.push_back({"futex", std::make_unique<FutexTransport>(placement), {}});
    all.push_back({"interface", std::make_unique<InterfaceTransport>(placement), {}});
    all.push_back({"unix_socket", std::make_unique<SocketTransport>(placement), {}});
    std::string why_not;
    if (auto t = start_zmq(placement, dir, why_not))
        all.push_back({"zeromq", std::move(t), {}});
    else
        skipped.emplace_back("zeromq", why_not);
    if (auto t = start_iceoryx(placement, why_not))
        all.push_back({"iceoryx", std::move(t), {}});
    else
        skipped.emplace_back("iceoryx", why_not);
    return all;
}

void print_figures(const std::vector<Measured>& all, const std::string& placement, bool pinned,
                   const std::vector<std::pair<std::string, std::string>>& skipped) {
    const double floor_median = percentile(all[0].micros, 0.5);
    const double floor_p99 = percentile(all[0].micros, 0.99);
    std::printf("calls_each=%zu\n", all[0].micros.size());
    std::printf("placement=%s\n", pinned ? placement.c_str() : "free");
    for (const auto& m : all) {
        const double median = percentile(m.micros, 0.5), p99 = percentile(m.micros, 0.99);
        std::printf("%s_median_us=%.3f\n%s_p99_us=%.3f\n", m.name.c_str(), median, m.name.c_str(),
                    p99);
        std::printf("%s_ratio_median=%.2f\n%s_ratio_p99=%.2f\n", m.name.c_str(),
                    median / floor_median, m.name.c_str(), p99 / floor_p99);
    }
    for (const auto& [name, reason] : skipped)
        std::printf("%s_skipped=%s\n", name.c_str(), reason.c_str());
}

int run(const Options& o) {
    bool pinned = false;
    const Placement placement = place(o.placement, pinned);
    RunScope scope("transport_bench");
    ScratchDir files("transport_bench");

    std::vector<std::pair<std::string, std::string>> skipped;
    std::vector<Measured> all = start_transports(placement, files.path(), skipped);
    std::uint32_t next = 1;
    for (auto& m : all) measure(m, 2000, next);  // warm-up of every path
    for (auto& m : all) m.micros.clear();
    const long block = std::max(1L, o.calls / o.rounds);
    for (long r = 0; r < o.rounds; ++r)
        for (auto& m : all) measure(m, block, next);
    print_figures(all, o.placement, pinned, skipped);
    all.clear();  // ends the servers (and RouDi) before the files go
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (const auto status = parse(argc, argv, options)) return *status;
    return run_main("transport_bench", [&] { return run(options); });
}
