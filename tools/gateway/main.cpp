// vantrel-gateway: the column selector over HTTP. Serves the selector's status, its event stream,
// Prometheus metrics and a page for browsers, and takes motion requests and column edits from
// holders of the token. See print_usage().

#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "platform/object_name.h"
#include "tools/gateway/server.h"
#include "tools/gateway/token.h"

using namespace vantrel::gateway;

namespace {

constexpr int kExitUsage = 64;

struct UsageError {
    std::string message;
};

void print_usage(std::FILE* to) {
    std::fprintf(
        to,
        "usage: vantrel-gateway [--listen ADDR:PORT] [--interface NAME] [--token-file PATH]\n"
        "                       [--poll-ms MS]\n"
        "Serves the column selector over HTTP: the page at /, the API under /api/v1, the event\n"
        "stream at /api/v1/events and Prometheus metrics at /metrics.\n"
        "  --listen ADDR:PORT  where to listen (default 127.0.0.1:%d; port 0 takes a free one);\n"
        "                      on an address other than loopback every request needs the token\n"
        "  --interface NAME    the selector's interface (default \"Vantrel\")\n"
        "  --token-file PATH   the token that writes need (default %s); created with a random\n"
        "                      token when missing, refused unless it is the user's own, mode 0600\n"
        "  --poll-ms MS        how often the selector is read (default 200, 20 to 10000)\n"
        "Interfaces are looked up in the IPC scope VANTREL_IPC_SCOPE.\n",
        kDefaultPort, default_token_path().c_str());
}

struct Options {
    std::string listen = "127.0.0.1:" + std::to_string(kDefaultPort);
    std::string interface = "Vantrel";
    std::string token_file;
    int poll_ms = 200;
};

Options parse(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        auto value = [&] {
            if (i + 1 >= argc) throw UsageError{word + " needs a value"};
            return std::string(argv[++i]);
        };
        if (word == "--listen") {
            o.listen = value();
        } else if (word == "--interface") {
            o.interface = value();
            if (o.interface.empty()) throw UsageError{"--interface needs a name"};
        } else if (word == "--token-file") {
            o.token_file = value();
        } else if (word == "--poll-ms") {
            const std::string text = value();
            char* end = nullptr;
            const long ms = std::strtol(text.c_str(), &end, 10);
            if (text.empty() || *end != '\0' || ms < 20 || ms > 10000)
                throw UsageError{"--poll-ms must be a whole number from 20 to 10000, not \"" +
                                 text + "\""};
            o.poll_ms = static_cast<int>(ms);
        } else if (word == "--help" || word == "-h") {
            print_usage(stdout);
            std::exit(0);
        } else {
            throw UsageError{"unknown argument \"" + word + "\""};
        }
    }
    if (o.token_file.empty()) o.token_file = default_token_path();
    return o;
}

int run(const Options& o) {
    GatewayOptions options;
    try {
        options.listen = parse_listen(o.listen);
    } catch (const std::invalid_argument& e) {
        throw UsageError{e.what()};
    }
    const Token token = load_or_create_token(o.token_file);
    options.token = token.value;
    options.poller.interface = o.interface;
    options.poller.poll_ms = o.poll_ms;

    // SIGINT and SIGTERM end the serving from a thread of their own; a client that went away
    // must not end the process.
    ::signal(SIGPIPE, SIG_IGN);
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGINT);
    sigaddset(&stop_signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

    Gateway gateway(options);
    gateway.bind();
    std::printf("vantrel-gateway: token file %s%s\n", o.token_file.c_str(),
                token.created ? " (created with a new token)" : "");
    std::printf("vantrel-gateway: serving \"%s\" (IPC scope \"%s\") at %s\n", o.interface.c_str(),
                vantrel::platform::ipc_scope().c_str(), gateway.url().c_str());
    std::fflush(stdout);
    std::atomic<bool> served{false};
    std::thread waiter([&] {
        const timespec tick{0, 200'000'000};
        while (!served)
            if (::sigtimedwait(&stop_signals, nullptr, &tick) > 0) return gateway.stop();
    });
    gateway.serve();
    served = true;
    waiter.join();
    std::printf("vantrel-gateway: stopped\n");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return run(parse(argc, argv));
    } catch (const UsageError& e) {
        std::fprintf(stderr, "vantrel-gateway: %s\n\n", e.message.c_str());
        print_usage(stderr);
        return kExitUsage;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "vantrel-gateway: %s\n", e.what());
        return 1;
    }
}
