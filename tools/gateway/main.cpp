// vantrel-gateway: the column selector over HTTP. Serves the selector's status, its event stream,
// Prometheus metrics and a page for browsers, and takes motion requests and column edits from
// holders of the token. See describe() for the command line.

#include <pthread.h>
#include <signal.h>

#include <CLI/CLI.hpp>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "platform/object_name.h"
#include "tools/client/command_line.h"
#include "tools/gateway/server.h"
#include "tools/gateway/token.h"

using namespace vantrel::gateway;

namespace {

constexpr int kExitUsage = 64;

struct UsageError {
    std::string message;
};

struct Options {
    std::string listen = "127.0.0.1:" + std::to_string(kDefaultPort);
    std::string interface = "Vantrel";
    std::string token_file = default_token_path();
    int poll_ms = 200;
    ListenAddress address;  // --listen, checked
};

void describe(CLI::App& app, Options& o) {
    app.description(
        "Serves the column selector over HTTP: the page at /, the API under /api/v1, the event\n"
        "stream at /api/v1/events and Prometheus metrics at /metrics.");
    app.footer("Interfaces are looked up in the IPC scope VANTREL_IPC_SCOPE.");
    app.add_option("--listen", o.listen,
                   "where to listen (port 0 takes a free one); on an address other than "
                   "loopback every request needs the token")
        ->type_name("ADDR:PORT");
    app.add_option("--interface", o.interface, "the selector's interface")
        ->type_name("NAME")
        ->check([](const std::string& name) { return name.empty() ? "needs a name" : ""; });
    app.add_option("--token-file", o.token_file,
                   "the token that writes need; created with a random token when missing, "
                   "refused unless it is the user's own, mode 0600")
        ->type_name("PATH");
    app.add_option("--poll-ms", o.poll_ms, "how often the selector is read")
        ->type_name("MS")
        ->transform(vantrel::ctl::whole_number(20, 10000));
    for (CLI::Option* option : app.get_options()) {
        option->capture_default_str();
        option->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);  // the last one counts
    }
}

// The options of the command line; exits after --help.
Options parse(int argc, char** argv) {
    Options o;
    CLI::App app({}, "vantrel-gateway");
    describe(app, o);
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& help) {
        std::exit(app.exit(help));
    } catch (const CLI::ParseError& e) {
        throw UsageError{e.what() + std::string("\n\n") + app.help()};
    }
    try {
        o.address = parse_listen(o.listen);
    } catch (const std::invalid_argument& e) {
        throw UsageError{e.what() + std::string("\n\n") + app.help()};
    }
    if (o.token_file.empty()) o.token_file = default_token_path();
    return o;
}

int run(const Options& o) {
    GatewayOptions options;
    options.listen = o.address;
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
        std::fprintf(stderr, "vantrel-gateway: %s\n", e.message.c_str());
        return kExitUsage;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "vantrel-gateway: %s\n", e.what());
        return 1;
    }
}
