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

#include <linux/futex.h>
#include <sched.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "benchmarks/transports/transport.h"
#include "interface/interface_client.h"
#include "interface/interface_server.h"
#include "platform/named_object.h"
#include "platform/object_name.h"

#ifdef VANTREL_HAVE_ZMQ
#include <zmq.h>
#endif

using namespace vantrel;
using namespace vantrel::bench;
using Clock = std::chrono::steady_clock;

namespace vantrel::bench {

bool pin_to(int cpu) {
    if (cpu < 0 || cpu >= static_cast<int>(std::thread::hardware_concurrency())) return false;
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    return ::sched_setaffinity(0, sizeof set, &set) == 0;
}

}  // namespace vantrel::bench

namespace {

[[noreturn]] void fail(const std::string& what) {
    throw std::runtime_error(what);
}

// Forks a server process that pins itself as placed, runs `body` and exits.
pid_t fork_server(const Placement& placement, const std::function<void()>& body) {
    const pid_t pid = ::fork();
    if (pid < 0) fail("fork failed");
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);  // no server outlives a run that died
        if (placement.server_cpu >= 0) pin_to(placement.server_cpu);
        try {
            body();
        } catch (...) {
            ::_exit(1);
        }
        ::_exit(0);
    }
    return pid;
}

void reap(pid_t pid) {
    int status = 0;
    ::waitpid(pid, &status, 0);
}

// --- the floor: two futex words in shared memory --------------------------------------------

struct Word {
    std::atomic<std::uint32_t> value;  // 0: empty
    std::atomic<std::uint32_t> sleepers;
};

long futex(std::atomic<std::uint32_t>& word, int op, std::uint32_t value) {
    return ::syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(&word), op, value, nullptr,
                     nullptr, 0);
}

std::uint32_t take(Word& word) {
    for (;;) {
        if (const std::uint32_t v = word.value.exchange(0)) return v;
        word.sleepers.fetch_add(1);
        futex(word.value, FUTEX_WAIT, 0);
        word.sleepers.fetch_sub(1);
    }
}

void give(Word& word, std::uint32_t value) {
    word.value.store(value);
    if (word.sleepers.load() > 0) futex(word.value, FUTEX_WAKE, 1);
}

// Requests and answers are never 0 (0 means empty): the request travels as n + 1.
class FutexTransport final : public Transport {
  public:
    explicit FutexTransport(const Placement& placement) {
        void* memory = ::mmap(nullptr, sizeof(Words), PROT_READ | PROT_WRITE,
                              MAP_SHARED | MAP_ANONYMOUS, -1, 0);
        if (memory == MAP_FAILED) fail("mmap failed");
        words_ = new (memory) Words{};
        server_ = fork_server(placement, [w = words_] {
            for (std::uint32_t v; (v = take(w->request)) != kEnd;) give(w->answer, v + 1);
        });
    }
    ~FutexTransport() override {
        give(words_->request, kEnd);
        reap(server_);
        ::munmap(words_, sizeof(Words));
    }
    std::uint32_t call(std::uint32_t request) override {
        give(words_->request, request + 1);
        return take(words_->answer) - 1;
    }

  private:
    static constexpr std::uint32_t kEnd = 0xFFFFFFFF;
    struct Words {
        Word request, answer;
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
        reap(server_);
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
        reap(server_);
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
        reap(server_);
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

double percentile(std::vector<double> samples, double p) {
    std::sort(samples.begin(), samples.end());
    const auto index = static_cast<std::size_t>(p * static_cast<double>(samples.size() - 1) + 0.5);
    return samples[index];
}

void measure(Measured& m, long count, std::uint32_t& next) {
    for (long i = 0; i < count; ++i, ++next) {
        const auto t0 = Clock::now();
        const std::uint32_t answer = m.transport->call(next);
        const auto t1 = Clock::now();
        if (answer != next + 1) fail(m.name + ": wrong answer");
        m.micros.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
    }
}

// Removes what this run left, whatever ended it.
struct RunFiles {
    std::string dir;
    RunFiles() {
        char tmpl[] = "/tmp/transport_bench-XXXXXX";
        if (::mkdtemp(tmpl) == nullptr) fail("mkdtemp failed");
        dir = tmpl;
    }
    ~RunFiles() {
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
        platform::remove_unheld_objects(platform::ipc_scope());
    }
};

int run(int argc, char** argv) {
    long calls = 40000, rounds = 8;
    std::string placement_name = "same";
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string flag = argv[i];
        if (flag == "--placement") {
            placement_name = argv[i + 1];
            continue;
        }
        const long value = std::atol(argv[i + 1]);
        if (value <= 0) fail("bad value for " + flag);
        if (flag == "--calls")
            calls = value;
        else if (flag == "--rounds")
            rounds = value;
        else
            fail("unknown option " + flag + " (--calls N, --rounds R, --placement P)");
    }
    Placement placement;
    if (placement_name == "same") {
        if (pin_to(0)) placement.server_cpu = 0;
    } else if (placement_name == "split") {
        if (pin_to(0) && pin_to(1)) {
            pin_to(0);
            placement.server_cpu = 1;
        }
    } else if (placement_name != "free") {
        fail("unknown placement " + placement_name + " (same, split, free)");
    }
    const bool pinned = placement.server_cpu >= 0 || placement_name == "free";
    // Objects of our own, whatever else runs on this machine.
    ::setenv("VANTREL_IPC_SCOPE", ("transport_bench-" + std::to_string(::getpid())).c_str(), 1);
    RunFiles files;

    std::vector<Measured> all;
    all.push_back({"futex", std::make_unique<FutexTransport>(placement), {}});
    all.push_back({"interface", std::make_unique<InterfaceTransport>(placement), {}});
    all.push_back({"unix_socket", std::make_unique<SocketTransport>(placement), {}});
    std::vector<std::pair<std::string, std::string>> skipped;
    std::string why_not;
    if (auto t = start_zmq(placement, files.dir, why_not))
        all.push_back({"zeromq", std::move(t), {}});
    else
        skipped.emplace_back("zeromq", why_not);
    if (auto t = start_iceoryx(placement, why_not))
        all.push_back({"iceoryx", std::move(t), {}});
    else
        skipped.emplace_back("iceoryx", why_not);

    std::uint32_t next = 1;
    for (auto& m : all) measure(m, 2000, next);  // warm-up of every path
    for (auto& m : all) m.micros.clear();
    const long block = std::max(1L, calls / rounds);
    for (long r = 0; r < rounds; ++r)
        for (auto& m : all) measure(m, block, next);

    const double floor_median = percentile(all[0].micros, 0.5);
    const double floor_p99 = percentile(all[0].micros, 0.99);
    std::printf("calls_each=%zu\n", all[0].micros.size());
    std::printf("placement=%s\n", pinned ? placement_name.c_str() : "free");
    for (const auto& m : all) {
        const double median = percentile(m.micros, 0.5), p99 = percentile(m.micros, 0.99);
        std::printf("%s_median_us=%.3f\n%s_p99_us=%.3f\n", m.name.c_str(), median, m.name.c_str(),
                    p99);
        std::printf("%s_ratio_median=%.2f\n%s_ratio_p99=%.2f\n", m.name.c_str(),
                    median / floor_median, m.name.c_str(), p99 / floor_p99);
    }
    for (const auto& [name, reason] : skipped)
        std::printf("%s_skipped=%s\n", name.c_str(), reason.c_str());
    all.clear();  // ends the servers (and RouDi) before the files go
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return run(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "transport_bench: %s\n", e.what());
        return 1;
    }
}
