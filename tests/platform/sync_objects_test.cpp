// Named mutexes and semaphores across real processes and threads.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/futex_semaphore.h"
#include "platform/robust_mutex.h"
#include "tests/support/child_process.h"
#include "tests/support/ipc_test.h"

using namespace vantrel::platform;
using vantrel::test::ChildProcess;
using vantrel::test::helper_path;
using Clock = std::chrono::steady_clock;

namespace {

class SyncObjectsTest : public vantrel::test::IpcTest {
  protected:
    ChildProcess child(const std::vector<std::string>& args) {
        std::vector<std::string> argv{helper_path("object_child")};
        argv.insert(argv.end(), args.begin(), args.end());
        return ChildProcess(argv);
    }
};

TEST_F(SyncObjectsTest, MutexHeldByAnotherProcessExcludesUntilReleased) {
    RobustMutex mine("board", OpenMode::create_or_open);
    ASSERT_TRUE(mine.try_lock(0));
    auto other = child({"trylock", "board", "100"});
    EXPECT_EQ(other.read_line(), "timeout");
    ASSERT_TRUE(mine.unlock());
    auto third = child({"trylock", "board", "2000"});
    EXPECT_EQ(third.read_line(), "obtained");
    // Now the child holds it: our zero-wait attempt fails at once.
    const auto t0 = Clock::now();
    EXPECT_FALSE(mine.try_lock(0));
    EXPECT_LT(Clock::now() - t0, std::chrono::milliseconds(500));
}

TEST_F(SyncObjectsTest, MutexOfAProcessKilledWhileHoldingItIsObtainedByTheNextWaiter) {
    RobustMutex mine("abandoned", OpenMode::create_or_open);  // keeps the object alive
    auto holder = child({"lock", "abandoned"});
    ASSERT_EQ(holder.read_line(), "locked");
    EXPECT_FALSE(mine.try_lock(50));
    holder.kill9();
    EXPECT_TRUE(mine.try_lock(2000));
    EXPECT_TRUE(mine.unlock());
    // Repaired: usable as usual afterwards, by us and by others.
    auto next = child({"trylock", "abandoned", "2000"});
    EXPECT_EQ(next.read_line(), "obtained");
}

TEST_F(SyncObjectsTest, MutexOfAThreadThatEndedHoldingItIsObtained) {
    RobustMutex mutex;
    std::thread([&] { mutex.lock(); }).join();
    EXPECT_TRUE(mutex.try_lock(1000));
    EXPECT_TRUE(mutex.unlock());
}

TEST_F(SyncObjectsTest, MutexIsRecursiveForItsOwner) {
    RobustMutex mutex("recursive", OpenMode::create_or_open);
    mutex.lock();
    EXPECT_TRUE(mutex.try_lock(0));
    EXPECT_TRUE(mutex.unlock());
    std::atomic<bool> other_got_it{false};
    std::thread t([&] { other_got_it = mutex.try_lock(0); });
    t.join();
    EXPECT_FALSE(other_got_it);  // still held once
    EXPECT_TRUE(mutex.unlock());
}

TEST_F(SyncObjectsTest, SemaphoreCountsUpToItsMaximumAcrossProcesses) {
    FutexSemaphore sem("signal", 0, 1, OpenMode::create_or_open);
    EXPECT_EQ(child({"release", "signal", "0", "1"}).read_line(), "ok");
    EXPECT_EQ(child({"release", "signal", "0", "1"}).read_line(), "full");
    EXPECT_TRUE(sem.wait(0));
    EXPECT_FALSE(sem.wait(0));
}

TEST_F(SyncObjectsTest, OpeningALiveSemaphoreKeepsItsCounts) {
    FutexSemaphore first("counts", 3, 100, OpenMode::create_or_open);
    FutexSemaphore second("counts", 0, 1, OpenMode::create_or_open);
    EXPECT_FALSE(second.created());
    EXPECT_EQ(second.count(), 3u);
    EXPECT_EQ(second.maximum(), 100u);
}

TEST_F(SyncObjectsTest, SemaphoreWaitTimesOutAndWakesOnReleaseFromAnotherProcess) {
    FutexSemaphore sem("wake", 0, 1, OpenMode::create_or_open);
    const auto t0 = Clock::now();
    EXPECT_FALSE(sem.wait(30));
    EXPECT_GE(Clock::now() - t0, std::chrono::milliseconds(30));

    auto waiter = child({"wait", "wake", "-1"});  // no limit
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_TRUE(sem.release());
    EXPECT_EQ(waiter.read_line(), "taken");
}

TEST_F(SyncObjectsTest, LocalSemaphoreHandsEveryCountToExactlyOneWaiter) {
    FutexSemaphore sem(0, 1000);
    std::atomic<int> taken{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 4; ++i)
        waiters.emplace_back([&] {
            while (sem.wait(200)) ++taken;
        });
    for (int i = 0; i < 400; ++i) {
        while (!sem.release()) std::this_thread::yield();
    }
    for (auto& t : waiters) t.join();
    EXPECT_EQ(taken.load(), 400);
}

}  // namespace
