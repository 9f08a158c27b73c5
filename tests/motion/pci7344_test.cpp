// Pci7344 over the simulated board: every operation's message prefix and status on failure, the
// read-buffer case of read_pos_rtn, the program store bracket, and construction.
#include "motion/pci7344.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <thread>

#include "motion/flexmotion.h"
#include "platform/clock.h"
#include "sim/board.h"
#include "tests/support/ipc_test.h"

using vantrel::Exception;
using vantrel::Pci7344;
using vantrel::Pci7344_Exception;
using vantrel::sim::BoardHandle;
using vantrel::sim::Function;

namespace {

constexpr int kBoard = 2;

std::string library_text(std::int32_t status) {
    char buffer[500];
    std::uint32_t size = sizeof buffer;
    flex_get_error_description(0, status, 0, 0, buffer, &size);
    return buffer;
}

class Pci7344Test : public vantrel::test::IpcTest {
  protected:
    BoardHandle board_{kBoard};
    Pci7344 pci_{kBoard};
};

struct Operation {
    Function function;
    const char* prefix;
    std::function<void(Pci7344&)> call;
};

TEST_F(Pci7344Test, EveryFailingOperationThrowsItsPrefixTheLibraryTextAndTheStatus) {
    std::uint16_t flag = 0;
    std::int32_t value = 0;
    const Operation operations[] = {
        {Function::set_stepper_loop_mode, "Pci7344::set_stepper_loop_mode -- ",
         [](Pci7344& p) { p.set_stepper_loop_mode(4, 1); }},
        {Function::load_acceleration, " Pci7344::load_acceleration -- ",
         [](Pci7344& p) { p.load_acceleration(4, 0, 1000, 0xFF); }},
        {Function::load_target_pos, "Pci7344::load_target_pos -- ",
         [](Pci7344& p) { p.load_target_pos(4, 100, 0xFF); }},
        {Function::load_velocity, "Pci7344::load_velocity -- ",
         [](Pci7344& p) { p.load_velocity(4, -100, 0xFF); }},
        {Function::reset_pos, "Pci7344::reset_pos  -- ",
         [](Pci7344& p) { p.reset_pos(4, 0, 0, 0xFF); }},
        {Function::set_op_mode, "Pci7344::set_op_mode  -- ",
         [](Pci7344& p) { p.set_op_mode(4, 1); }},
        {Function::check_move_complete_status, "Pci7344::check_move_complete_status  -- ",
         [&](Pci7344& p) { p.check_move_complete_status(4, 0, flag); }},
        {Function::load_scurve_time, " Pci7344::load_scurve_time -- ",
         [](Pci7344& p) { p.load_scurve_time(4, 10, 0xFF); }},
        {Function::start, "Pci7344::start -- ", [](Pci7344& p) { p.start(4, 0); }},
        {Function::stop_motion, "Pci7344::stop_motion  -- ",
         [](Pci7344& p) { p.stop_motion(4, 1, 0); }},
        {Function::find_reference, "Pci7344::find_reference -- ",
         [](Pci7344& p) { p.find_reference(4, 0, 1); }},
        {Function::read_reference_status_rtn, "Pci7344::read_reference_rtn -- ",
         [&](Pci7344& p) { p.read_reference_rtn(4, 0, 5, flag); }},
        {Function::begin_store, "Pci7344::begin_store  -- ", [](Pci7344& p) { p.begin_store(1); }},
        {Function::end_store, " Pci7344::end_store -- ",
         [](Pci7344& p) {
             p.begin_store(1);
             p.end_store(1);
         }},
        {Function::load_var, "Pci7344::load_var  -- ",
         [](Pci7344& p) { p.load_var(static_cast<std::int32_t>(0x88000001u), 117); }},
        {Function::read_var_rtn, "Pci7344::read_var_rtn -- ",
         [&](Pci7344& p) { p.read_var_rtn(117, value); }},
        {Function::flush_rdb, "Pci7344::flush_rdb -- ", [](Pci7344& p) { p.flush_rdb(); }},
        {Function::read_pos_rtn, "Pci7344::read_pos_rtn -- ",
         [&](Pci7344& p) { p.read_pos_rtn(4, value); }},
    };
    ASSERT_EQ(std::size(operations), static_cast<std::size_t>(vantrel::sim::kFunctionCount));
    std::int32_t status = -71000;
    for (const Operation& op : operations) {
        SCOPED_TRACE(op.prefix);
        // One status the library knows and one it does not, each with its own text.
        for (const std::int32_t injected : {FLEX_INVALID_PARAMETER, --status}) {
            board_.fail_calls(op.function, 1, injected);
            try {
                op.call(pci_);
                ADD_FAILURE() << "no exception";
            } catch (const Pci7344_Exception& e) {
                EXPECT_EQ(e.message(), op.prefix + library_text(injected));
                EXPECT_EQ(e.status(), injected);
                EXPECT_STREQ(e.what(), e.message().c_str());
            }
            // The failed end left the board's store open.
            if (op.function == Function::end_store) {
                ASSERT_EQ(flex_end_store(kBoard, 1), 0);
            }
            // The lock is never held while the exception travels.
            std::thread other([&] {
                const bool free = pci_.try_lock(0);
                EXPECT_TRUE(free);
                if (free) pci_.unlock();
            });
            other.join();
        }
    }
}

TEST_F(Pci7344Test, RealBoardRefusalsCarryTheirOwnDescription) {
    try {
        pci_.load_velocity(9, 100, 0xFF);
        FAIL() << "no exception";
    } catch (const Exception& e) {  // caught as the system's exception
        EXPECT_EQ(e.message(),
                  "Pci7344::load_velocity -- Invalid axis: axes are 1 to 4, or 0 "
                  "together with an axis map selecting some of them.");
        const auto* board_error = dynamic_cast<const Pci7344_Exception*>(&e);
        ASSERT_NE(board_error, nullptr);
        EXPECT_EQ(board_error->status(), FLEX_INVALID_AXIS);
        const Pci7344_Exception copy = *board_error;
        EXPECT_EQ(copy.message(), e.message());
        EXPECT_EQ(copy.status(), FLEX_INVALID_AXIS);
    }
}

TEST_F(Pci7344Test, OperationsReachTheBoardAndFillTheirOutputs) {
    pci_.set_stepper_loop_mode(4, 1);
    pci_.set_op_mode(4, 0);
    pci_.load_velocity(4, 100000, 0xFF);
    pci_.load_acceleration(4, 0, 1000000, 0xFF);
    pci_.load_scurve_time(4, 10, 0xFF);
    pci_.load_target_pos(4, 1440, 0xFF);
    pci_.start(4, 0);
    std::uint16_t complete = 0;
    for (int i = 0; i < 500 && !complete; ++i) {
        pci_.check_move_complete_status(4, 0, complete);
        if (!complete) vantrel::platform::sleep_ms(10);
    }
    EXPECT_EQ(complete, 1);
    std::int32_t position = 0;
    pci_.read_pos_rtn(4, position);
    EXPECT_EQ(position, 1440);
    pci_.load_var(static_cast<std::int32_t>(0x88000001u), 117);
    std::int32_t marker = 0;
    pci_.read_var_rtn(117, marker);
    EXPECT_EQ(static_cast<std::uint32_t>(marker), 0x88000001u);
    const auto axis = board_.snapshot().axes[3];
    EXPECT_EQ(axis.loop_mode, 1);
    EXPECT_EQ(axis.scurve_time, 10);
}

TEST_F(Pci7344Test, ReadBufferNotEmptyIsFlushedAndReadAgainButNeverMadeUp) {
    board_.place_axis(4, 640);
    const auto flushes = [&] {
        return board_.snapshot().calls[static_cast<int>(Function::flush_rdb)];
    };
    // Stale data, from the buffer or met once from whatever cause: flushed, and the fresh read.
    board_.set_read_buffer_stale(true);
    std::int32_t position = -1;
    pci_.read_pos_rtn(4, position);
    EXPECT_EQ(position, 640);
    EXPECT_EQ(flushes(), 1u);
    board_.fail_calls(Function::read_pos_rtn, 2, FLEX_READ_BUFFER_NOT_EMPTY);
    position = -1;
    pci_.read_pos_rtn(4, position);
    EXPECT_EQ(position, 640);
    EXPECT_EQ(flushes(), 3u);

    // Never fresh: a board error with its status, and the output untouched.
    board_.fail_calls(Function::read_pos_rtn, 3, FLEX_READ_BUFFER_NOT_EMPTY);
    position = -1;
    try {
        pci_.read_pos_rtn(4, position);
        FAIL() << "no exception";
    } catch (const Pci7344_Exception& e) {
        EXPECT_EQ(e.status(), FLEX_READ_BUFFER_NOT_EMPTY);
        EXPECT_EQ(e.message(),
                  "Pci7344::read_pos_rtn -- " + library_text(FLEX_READ_BUFFER_NOT_EMPTY));
    }
    EXPECT_EQ(position, -1);

    // A flush that fails is a failure, not a success; any other status is thrown at once.
    board_.set_read_buffer_stale(true);
    board_.fail_calls(Function::flush_rdb, 1, FLEX_BOARD_ACCESS_FAILED);
    try {
        pci_.read_pos_rtn(4, position);
        FAIL() << "no exception";
    } catch (const Pci7344_Exception& e) {
        EXPECT_EQ(e.message(), "Pci7344::flush_rdb -- " + library_text(FLEX_BOARD_ACCESS_FAILED));
    }
    board_.set_read_buffer_stale(false);
    board_.fail_calls(Function::read_pos_rtn, 1, -70024);
    EXPECT_THROW(pci_.read_pos_rtn(4, position), Pci7344_Exception);
    EXPECT_EQ(position, -1);
}

TEST_F(Pci7344Test, LowEightBitsOfTheIdentifierAddressTheBoard) {
    Pci7344 wide(0x100 + kBoard);
    wide.load_var(77, 3);
    EXPECT_EQ(board_.snapshot().variables[3], 77);
    EXPECT_EQ(wide.board_id(), 0x100 + kBoard);
}

TEST_F(Pci7344Test, AbsentBoardIsAFailureWithItsText) {
    Pci7344 absent(kBoard + 1);
    try {
        absent.flush_rdb();
        FAIL() << "no exception";
    } catch (const Pci7344_Exception& e) {
        EXPECT_EQ(e.status(), FLEX_BOARD_NOT_PRESENT);
        EXPECT_EQ(e.message(), "Pci7344::flush_rdb -- " + library_text(FLEX_BOARD_NOT_PRESENT));
    }
}

TEST(Pci7344Construction, LockThatCannotBeMadeGivesTheInitializationMessage) {
    vantrel::test::ScopedIpcScope scope;
    // A scope longer than 64 bytes cannot name any object.
    ::setenv("VANTREL_IPC_SCOPE", std::string(65, 's').c_str(), 1);
    try {
        Pci7344 p(1);
        FAIL() << "no exception";
    } catch (const Pci7344_Exception&) {
        FAIL() << "a construction failure is not a board error";
    } catch (const Exception& e) {
        EXPECT_EQ(e.message(), "Pci7344 Error, failed to initialize access synchronization.");
    }
}

}  // namespace
