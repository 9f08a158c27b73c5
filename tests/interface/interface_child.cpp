// Helper program for the multi-process tests of the interfaces. Reports on standard output, one
// line per step, and holds its objects until its standard input closes (or it is killed).
//
//   interface_child serve NAME            open a TestServer ("open discarded=N"), serve until
//                                         stdin closes, then report "served dispatched=D
//                                         rejected=R"
//   interface_child steps NAME N          open a TestServer ("ready discarded=N"), wait for stdin
//                                         to close, run exactly N service steps, report
//                                         "dispatched=D counts=C in_order=0|1"
//   interface_child client NAME TIMEOUT STEP...
//                                         open a TestClient (TIMEOUT "-" keeps the stored
//                                         time-out), run the steps, then hold:
//       timeout          "timeout=T created=0|1"
//       add:A:B          "add rc=RC sum=S"
//       stall:MS         "stall rc=RC"
//       loop_add:N:BASE  N calls add(BASE+i, i): "loop ok=K bad=B codes=..." (codes of failures)
//   interface_child queue NAME SIZE STEP...
//                                         open a CommandQueue, run the steps, then hold:
//       push:LEN:SEED    push a LEN-byte record of code SEED and bytes SEED+i:
//                        "push ok=0|1 count=C read=R write=W"
//       pop              "pop HEX" (the whole record) or "pop empty"
//       state            "state count=C read=R write=W"

#include <poll.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "interface/command_queue.h"
#include "tests/interface/records.h"
#include "tests/interface/test_interface.h"

using namespace vantrel;
using vantrel::test::hex;
using vantrel::test::pattern_record;
using vantrel::test::TestClient;
using vantrel::test::TestServer;

namespace {

void say(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

void hold_until_stdin_closes() {
    char c;
    while (::read(STDIN_FILENO, &c, 1) > 0) {
    }
}

bool stdin_closed() {
    struct pollfd p {
        STDIN_FILENO, POLLIN, 0
    };
    if (::poll(&p, 1, 0) <= 0) return false;
    char c;
    return ::read(STDIN_FILENO, &c, 1) <= 0;
}

std::vector<std::string> split(const std::string& text) {
    std::vector<std::string> parts;
    std::stringstream in(text);
    for (std::string part; std::getline(in, part, ':');) parts.push_back(part);
    return parts;
}

int serve(const std::string& name) {
    TestServer server(name);
    if (!server.open()) {
        say("error " + server.open_error());
        return 1;
    }
    say("open discarded=" + std::to_string(server.discarded_at_open()));
    while (!stdin_closed()) server.service();
    say("served dispatched=" + std::to_string(server.dispatched_records()) +
        " rejected=" + std::to_string(server.rejected_records()));
    return 0;
}

int steps(const std::string& name, long n) {
    TestServer server(name);
    if (!server.open()) {
        say("error " + server.open_error());
        return 1;
    }
    say("ready discarded=" + std::to_string(server.discarded_at_open()));
    hold_until_stdin_closes();
    for (long i = 0; i < n; ++i) server.service();
    say("dispatched=" + std::to_string(server.dispatched_records()) +
        " counts=" + std::to_string(server.counts_seen()) +
        " in_order=" + std::to_string(server.counts_in_order()));
    return 0;
}

int client(const std::string& name, const std::string& timeout, int argc, char** argv) {
    TestClient client(name);
    if (!client.open()) {
        say("error " + client.open_error());
        return 1;
    }
    const bool created = client.properties_created();
    if (timeout != "-") client.set_call_timeout(std::atoi(timeout.c_str()));
    for (int i = 0; i < argc; ++i) {
        const auto step = split(argv[i]);
        if (step[0] == "timeout") {
            say("timeout=" + std::to_string(client.call_timeout()) +
                " created=" + std::to_string(created));
        } else if (step[0] == "add" && step.size() == 3) {
            std::int32_t sum = -1;
            const int rc = client.add(std::atoi(step[1].c_str()), std::atoi(step[2].c_str()), sum);
            say("add rc=" + std::to_string(rc) + " sum=" + std::to_string(sum));
        } else if (step[0] == "stall" && step.size() == 2) {
            std::int32_t ms = 0;
            say("stall rc=" + std::to_string(client.stall(std::atoi(step[1].c_str()), ms)));
        } else if (step[0] == "loop_add" && step.size() == 3) {
            const int n = std::atoi(step[1].c_str());
            const int base = std::atoi(step[2].c_str());
            int ok = 0, bad = 0;
            std::string codes;
            for (int k = 0; k < n; ++k) {
                std::int32_t sum = 0;
                const int rc = client.add(base + k, k, sum);
                if (rc == kCallDone && sum == base + 2 * k) {
                    ++ok;
                } else {
                    ++bad;
                    codes += std::to_string(rc) + ",";
                }
            }
            say("loop ok=" + std::to_string(ok) + " bad=" + std::to_string(bad) +
                " codes=" + codes);
        } else {
            say("error unknown step " + std::string(argv[i]));
            return 2;
        }
    }
    hold_until_stdin_closes();
    return 0;
}

int queue(const std::string& name, std::size_t size, int argc, char** argv) {
    CommandQueue queue(name, size);
    for (int i = 0; i < argc; ++i) {
        const auto step = split(argv[i]);
        if (step[0] == "push" && step.size() == 3) {
            const bool ok = queue.push(pattern_record(std::stoul(step[1]), std::stoi(step[2])));
            const auto s = queue.state();
            say("push ok=" + std::to_string(ok) + " count=" + std::to_string(s.count) +
                " read=" + std::to_string(s.read) + " write=" + std::to_string(s.write));
        } else if (step[0] == "pop") {
            const auto record = queue.pop();
            say(record ? "pop " + hex(*record) : "pop empty");
        } else if (step[0] == "state") {
            const auto s = queue.state();
            say("state count=" + std::to_string(s.count) + " read=" + std::to_string(s.read) +
                " write=" + std::to_string(s.write));
        } else {
            say("error unknown step " + std::string(argv[i]));
            return 2;
        }
    }
    hold_until_stdin_closes();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    const std::string cmd = argv[1];
    const std::string name = argv[2];
    try {
        if (cmd == "serve") return serve(name);
        if (cmd == "steps" && argc == 4) return steps(name, std::atol(argv[3]));
        if (cmd == "client" && argc >= 4) return client(name, argv[3], argc - 4, argv + 4);
        if (cmd == "queue" && argc >= 4)
            return queue(name, std::strtoul(argv[3], nullptr, 10), argc - 4, argv + 4);
    } catch (const std::exception& e) {
        say(std::string("error ") + e.what());
        return 1;
    }
    return 2;
}
