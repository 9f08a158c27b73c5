// The call protocol between separate processes: time-outs, stale records and completions, two
// callers at once, a caller killed holding the action mutex, the shared time-out, and a burst of
// one-way calls beyond what the start signal can count.
#include <gtest/gtest.h>

#include <chrono>

#include "interface/component_interface.h"
#include "platform/futex_semaphore.h"
#include "tests/interface/helpers.h"
#include "tests/interface/test_interface.h"

using namespace vantrel;
using namespace vantrel::test;

namespace {

class CallProtocolTest : public IpcTest {};

TEST_F(CallProtocolTest, CreatorWritesTheDefaultTimeOutAndOpenersKeepTheStoredOne) {
    auto first = interface_child({"client", "Peer", "-", "timeout"});
    EXPECT_EQ(first.read_line(), "timeout=20000 created=1");

    TestClient here("Peer");
    ASSERT_TRUE(here.open());
    EXPECT_FALSE(here.properties_created());
    EXPECT_EQ(here.call_timeout(), 20000);
    here.set_call_timeout(1000);  // what the component base does for every client it adds

    auto second = interface_child({"client", "Peer", "-", "timeout"});
    EXPECT_EQ(second.read_line(), "timeout=1000 created=0");
}

TEST_F(CallProtocolTest, CallBeforeTheServerExistsTimesOutAndIsNeverRun) {
    TestClient client("Early");
    ASSERT_TRUE(client.open());
    client.set_call_timeout(200);
    std::int32_t sum = -1;
    EXPECT_EQ(client.add(1, 2, sum), kCallNoCompletion);
    EXPECT_EQ(sum, 0);
    EXPECT_EQ(client.note("left behind", 0), kCallDone);

    auto server = interface_child({"serve", "Early"});
    EXPECT_EQ(server.read_line(), "open discarded=2");

    client.set_call_timeout(5000);
    // open() left one completion in the done signal; the next caller drains it before pushing.
    ServerStats stats;
    ASSERT_EQ(client.stats(stats), kCallDone);
    EXPECT_EQ(stats.dispatched, 1);  // the stats call itself: neither stale record ran
    EXPECT_EQ(stats.notes, 0);
    EXPECT_EQ(client.add(2, 3, sum), kCallDone);
    EXPECT_EQ(sum, 5);
}

TEST_F(CallProtocolTest, CallerStillWaitingWhenTheServerOpensWakesWithResultFive) {
    TestClient probe("Waiting");
    ASSERT_TRUE(probe.open());
    probe.set_call_timeout(-1);  // no limit
    auto caller = interface_child({"client", "Waiting", "-", "add:1:2"});
    ASSERT_TRUE(eventually([&] { return probe.queue()->pending() == 1; }));

    auto server = interface_child({"serve", "Waiting"});
    EXPECT_EQ(server.read_line(), "open discarded=1");
    EXPECT_EQ(caller.read_line(), "add rc=5 sum=0");
}

TEST_F(CallProtocolTest, LateCompletionMakesTheNextCallerReturnFiveNotTakeItAsItsOwn) {
    auto server = interface_child({"serve", "Late"});
    ASSERT_EQ(server.read_line(), "open discarded=0");
    TestClient client("Late");
    ASSERT_TRUE(client.open());
    client.set_call_timeout(1000);

    std::int32_t ms = -1;
    EXPECT_EQ(client.stall(1500, ms), kCallNoCompletion);  // gives up at 1000 ms
    // Pushed at about 1000 ms. The first stall completes at about 1500 ms while this call waits,
    // and the server is then busy with this one for 600 ms more: the completion seen is not ours.
    EXPECT_EQ(client.stall(600, ms), kCallOtherCompletion);
    EXPECT_EQ(ms, 0);

    // Once the second stall has completed too, its completion waits in the done signal. The next
    // caller drains it before pushing, so it is neither taken as ours nor reported as 5.
    platform::FutexSemaphore done("Late_action_done_signal", 0, 1,
                                  platform::OpenMode::open_existing);
    ASSERT_TRUE(eventually([&] { return client.completed_call_id() == 2 && done.count() == 1; }));
    std::int32_t sum = -1;
    EXPECT_EQ(client.add(3, 4, sum), kCallDone);
    EXPECT_EQ(sum, 7);
}

TEST_F(CallProtocolTest, TwoClientProcessesCallingAtOnceEachGetTheirOwnResults) {
    auto server = interface_child({"serve", "Busy"});
    ASSERT_EQ(server.read_line(), "open discarded=0");
    auto a = interface_child({"client", "Busy", "10000", "loop_add:400:1000"});
    auto b = interface_child({"client", "Busy", "10000", "loop_add:400:900000"});
    EXPECT_EQ(a.read_line(30000), "loop ok=400 bad=0 codes=");
    EXPECT_EQ(b.read_line(30000), "loop ok=400 bad=0 codes=");
}

TEST_F(CallProtocolTest, CallerKilledHoldingTheActionMutexDoesNotBlockTheNextCaller) {
    TestClient client("Orphan");
    ASSERT_TRUE(client.open());
    client.set_call_timeout(-1);
    auto doomed = interface_child({"client", "Orphan", "-", "add:1:2"});
    // Its record is queued, so it holds the action mutex and waits without limit.
    ASSERT_TRUE(eventually([&] { return client.queue()->pending() == 1; }));
    doomed.kill9();

    client.set_call_timeout(300);
    std::int32_t sum = -1;
    // 2 would mean the mutex was never obtained; 4 means it was, and nobody serves yet.
    EXPECT_EQ(client.add(5, 6, sum), kCallNoCompletion);

    auto server = interface_child({"serve", "Orphan"});
    EXPECT_EQ(server.read_line(), "open discarded=2");
    client.set_call_timeout(5000);
    EXPECT_EQ(client.add(5, 6, sum), kCallDone);
    EXPECT_EQ(sum, 11);
}

TEST_F(CallProtocolTest, OwnTimeOutBoundsTheWholeCallAndNeverTouchesTheSharedOne) {
    TestClient client("Own");
    ASSERT_TRUE(client.open());
    client.set_call_timeout(-1);  // shared: no limit, for everyone else
    auto holder = interface_child({"client", "Own", "-", "add:1:2"});
    ASSERT_TRUE(eventually([&] { return client.queue()->pending() == 1; }));

    client.set_own_timeout(300);
    std::int32_t sum = -1;
    struct Case {
        const char* what;
        int expected;
        bool then_kill_holder;
    };
    for (const Case& c :
         {Case{"action mutex held by a caller waiting without limit", kCallMutexTimeout, true},
          Case{"mutex free, nobody serves", kCallNoCompletion, false}}) {
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(client.add(5, 6, sum), c.expected) << c.what;
        const auto took = std::chrono::steady_clock::now() - start;
        EXPECT_GE(took, std::chrono::milliseconds(290)) << c.what;
        EXPECT_LT(took, std::chrono::milliseconds(3000)) << c.what;  // never the shared "no limit"
        EXPECT_EQ(client.call_timeout(), -1) << c.what;
        if (c.then_kill_holder) holder.kill9();
    }
}

TEST_F(CallProtocolTest, APeerStuckHoldingADataLockCostsOneCallNotTheCallerOrTheServer) {
    auto server = interface_child({"serve", "Stuck"});
    ASSERT_EQ(server.read_line(), "open discarded=0");
    TestClient client("Stuck");
    ASSERT_TRUE(client.open());
    client.set_own_timeout(5000);
    struct Case {
        const char* lock;
        int expected;  // queue lock: the push gives up; properties lock: the answer is not given
    };
    for (const Case& c : {Case{"Stuck_cmdQmutex", kCallQueueFull},
                          Case{"Stuck_propertiesmutex", kCallNoCompletion}}) {
        test::ChildProcess holder({test::helper_path("object_child"), "lock", c.lock});
        ASSERT_EQ(holder.read_line(), "locked");
        std::int32_t sum = -1;
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(client.add(1, 2, sum), c.expected) << c.lock;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(8000));
        EXPECT_EQ(sum, 0) << c.lock;
        holder.kill9();  // the lock is recovered from a dead owner
        // The server kept serving: the next call is answered.
        EXPECT_EQ(client.add(2, 3, sum), kCallDone) << c.lock;
        EXPECT_EQ(sum, 5) << c.lock;
    }
}

TEST_F(CallProtocolTest, BurstBeyondTheStartSignalMaximumIsServedWithoutFurtherCalls) {
    constexpr int kBurst = 150;
    auto server = interface_child({"steps", "Burst", std::to_string(kBurst)});
    ASSERT_EQ(server.read_line(), "ready discarded=0");
    TestClient client("Burst");
    ASSERT_TRUE(client.open());
    for (int i = 0; i < kBurst; ++i) ASSERT_EQ(client.count(i), kCallDone);
    // The start signal stopped counting at 100; then silence: exactly 150 steps follow.
    server.close_stdin();
    EXPECT_EQ(server.read_line(), "dispatched=150 counts=150 in_order=1");
}

}  // namespace
