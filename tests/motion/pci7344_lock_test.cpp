// The board lock of Pci7344 across threads and processes: one call at a time per board, the lock
// named after the board, and the program store holding it from begin to end.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "motion/flexmotion.h"
#include "motion/pci7344.h"
#include "platform/clock.h"
#include "sim/board.h"
#include "tests/support/child_process.h"
#include "tests/support/ipc_test.h"

using vantrel::Pci7344;
using vantrel::Pci7344_Exception;
using vantrel::sim::BoardHandle;
using vantrel::sim::Function;
using vantrel::test::ChildProcess;
using vantrel::test::helper_path;

namespace {

constexpr int kBoard = 2;

class Pci7344LockTest : public vantrel::test::IpcTest {
  protected:
    BoardHandle board_{kBoard};

    ChildProcess child(const std::vector<std::string>& args) {
        std::vector<std::string> argv{helper_path("pci7344_child")};
        argv.insert(argv.end(), args.begin(), args.end());
        return ChildProcess(argv);
    }
    // Waits (at most 10 s) until some process is inside a call to the board.
    void wait_for_call_in_progress() {
        for (int i = 0; i < 1000; ++i) {
            if (board_.snapshot().calls_in_progress > 0) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        FAIL() << "no call started";
    }
    // True when another thread or process holds the board's lock (tried without waiting).
    static bool held_elsewhere(Pci7344& pci, long wait_ms = 0) {
        if (!pci.try_lock(wait_ms)) return true;
        pci.unlock();
        return false;
    }
    // Reads variable 10 through the board's lock, and directly.
    std::int32_t read_locked(Pci7344& pci) {
        std::int32_t value = -1;
        pci.read_var_rtn(10, value);
        return value;
    }
    std::int32_t read_unlocked() {
        std::int32_t value = -1;
        EXPECT_EQ(flex_read_var_rtn(kBoard, 10, &value), 0);
        return value;
    }
};

TEST_F(Pci7344LockTest, ObjectsForOneBoardInTwoProcessesTakeTurns) {
    // The write takes 1.5 s and lands at its end.
    board_.delay_calls(Function::load_var, 1500);
    auto writer = child({"write", std::to_string(kBoard), "10", "42"});
    ASSERT_EQ(writer.read_line(), "calling");
    wait_for_call_in_progress();
    Pci7344 mine(kBoard);
    EXPECT_TRUE(held_elsewhere(mine));
    EXPECT_EQ(read_unlocked(), 0);  // the board itself does not make anyone wait
    EXPECT_EQ(read_locked(mine), 42);
    EXPECT_EQ(writer.read_line(), "done");
    EXPECT_EQ(writer.wait(), 0);
}

TEST_F(Pci7344LockTest, ObjectsForOneBoardInOneProcessTakeTurns) {
    board_.delay_calls(Function::load_var, 500);
    Pci7344 writer_board(kBoard);
    std::thread writer([&] { writer_board.load_var(42, 10); });
    wait_for_call_in_progress();
    Pci7344 mine(kBoard);
    EXPECT_TRUE(held_elsewhere(mine));
    EXPECT_EQ(read_unlocked(), 0);
    EXPECT_EQ(read_locked(mine), 42);
    writer.join();
}

TEST_F(Pci7344LockTest, LockIsTheMachineWideMutexNamedAfterTheBoard) {
    auto holder = child({"lock", "pci7344-" + std::to_string(kBoard) + "MUTEX"});
    ASSERT_EQ(holder.read_line(), "locked");
    Pci7344 mine(kBoard);
    std::atomic<bool> written{false};
    std::thread writer([&] {
        mine.load_var(42, 10);
        written = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_FALSE(written);
    EXPECT_EQ(read_unlocked(), 0);
    holder.close_stdin();  // the holder lets go and ends
    EXPECT_EQ(holder.wait(), 0);
    writer.join();
    EXPECT_EQ(read_unlocked(), 42);
    // Another board's lock is another lock.
    auto other = child({"lock", "pci7344-" + std::to_string(kBoard + 1) + "MUTEX"});
    ASSERT_EQ(other.read_line(), "locked");
    EXPECT_FALSE(held_elsewhere(mine));
}

TEST_F(Pci7344LockTest, AHolderThatNeverLetsGoFailsTheCallAfterTheLimit) {
    auto holder = child({"lock", "pci7344-" + std::to_string(kBoard) + "MUTEX"});
    ASSERT_EQ(holder.read_line(), "locked");
    Pci7344 mine(kBoard, 300);
    std::int32_t value = -1;
    for (const auto& call : std::vector<std::function<void()>>{
             [&] { mine.load_var(42, 10); }, [&] { mine.read_var_rtn(10, value); },
             [&] { mine.begin_store(1); }}) {
        try {
            call();
            ADD_FAILURE() << "no exception";
        } catch (const Pci7344_Exception& e) {
            EXPECT_EQ(e.status(), FLEX_BOARD_ACCESS_FAILED);
            EXPECT_NE(std::string(e.what()).find("not obtained within 300 ms"), std::string::npos)
                << e.what();
        }
    }
    EXPECT_EQ(value, -1);
    EXPECT_EQ(read_unlocked(), 0);
}

TEST_F(Pci7344LockTest, ProgramStoreHoldsTheLockFromBeginToEnd) {
    Pci7344 pci(kBoard);
    auto free_for_others = [&] {
        bool got = false;
        std::thread([&] {
            Pci7344 other(kBoard);
            got = other.try_lock(0);
            if (got) other.unlock();
        }).join();
        return got;
    };
    pci.begin_store(1);
    EXPECT_FALSE(free_for_others());
    pci.load_var(1, 1);  // the storing thread goes on using the board
    pci.end_store(1);
    EXPECT_TRUE(free_for_others());

    // A failed begin leaves it free; a failed end frees it as well.
    EXPECT_THROW(pci.begin_store(0), Pci7344_Exception);
    EXPECT_TRUE(free_for_others());
    pci.begin_store(1);
    EXPECT_THROW(pci.end_store(2), Pci7344_Exception);
    EXPECT_TRUE(free_for_others());
    EXPECT_TRUE(board_.snapshot().storing);  // the board's store is still open
}

TEST_F(Pci7344LockTest, ProgramStoreOfAnotherProcessKeepsTheBoardUntilItEnds) {
    auto storer = child({"store", std::to_string(kBoard)});
    ASSERT_EQ(storer.read_line(), "storing");
    Pci7344 mine(kBoard);
    EXPECT_TRUE(held_elsewhere(mine, 100));
    storer.close_stdin();
    EXPECT_EQ(storer.read_line(), "stored");
    EXPECT_EQ(storer.wait(), 0);
    EXPECT_FALSE(held_elsewhere(mine));
}

}  // namespace
