// system-client MODE ...: a client process of the running selector "Vantrel", for the system
// tests that kill clients at random moments or load the selector from several processes.
//
//   calls              mixed two-way and one-way calls in a loop, until killed; "ready" first
//   hold               takes the selector's action mutex and keeps it; "held", then sleeps
//   stall              two-way calls of an operation the selector does not know, so each waits
//                      for a completion that never comes (holding the action mutex); "calling"
//                      before each
//   touch NAME         opens a client of interface NAME, says "opened" and ends normally
//   soak K SECONDS     client K (1..4) of the soak test: owns column K, mixes calls for SECONDS,
//                      checks every answer, then prints one summary line:
//                      "soak k=K twoway=N oneway=M logs=L last=V slowest_ms=T bad=B codes=..."
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>

#include "framework/mutex.h"
#include "interface/clients.h"

using namespace vantrel;

namespace {

constexpr const char* kName = "Vantrel";

void say(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

// A client that may call one code the selector does not serve.
class StrangerIF : public VantrelIF {
  public:
    StrangerIF() : VantrelIF(kName) { unknown_ = layout().add_two_way("unknown", 31, {}, {}); }
    int unknown() { return call_two_way(unknown_, {}); }

  private:
    Operation unknown_;
};

[[noreturn]] void calls() {
    VantrelIF v(kName);
    if (!v.open()) std::exit(1);
    std::mt19937 rng(static_cast<unsigned>(::getpid()));
    say("ready");
    for (std::uint32_t i = 0;; ++i) {
        std::int32_t n = 0;
        bool b = false;
        std::string text;
        switch (rng() % 6) {
            case 0:
                v.get_state(n);
                break;
            case 1:
                v.is_busy(b);
                break;
            case 2:
                v.get_sample_count(2, n);
                break;
            case 3:
                v.get_name(text);
                break;
            case 4:
                v.set_auto_column_switch(1);
                break;
            default:
                v.log_msg("doomed client call " + std::to_string(i), 1);
                break;
        }
    }
}

[[noreturn]] void hold() {
    Mutex action(std::string(kName) + "_action_mutex", false);
    if (!action.lock()) std::exit(1);
    say("held");
    for (;;) ::pause();
}

[[noreturn]] void stall() {
    StrangerIF v;
    if (!v.open()) std::exit(1);
    for (;;) {
        say("calling");
        v.unknown();
    }
}

int touch(const std::string& name) {
    ComponentIF client(name);
    if (!client.open()) return 1;
    say("opened");
    return 0;  // the client is destroyed on the way out
}

int soak(int k, int seconds) {
    VantrelIF v(kName);
    if (!v.open()) return 1;
    std::mt19937 rng(static_cast<unsigned>(k) * 7919u);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    // Values of this client only, so an answer meant for another client cannot pass.
    const std::int32_t base = k * 1000000;
    std::int32_t value = base;
    std::string type = "client " + std::to_string(k);
    long twoway = 0, oneway = 0, logs = 0, bad = 0;
    std::string codes;
    const auto one_way = [&](auto call) {
        int rc;
        while ((rc = call()) == kCallQueueFull)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ++oneway;
        if (rc != kCallDone) {
            ++bad;
            codes += "o" + std::to_string(rc) + " ";
        }
    };
    long slowest_ms = 0;
    auto call_start = std::chrono::steady_clock::now();
    const auto check = [&](int rc, bool ok, const char* what) {
        slowest_ms =
            std::max<long>(slowest_ms, std::chrono::duration_cast<std::chrono::milliseconds>(
                                           std::chrono::steady_clock::now() - call_start)
                                           .count());
        ++twoway;
        if (rc != kCallDone || !ok) {
            ++bad;
            codes += std::string(what) + ":" + std::to_string(rc) + " ";
        }
    };
    one_way([&] { return v.set_sample_count(k, value); });
    one_way([&] { return v.set_column_type(k, type); });
    while (std::chrono::steady_clock::now() < deadline) {
        std::int32_t n = -1;
        bool b = false;
        double p1 = 0, p3 = 0;
        std::string text;
        call_start = std::chrono::steady_clock::now();
        switch (rng() % 10) {
            case 0:
            case 1:
                ++value;
                one_way([&] { return v.set_sample_count(k, value); });
                break;
            case 2:
                one_way([&] {
                    return v.log_msg("soak " + std::to_string(k) + " " + std::to_string(logs), 0);
                });
                ++logs;
                break;
            case 3:
                type = "client " + std::to_string(k) + " type " + std::to_string(value);
                one_way([&] { return v.set_column_type(k, type); });
                break;
            case 4:
                one_way([&] { return v.set_pres_limits(2.5, 7.25); });
                break;
            case 5: {
                const int rc = v.get_sample_count(k, n);
                check(rc, n == value, "count");
                break;
            }
            case 6: {
                const int rc = v.get_column_type(k, text);
                check(rc, text == type, "type");
                break;
            }
            case 7: {
                int rc = v.get_name(text);
                check(rc, text == kName, "name");
                rc = v.get_capacity(n);
                check(rc, n == 6, "capacity");
                break;
            }
            case 8: {
                const int rc = v.get_pres_limits(p1, p3);
                check(rc, p1 == 2.5 && p3 == 7.25, "limits");
                break;
            }
            default: {
                int rc = v.is_busy(b);
                check(rc, true, "busy");
                rc = v.get_state(n);
                check(rc, n == 1 || n == 2, "state");
                break;
            }
        }
    }
    // Served after every one-way call of this client: the queue is served in order.
    std::int32_t last = -1;
    call_start = std::chrono::steady_clock::now();
    const int rc = v.get_sample_count(k, last);
    check(rc, last == value, "final");
    say("soak k=" + std::to_string(k) + " twoway=" + std::to_string(twoway) +
        " oneway=" + std::to_string(oneway) + " logs=" + std::to_string(logs) +
        " last=" + std::to_string(last - base) + " slowest_ms=" + std::to_string(slowest_ms) +
        " bad=" + std::to_string(bad) + " codes=" + codes);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "calls") calls();
    if (mode == "hold") hold();
    if (mode == "stall") stall();
    if (mode == "touch" && argc == 3) return touch(argv[2]);
    if (mode == "soak" && argc == 4) return soak(std::atoi(argv[2]), std::atoi(argv[3]));
    std::fprintf(stderr, "usage: system-client calls|hold|stall|touch NAME|soak K SECONDS\n");
    return 2;
}
