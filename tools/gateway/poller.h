#pragma once
// The one client of the selector in the gateway: a thread that reads the selector's snapshot every
// poll period and publishes it to the Hub, follows the motion the gateway started to its outcome,
// and runs the HTTP threads' write commands between two polls. However many HTTP clients read,
// the selector sees this thread's calls only.
//
// Every call has the poller's own time-out (the interface's shared one is never written). A
// command waits in a short queue; its sender waits a limited time for the reply, and a command
// whose sender has given up is dropped, never run late.
//
// Thread safety: run() may be called from any thread; everything else belongs to the owner.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "interface/clients.h"
#include "tools/client/operations.h"
#include "tools/gateway/hub.h"

namespace vantrel::gateway {

// An HTTP answer: status and JSON body.
struct Reply {
    int status = 200;
    Json body;
};

// {"error": message, "status": status}
Reply error_reply(int status, const std::string& message);

struct PollerOptions {
    std::string interface = "Vantrel";
    std::string sipper = "Sipper";  // asked why a motion failed (the kill switch)
    int poll_ms = 200;
    int call_timeout_ms = 1000;     // as vantrelctl's
    double motion_limit_s = 120.0;  // a motion still running after this has timed out
};

class Poller {
  public:
    static constexpr std::size_t kQueueLimit = 16;

    // What a command may use, on the poller's thread.
    struct Access {
        VantrelIF& selector;
        const ctl::Session& session;
        const Reading& last;  // the last poll's reading
        Hub& hub;
        const PollerOptions& options;
    };
    using Command = std::function<Reply(Access&)>;

    Poller(PollerOptions options, Hub& hub);
    ~Poller();
    Poller(const Poller&) = delete;
    Poller& operator=(const Poller&) = delete;

    void start();
    void stop();

    // Runs `command` on the poller's thread and gives its reply. nullopt when the queue is full or
    // the command did not start within `limit` (it is then never run); a command that has started
    // is waited for to its end (its calls are bounded by their time-out).
    std::optional<Reply> run(Command command, std::chrono::milliseconds limit);

  private:
    struct Job;
    void loop();
    void execute(Job& job);
    void poll();
    bool ensure_open(Reading& reading);
    void follow_operation(const Reading& reading);

    const PollerOptions options_;
    Hub& hub_;
    std::unique_ptr<VantrelIF> selector_;
    std::unique_ptr<ctl::Session> session_;
    Reading last_;

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::shared_ptr<Job>> queue_;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace vantrel::gateway
