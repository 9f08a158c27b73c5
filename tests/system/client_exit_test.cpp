// A client process that ends normally while another process's caller waits for its completion:
// the waiting caller must still get its own answer. (Each client going away used to release the
// done signal, which woke the waiting caller with a completion not its own: result 5, and the
// callers after it kept finding the completion of the call before theirs.)
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "interface/interface_client.h"
#include "interface/interface_server.h"
#include "tests/system/analyser.h"

using namespace vantrel;
using namespace std::chrono_literals;

namespace {

const std::string kName = "Slow";

Operation declare(InterfaceLayout& layout) {
    return layout.add_two_way_with_slots("slow", 1, {WireType::integer}, {WireType::integer});
}

// Answers "slow"(n) with n + 1 after 400 ms.
class SlowServer : public InterfaceServer {
  public:
    SlowServer() : InterfaceServer(kName) {
        slow_ = declare(layout());
        set_queue_size(kQueueSize);
    }

  protected:
    void dispatch(const CallRecord& record) override {
        const Operation* op = operation_of(record);
        if (op == nullptr) return reject(record, "unknown operation code");
        const auto args = accept(record, *op);
        if (!args) return;
        std::this_thread::sleep_for(400ms);
        complete(*op, *args, {args->integer(0) + 1});
    }

  private:
    Operation slow_;
};

class SlowClient : public InterfaceClient {
  public:
    SlowClient() : InterfaceClient(kName) {
        slow_ = declare(layout());
        set_queue_size(kQueueSize);
    }
    int slow(std::int32_t n, std::int32_t& out) { return call_two_way(slow_, {n}, {out}); }

  private:
    Operation slow_;
};

class ClientExitTest : public test::SystemTest {};

TEST_F(ClientExitTest, ACallerKeepsItsAnswerWhileOtherClientsComeAndGo) {
    SlowServer server;
    ASSERT_TRUE(server.open());
    std::atomic<bool> stop{false};
    std::thread serving([&] {
        while (!stop) server.service();
    });
    SlowClient client;
    ASSERT_TRUE(client.open());
    client.set_call_timeout(5000);

    for (int round = 0; round < 3; ++round) {
        std::int32_t out = 0;
        int rc = -1;
        std::thread caller([&] { rc = client.slow(round, out); });
        std::this_thread::sleep_for(100ms);  // the call is being served now
        for (int i = 0; i < 2; ++i) {
            test::ChildProcess other({test::helper_path("system-client"), "touch", kName});
            EXPECT_EQ(other.read_line(), "opened");
            EXPECT_EQ(other.wait(), 0);
        }
        caller.join();
        EXPECT_EQ(rc, kCallDone) << describe_call_result(rc);
        EXPECT_EQ(out, round + 1);
    }
    stop = true;
    serving.join();
}

}  // namespace
