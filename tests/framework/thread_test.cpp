#include "framework/thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "framework/mutex.h"
#include "framework/semaphore.h"
#include "framework/timer.h"
#include "platform/clock.h"
#include "platform/exception.h"
#include "tests/support/ipc_test.h"

using namespace vantrel;
using namespace std::chrono_literals;

namespace {

// A body that runs until stopped or released, counting its iterations.
class Worker : public Thread {
  public:
    Worker() : Thread("worker", 0) {}
    ~Worker() override { wait_for_body(); }
    void thread_main() override {
        ++runs;
        while (!stop_request_.load() && !finish.load()) {
            ++ticks;
            std::this_thread::sleep_for(1ms);
        }
        if (throw_at_end) throw Exception("body failed");
    }
    std::atomic<int> runs{0};
    std::atomic<long> ticks{0};
    std::atomic<bool> finish{false};
    bool throw_at_end = false;
};

template <typename Pred>
bool eventually(Pred pred) {
    for (int i = 0; i < 2000; ++i) {
        if (pred()) return true;
        std::this_thread::sleep_for(1ms);
    }
    return false;
}

class ThreadTest : public test::IpcTest {};

TEST_F(ThreadTest, StartRefusesWhileRunningAndStartsANewRunAfterwards) {
    Worker w;
    ASSERT_TRUE(w.start());
    EXPECT_TRUE(w.is_running());
    EXPECT_FALSE(w.start());
    w.finish = true;
    ASSERT_TRUE(eventually([&] { return !w.is_running(); }));
    w.finish = false;
    EXPECT_TRUE(w.start());
    EXPECT_TRUE(eventually([&] { return w.runs.load() == 2; }));
    w.stop();
    EXPECT_TRUE(eventually([&] { return !w.is_running(); }));
    EXPECT_EQ(w.get_name(), "worker");
}

TEST_F(ThreadTest, ABodyThatThrowsLeavesTheThreadNotRunning) {
    Worker w;
    w.throw_at_end = true;
    w.finish = true;
    ASSERT_TRUE(w.start());
    EXPECT_TRUE(eventually([&] { return !w.is_running(); }));
    EXPECT_TRUE(w.start());  // and it can run again
}

TEST_F(ThreadTest, DestructionStopsAndWaitsForARunningBody) {
    auto w = std::make_unique<Worker>();
    ASSERT_TRUE(w->start());
    ASSERT_TRUE(eventually([&] { return w->ticks.load() > 0; }));
    w.reset();  // returns only once the body has seen the stop request and returned
    SUCCEED();
}

TEST_F(ThreadTest, SuspendParksTheBodyAndResumeLetsItGoOn) {
    Worker w;
    ASSERT_TRUE(w.start());
    ASSERT_TRUE(eventually([&] { return w.ticks.load() > 0; }));
    ASSERT_TRUE(w.suspend());
    EXPECT_FALSE(w.is_running());
    EXPECT_FALSE(w.start());  // never a second thread on one body
    std::this_thread::sleep_for(20ms);
    const long parked = w.ticks.load();
    std::this_thread::sleep_for(50ms);
    EXPECT_LE(w.ticks.load(), parked + 1);
    ASSERT_TRUE(w.resume());
    EXPECT_TRUE(w.is_running());
    EXPECT_TRUE(eventually([&] { return w.ticks.load() > parked + 5; }));
    EXPECT_FALSE(w.resume());  // not suspended any more
}

TEST_F(ThreadTest, PriorityNeedsAThread) {
    Worker w;
    EXPECT_FALSE(w.set_priority(0));
    ASSERT_TRUE(w.start());
    EXPECT_TRUE(w.set_priority(0));
    EXPECT_TRUE(w.set_priority(-2));  // lowering is always allowed
}

TEST_F(ThreadTest, NamedMutexesOfOneNameExcludeEachOther) {
    Mutex a("board-7", false), b("board-7", false);
    ASSERT_TRUE(a.valid());
    ASSERT_TRUE(b.valid());
    EXPECT_TRUE(a.created());
    EXPECT_FALSE(b.created());
    ASSERT_TRUE(a.lock());
    std::atomic<bool> got{true};
    std::thread([&] { got = b.try_lock(0); }).join();
    EXPECT_FALSE(got);
    EXPECT_TRUE(a.unlock());
    std::thread([&] {
        got = b.try_lock(0);
        b.unlock();
    }).join();
    EXPECT_TRUE(got);
}

TEST_F(ThreadTest, SemaphoreZeroOfOne) {
    Semaphore s("sig", 0, 1);
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_FALSE(s.wait(10));
    EXPECT_GE(std::chrono::steady_clock::now() - t0, 10ms);
    EXPECT_TRUE(s.release());
    EXPECT_FALSE(s.release());
    EXPECT_TRUE(s.wait(10));
    EXPECT_FALSE(s.wait(0));
    Semaphore bad("bad", 2, 1);  // initial above maximum: no handle, every call fails
    EXPECT_FALSE(bad.valid());
    EXPECT_FALSE(bad.release());
    EXPECT_FALSE(bad.wait(0));
}

TEST(Timer, ElapsedOnTheInstalledClock) {
    platform::VirtualClock clock;
    platform::ScopedClock use(clock);
    Timer t;
    clock.advance_ms(500);
    EXPECT_EQ(t.elapsed(), 0.0);  // never started
    t.start();
    clock.advance_ms(1500);
    EXPECT_NEAR(t.elapsed(), 1.5, 1e-9);
    sleep_ms(250);
    EXPECT_NEAR(t.elapsed(), 1.75, 1e-9);
    t.start();  // already running: keeps its start time
    EXPECT_NEAR(t.elapsed(), 1.75, 1e-9);
    t.restart();
    EXPECT_NEAR(t.elapsed(), 0.0, 1e-9);
    clock.advance_ms(1);
    EXPECT_NEAR(t.elapsed(), 0.001, 1e-9);
}

TEST(Timer, SubMillisecondResolutionOnTheRealClock) {
    Timer t;
    t.start();
    std::this_thread::sleep_for(200us);
    const double e = t.elapsed();
    EXPECT_GT(e, 0.0001);
    EXPECT_LT(e, 1.0);
}

}  // namespace
