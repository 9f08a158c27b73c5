// Client processes killed with SIGKILL at random moments while they call the running selector:
// while they make calls in a loop, while they hold the action mutex, and while they wait for a
// completion that does not come. After each kill the selector must serve the next caller at once.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <random>

#include "tests/system/analyser.h"

using namespace vantrel;
using namespace std::chrono_literals;

namespace {

class ClientKillTest : public test::SystemTest {
  protected:
    static constexpr std::int32_t kTimeoutMs = 2000;

    void SetUp() override {
        analyser_ = std::make_unique<test::Analyser>();
        ASSERT_TRUE(analyser_->start_ready());
        analyser_->vantrel().set_call_timeout(kTimeoutMs);
        // A known count to ask for: the answer tells the caller's own call from any other.
        analyser_->vantrel().set_sample_count(2, 4242);
        ASSERT_EQ(analyser_->sample_count(2), 4242);
    }

    // The next caller after a kill: its own answer, no call waiting out its time-out, and no
    // other failure. A completion of the dead client's last call may come after this caller queued
    // its record: the protocol then answers 5 (a completion for another call, never taken as this
    // caller's own) while the caller's own call is still served. Retried at once, the next call
    // would meet that completion in turn and answer 5 again; so the caller first lets its own
    // completion arrive (the completed call id moves on, or it already was its own).
    void next_caller_gets_its_own_answer() {
        VantrelIF& v = analyser_->vantrel();
        std::int32_t count = -1;
        long longest_ms = 0;
        const auto call = [&] {
            const auto t0 = std::chrono::steady_clock::now();
            const int rc = v.get_sample_count(2, count);
            longest_ms =
                std::max<long>(longest_ms, std::chrono::duration_cast<std::chrono::milliseconds>(
                                               std::chrono::steady_clock::now() - t0)
                                               .count());
            return rc;
        };
        int rc = call();
        for (int retry = 0; rc == kCallOtherCompletion && retry < 5; ++retry) {
            ++other_completions_;
            const std::int32_t seen = v.completed_call_id();
            test::eventually([&] { return v.completed_call_id() != seen; }, 100);
            rc = call();
        }
        ASSERT_EQ(rc, kCallDone) << describe_call_result(rc);
        EXPECT_EQ(count, 4242);
        // Every call came back before its time-out ran out: none waited for a dead client.
        EXPECT_LT(longest_ms, kTimeoutMs);
        std::int32_t state = -1;
        ASSERT_EQ(v.get_state(state), kCallDone);
        EXPECT_EQ(state, 1);
        std::string name;
        ASSERT_EQ(v.get_name(name), kCallDone);
        EXPECT_EQ(name, "Vantrel");
    }

    test::ChildProcess client(const std::string& mode) {
        return test::ChildProcess({test::helper_path("system-client"), mode});
    }

    std::unique_ptr<test::Analyser> analyser_;
    std::mt19937 rng_{std::random_device{}()};
    int other_completions_ = 0;
};

TEST_F(ClientKillTest, ClientKilledAtRandomWhileCallingInALoop) {
    const int rounds = test::scaled(20, 200);
    for (int i = 0; i < rounds; ++i) {
        auto doomed = client("calls");
        ASSERT_EQ(doomed.read_line(), "ready");
        std::this_thread::sleep_for(std::chrono::microseconds(rng_() % 20000));
        doomed.kill9();
        ASSERT_NO_FATAL_FAILURE(next_caller_gets_its_own_answer()) << "round " << i;
    }
    RecordProperty("other_completions", other_completions_);
    std::printf("%d rounds, %d calls answered 5 before the own answer\n", rounds,
                other_completions_);
}

TEST_F(ClientKillTest, ClientKilledHoldingTheActionMutex) {
    const int rounds = test::scaled(20, 200);
    for (int i = 0; i < rounds; ++i) {
        auto doomed = client("hold");
        ASSERT_EQ(doomed.read_line(), "held");
        std::this_thread::sleep_for(std::chrono::microseconds(rng_() % 5000));
        doomed.kill9();
        ASSERT_NO_FATAL_FAILURE(next_caller_gets_its_own_answer()) << "round " << i;
    }
}

TEST_F(ClientKillTest, ClientKilledWaitingForItsCompletion) {
    const int rounds = test::scaled(20, 200);
    for (int i = 0; i < rounds; ++i) {
        auto doomed = client("stall");
        ASSERT_EQ(doomed.read_line(), "calling");
        // Past its push, well inside its wait for a completion that never comes.
        std::this_thread::sleep_for(std::chrono::microseconds(1000 + rng_() % 20000));
        doomed.kill9();
        ASSERT_NO_FATAL_FAILURE(next_caller_gets_its_own_answer()) << "round " << i;
    }
}

TEST_F(ClientKillTest, SurvivingCallerWaitsOnlyForTheMutexHolderThatLives) {
    // Control: a live holder makes the next caller wait out its time-out with 2, a dead one does
    // not.
    auto holder = client("hold");
    ASSERT_EQ(holder.read_line(), "held");
    analyser_->vantrel().set_call_timeout(300);
    std::int32_t state = -1;
    EXPECT_EQ(analyser_->vantrel().get_state(state), kCallMutexTimeout);
    holder.kill9();
    analyser_->vantrel().set_call_timeout(kTimeoutMs);
    next_caller_gets_its_own_answer();
}

}  // namespace
