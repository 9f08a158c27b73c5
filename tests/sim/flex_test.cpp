// The simulated board through the flex_* functions, in one process on a virtual clock: motion
// profiles, stops, reference search, variables, argument checks, faults and error texts.
#include <gtest/gtest.h>

#include <cstring>
#include <iterator>
#include <set>
#include <string>

#include "motion/flexmotion.h"
#include "platform/clock.h"
#include "sim/board.h"
#include "tests/support/ipc_test.h"

using vantrel::platform::ScopedClock;
using vantrel::platform::VirtualClock;
using vantrel::sim::BoardHandle;
using vantrel::sim::Function;

namespace {

constexpr std::uint8_t kBoard = 3;
constexpr std::uint8_t kAxis = 4;

class FlexTest : public vantrel::test::IpcTest {
  protected:
    VirtualClock clock_;
    ScopedClock installed_{clock_};
    BoardHandle board_{kBoard};

    void load(std::int32_t velocity, std::uint32_t acceleration, std::uint32_t deceleration,
              std::uint8_t axis = kAxis) {
        ASSERT_EQ(flex_load_velocity(kBoard, axis, velocity, FLEX_IMMEDIATE), 0);
        ASSERT_EQ(flex_load_acceleration(kBoard, axis, 1, acceleration, FLEX_IMMEDIATE), 0);
        ASSERT_EQ(flex_load_acceleration(kBoard, axis, 2, deceleration, FLEX_IMMEDIATE), 0);
    }
    void move_to(std::int32_t target, std::uint8_t axis = kAxis) {
        ASSERT_EQ(flex_load_target_pos(kBoard, axis, target, FLEX_IMMEDIATE), 0);
        ASSERT_EQ(flex_start(kBoard, axis, 0), 0);
    }
    std::int32_t position(std::uint8_t axis = kAxis) {
        std::int32_t p = -12345;
        EXPECT_EQ(flex_read_pos_rtn(kBoard, axis, &p), 0);
        return p;
    }
    bool complete(std::uint8_t axis = kAxis, std::uint16_t map = 0) {
        std::uint16_t done = 99;
        EXPECT_EQ(flex_check_move_complete_status(kBoard, axis, map, &done), 0);
        return done != 0;
    }
    std::uint16_t reference_found() {
        std::uint16_t found = 99;
        EXPECT_EQ(flex_read_reference_status_rtn(kBoard, kAxis, 0, 5, &found), 0);
        return found;
    }
    void wait_ms(long ms) { clock_.advance_ms(ms); }
};

TEST_F(FlexTest, TrapezoidalMoveTakesTheTimeItsProfileSays) {
    // 1000 counts/s reached after 2 s and 1000 counts, 8 s cruise, 2 s and 1000 counts to stop.
    load(1000, 500, 500);
    move_to(10000);
    EXPECT_FALSE(complete());
    wait_ms(1000);
    EXPECT_EQ(position(), 250);
    wait_ms(5000);
    EXPECT_EQ(position(), 5000);
    wait_ms(5999);
    EXPECT_FALSE(complete());
    EXPECT_NEAR(position(), 10000, 1);
    wait_ms(1);
    EXPECT_TRUE(complete());
    EXPECT_EQ(position(), 10000);
}

TEST_F(FlexTest, ShortMoveNeverReachesTopSpeedAndTakesTheTriangleTime) {
    // 400 counts at 100 counts/s^2: 2 s up to 200 counts/s, 2 s down.
    load(1000, 100, 100);
    move_to(400);
    wait_ms(2000);
    EXPECT_EQ(position(), 200);
    EXPECT_EQ(board_.snapshot().axes[kAxis - 1].velocity_now, 200.0);
    wait_ms(1999);
    EXPECT_FALSE(complete());
    wait_ms(1);
    EXPECT_TRUE(complete());
    EXPECT_EQ(position(), 400);
}

TEST_F(FlexTest, AccelerationAndDecelerationLoadSeparatelyOrTogether) {
    // Up in 1 s (500 counts), down in 4 s (2000 counts), 7500 counts of cruise: 12.5 s.
    load(1000, 1000, 250);
    move_to(10000);
    wait_ms(12499);
    EXPECT_FALSE(complete());
    wait_ms(1);
    EXPECT_TRUE(complete());
    // Type 0 sets both: 1000 at 1000 counts/s^2 is 1 s up, 1 s down, no cruise.
    ASSERT_EQ(flex_load_acceleration(kBoard, kAxis, 0, 1000, FLEX_IMMEDIATE), 0);
    move_to(11000);
    wait_ms(1999);
    EXPECT_FALSE(complete());
    wait_ms(1);
    EXPECT_TRUE(complete());
}

TEST_F(FlexTest, RelativeMovesCountFromWhereTheAxisStandsWhateverTheVelocitySign) {
    load(-1000, 10000, 10000);
    ASSERT_EQ(flex_set_op_mode(kBoard, kAxis, 1), 0);
    board_.place_axis(kAxis, 100);
    move_to(-500);
    wait_ms(5000);
    EXPECT_EQ(position(), -400);
    move_to(-500);
    wait_ms(5000);
    EXPECT_EQ(position(), -900);
    ASSERT_EQ(flex_set_op_mode(kBoard, kAxis, 0), 0);
    move_to(-500);
    wait_ms(5000);
    EXPECT_EQ(position(), -500);
}

TEST_F(FlexTest, HaltAndKillStopTheAxisAtOnceAndDecelStopBrakes) {
    load(1000, 500, 500);
    move_to(10000);
    wait_ms(6000);
    ASSERT_EQ(flex_stop_motion(kBoard, kAxis, 1, 0), 0);  // halt
    EXPECT_TRUE(complete());
    wait_ms(10000);
    EXPECT_EQ(position(), 5000);

    move_to(10000);  // 1000 counts and 2 s to full speed, then cruising
    wait_ms(3000);
    EXPECT_EQ(position(), 7000);
    ASSERT_EQ(flex_stop_motion(kBoard, kAxis, 2, 0xFF), 0);  // kill
    EXPECT_TRUE(complete());
    EXPECT_TRUE(board_.snapshot().axes[kAxis - 1].killed);
    wait_ms(10000);
    EXPECT_EQ(position(), 7000);

    move_to(0);  // a start brings a killed axis back
    EXPECT_FALSE(board_.snapshot().axes[kAxis - 1].killed);
    wait_ms(4000);  // 2 s up, 2 s cruising: 3000 counts from 7000
    ASSERT_EQ(flex_stop_motion(kBoard, kAxis, 0, 0), 0);  // decelerate: 1000 counts in 2 s
    wait_ms(1999);
    EXPECT_FALSE(complete());
    wait_ms(1);
    EXPECT_TRUE(complete());
    EXPECT_EQ(position(), 3000);
}

TEST_F(FlexTest, NewTargetWhileRunningTheOtherWayBrakesThenComesBack) {
    load(1000, 500, 500);
    move_to(10000);
    wait_ms(6000);  // at 5000, cruising at +1000
    move_to(0);
    wait_ms(2000);  // braking to a stop 1000 counts further on
    EXPECT_EQ(position(), 6000);
    // Back 6000: 2 s up, 4 s cruise, 2 s down.
    wait_ms(7999);
    EXPECT_FALSE(complete());
    wait_ms(1);
    EXPECT_TRUE(complete());
    EXPECT_EQ(position(), 0);
}

TEST_F(FlexTest, TravelRecordHoldsTheFurthestPlacesEvenBetweenReads) {
    board_.place_axis(kAxis, 100);
    load(1000, 500, 500);
    move_to(10000);
    wait_ms(6000);  // at 5100, cruising at +1000
    move_to(-200);  // turns round at 6100 after 2 s, in the middle of a phase
    wait_ms(20000);
    const auto axis = board_.snapshot().axes[kAxis - 1];
    EXPECT_DOUBLE_EQ(axis.travel_high, 6100);
    EXPECT_DOUBLE_EQ(axis.travel_low, -200);
    board_.reset_travel(kAxis);
    EXPECT_DOUBLE_EQ(board_.snapshot().axes[kAxis - 1].travel_high, -200);
}

TEST_F(FlexTest, ResetPosMakesTheCurrentPlaceReadAsTheGivenPosition) {
    load(1000, 1000, 1000);
    board_.place_axis(kAxis, 1234);
    EXPECT_EQ(position(), 1234);
    ASSERT_EQ(flex_reset_pos(kBoard, kAxis, 0, 0, FLEX_IMMEDIATE), 0);
    EXPECT_EQ(position(), 0);
    move_to(100);  // absolute targets are counter readings
    wait_ms(5000);
    EXPECT_EQ(position(), 100);
    EXPECT_EQ(board_.snapshot().axes[kAxis - 1].position, 1334.0);
}

TEST_F(FlexTest, ReferenceIsFoundWhenTheSearchReachesTheSwitch) {
    board_.set_reference_position(kAxis, 5000);
    load(1000, 500, 500);
    ASSERT_EQ(flex_find_reference(kBoard, kAxis, 0, 1), 0);
    wait_ms(6999);  // 2 s up, 3 s cruise, 2 s down
    EXPECT_EQ(reference_found(), 0);
    EXPECT_FALSE(complete());
    wait_ms(1);
    EXPECT_EQ(reference_found(), 1);
    EXPECT_TRUE(complete());
    EXPECT_EQ(position(), 5000);
    ASSERT_EQ(flex_reset_pos(kBoard, kAxis, 0, 0, FLEX_IMMEDIATE), 0);
    EXPECT_EQ(position(), 0);
    // A new search starts unfound; one that is stopped finds nothing.
    board_.place_axis(kAxis, 0);
    ASSERT_EQ(flex_find_reference(kBoard, kAxis, 0, 1), 0);
    EXPECT_EQ(reference_found(), 0);
    wait_ms(1000);
    ASSERT_EQ(flex_stop_motion(kBoard, kAxis, 0, 0), 0);
    wait_ms(60000);
    EXPECT_TRUE(complete());
    EXPECT_EQ(reference_found(), 0);
}

TEST_F(FlexTest, RotaryAxisSearchesOnInItsDirectionUntilTheSwitchComesRound) {
    board_.set_counts_per_revolution(kAxis, 36000);
    board_.set_reference_position(kAxis, 100);
    board_.place_axis(kAxis, 200);
    load(1000, 1000, 1000);
    ASSERT_EQ(flex_find_reference(kBoard, kAxis, 0, 1), 0);
    wait_ms(100000);
    EXPECT_EQ(reference_found(), 1);
    EXPECT_EQ(position(), 36100);
    load(-1000, 1000, 1000);  // backwards: the one just behind
    board_.place_axis(kAxis, 200);
    ASSERT_EQ(flex_find_reference(kBoard, kAxis, 0, 1), 0);
    wait_ms(100000);
    EXPECT_EQ(reference_found(), 1);
    EXPECT_EQ(position(), 100);
}

TEST_F(FlexTest, DeadReferenceSwitchIsNeverFound) {
    board_.set_reference_position(kAxis, 2000);
    board_.set_reference_missing(kAxis, true);
    load(1000, 1000, 1000);
    ASSERT_EQ(flex_find_reference(kBoard, kAxis, 0, 1), 0);
    wait_ms(120000);
    EXPECT_TRUE(complete());
    EXPECT_EQ(reference_found(), 0);
    board_.clear_faults();
    ASSERT_EQ(flex_find_reference(kBoard, kAxis, 0, 1), 0);
    wait_ms(100);
    EXPECT_EQ(reference_found(), 1);  // it already stood on it
}

TEST_F(FlexTest, StalledAxisNeverCompletesUntilStopped) {
    load(1000, 500, 500);
    move_to(10000);
    wait_ms(3000);  // at 2000
    board_.set_stalled(kAxis, true);
    wait_ms(600000);
    EXPECT_FALSE(complete());
    EXPECT_EQ(position(), 2000);
    ASSERT_EQ(flex_stop_motion(kBoard, kAxis, 1, 0), 0);
    EXPECT_TRUE(complete());
    move_to(0);  // still stalled: does not move, does not finish
    wait_ms(600000);
    EXPECT_FALSE(complete());
    EXPECT_EQ(position(), 2000);
    board_.set_stalled(kAxis, false);  // free: the lost move is over, it can move again
    EXPECT_TRUE(complete());
    move_to(0);
    wait_ms(10000);
    EXPECT_EQ(position(), 0);
}

TEST_F(FlexTest, AxisZeroAddressesTheAxesOfTheMap) {
    load(1000, 1000, 1000, 1);
    load(1000, 1000, 1000, 4);
    ASSERT_EQ(flex_load_target_pos(kBoard, 1, 1000, FLEX_IMMEDIATE), 0);
    ASSERT_EQ(flex_load_target_pos(kBoard, 4, 4000, FLEX_IMMEDIATE), 0);
    ASSERT_EQ(flex_start(kBoard, 0, (1 << 1) | (1 << 4)), 0);
    wait_ms(2000);
    EXPECT_TRUE(complete(1));
    EXPECT_FALSE(complete(0, (1 << 1) | (1 << 4)));
    wait_ms(3000);
    EXPECT_TRUE(complete(0, (1 << 1) | (1 << 4)));
    EXPECT_EQ(position(1), 1000);
    EXPECT_EQ(position(4), 4000);
    EXPECT_EQ(position(2), 0);
    std::uint16_t done = 0;
    EXPECT_EQ(flex_start(kBoard, 0, 0), FLEX_INVALID_AXIS);
    EXPECT_EQ(flex_check_move_complete_status(kBoard, 0, 1 << 5, &done), FLEX_INVALID_AXIS);
}

TEST_F(FlexTest, VariablesHoldThirtyTwoBitsEach) {
    for (std::uint8_t v = 0; v < FLEX_VARIABLE_COUNT; ++v)
        ASSERT_EQ(flex_load_var(kBoard, static_cast<std::int32_t>(0x88000000u + v), v), 0);
    for (std::uint8_t v = 0; v < FLEX_VARIABLE_COUNT; ++v) {
        std::int32_t value = 0;
        ASSERT_EQ(flex_read_var_rtn(kBoard, v, &value), 0);
        EXPECT_EQ(static_cast<std::uint32_t>(value), 0x88000000u + v);
    }
}

TEST_F(FlexTest, BadArgumentsAreRefusedWithoutEffect) {
    std::int32_t value = 7;
    std::uint16_t flag = 7;
    EXPECT_EQ(flex_load_var(kBoard, 1, 128), FLEX_INVALID_VARIABLE);
    EXPECT_EQ(flex_read_var_rtn(kBoard, 200, &value), FLEX_INVALID_VARIABLE);
    EXPECT_EQ(value, 7);
    EXPECT_EQ(flex_read_var_rtn(kBoard, 1, nullptr), FLEX_NULL_POINTER);
    EXPECT_EQ(flex_read_pos_rtn(kBoard, 5, &value), FLEX_INVALID_AXIS);
    EXPECT_EQ(flex_read_pos_rtn(kBoard, 0, &value), FLEX_INVALID_AXIS);
    EXPECT_EQ(flex_load_velocity(kBoard, kAxis, 10, 1), FLEX_INVALID_INPUT_VECTOR);
    EXPECT_EQ(flex_load_acceleration(kBoard, kAxis, 3, 10, FLEX_IMMEDIATE), FLEX_INVALID_PARAMETER);
    EXPECT_EQ(flex_load_acceleration(kBoard, kAxis, 0, 0, FLEX_IMMEDIATE), FLEX_INVALID_PARAMETER);
    EXPECT_EQ(flex_set_op_mode(kBoard, kAxis, 2), FLEX_INVALID_PARAMETER);
    EXPECT_EQ(flex_set_stepper_loop_mode(kBoard, kAxis, 2), FLEX_INVALID_PARAMETER);
    EXPECT_EQ(flex_stop_motion(kBoard, kAxis, 3, 0), FLEX_INVALID_PARAMETER);
    EXPECT_EQ(flex_find_reference(kBoard, kAxis, 0, 0), FLEX_INVALID_PARAMETER);
    EXPECT_EQ(flex_read_reference_status_rtn(kBoard, kAxis, 0, 4, &flag), FLEX_INVALID_PARAMETER);
    EXPECT_EQ(flag, 7);
    // Nothing loaded yet: a move cannot start.
    EXPECT_EQ(flex_start(kBoard, kAxis, 0), FLEX_MOVE_NOT_POSSIBLE);
    EXPECT_EQ(flex_find_reference(kBoard, kAxis, 0, 1), FLEX_MOVE_NOT_POSSIBLE);
    EXPECT_TRUE(complete());
    // Program stores pair up.
    EXPECT_EQ(flex_end_store(kBoard, 1), FLEX_PROGRAM_STORE_ERROR);
    EXPECT_EQ(flex_begin_store(kBoard, 0), FLEX_INVALID_PARAMETER);
    EXPECT_EQ(flex_begin_store(kBoard, 2), 0);
    EXPECT_EQ(flex_begin_store(kBoard, 2), FLEX_PROGRAM_STORE_ERROR);
    EXPECT_EQ(flex_end_store(kBoard, 1), FLEX_PROGRAM_STORE_ERROR);
    EXPECT_EQ(flex_end_store(kBoard, 2), 0);
    // A board nobody holds is not there.
    EXPECT_EQ(flex_load_var(kBoard + 1, 1, 1), FLEX_BOARD_NOT_PRESENT);
}

TEST_F(FlexTest, InjectedFailuresHitTheNextCallsOfOneFunctionOnly) {
    board_.fail_calls(Function::load_var, 2, -4242);
    EXPECT_EQ(flex_load_var(kBoard, 5, 1), -4242);
    std::int32_t value = 0;
    EXPECT_EQ(flex_read_var_rtn(kBoard, 1, &value), 0);
    EXPECT_EQ(flex_load_var(kBoard, 6, 1), -4242);
    EXPECT_EQ(flex_load_var(kBoard, 7, 1), 0);
    EXPECT_EQ(flex_read_var_rtn(kBoard, 1, &value), 0);
    EXPECT_EQ(value, 7);  // the failed calls did nothing
    EXPECT_EQ(board_.snapshot().calls[static_cast<int>(Function::load_var)], 3u);
}

TEST_F(FlexTest, StaleReadBufferFailsPositionReadsUntilFlushed) {
    board_.place_axis(kAxis, 42);
    board_.set_read_buffer_stale(true);
    std::int32_t p = -1;
    EXPECT_EQ(flex_read_pos_rtn(kBoard, kAxis, &p), FLEX_READ_BUFFER_NOT_EMPTY);
    EXPECT_EQ(flex_read_pos_rtn(kBoard, kAxis, &p), FLEX_READ_BUFFER_NOT_EMPTY);
    EXPECT_EQ(p, -1);
    EXPECT_EQ(flex_flush_rdb(kBoard), 0);
    EXPECT_EQ(flex_read_pos_rtn(kBoard, kAxis, &p), 0);
    EXPECT_EQ(p, 42);
}

TEST(FlexErrorDescription, EveryStatusHasItsOwnText) {
    const std::int32_t statuses[] = {FLEX_SUCCESS,
                                     FLEX_BOARD_NOT_PRESENT,
                                     FLEX_INVALID_AXIS,
                                     FLEX_INVALID_PARAMETER,
                                     FLEX_INVALID_INPUT_VECTOR,
                                     FLEX_INVALID_VARIABLE,
                                     FLEX_NULL_POINTER,
                                     FLEX_MOVE_NOT_POSSIBLE,
                                     FLEX_PROGRAM_STORE_ERROR,
                                     FLEX_BUFFER_TOO_SMALL,
                                     FLEX_BOARD_ACCESS_FAILED,
                                     FLEX_READ_BUFFER_NOT_EMPTY,
                                     -1,
                                     12345,
                                     INT32_MIN};
    std::set<std::string> texts;
    for (const std::int32_t status : statuses) {
        char buffer[500];
        std::memset(buffer, 'x', sizeof buffer);
        std::uint32_t size = sizeof buffer;
        ASSERT_EQ(flex_get_error_description(0, status, 0, 0, buffer, &size), 0) << status;
        ASSERT_NE(std::memchr(buffer, '\0', sizeof buffer), nullptr);
        EXPECT_EQ(std::strlen(buffer), size);
        EXPECT_GT(size, 5u);
        texts.insert(buffer);
    }
    EXPECT_EQ(texts.size(), std::size(statuses));
    char buffer[500];
    std::uint32_t size = sizeof buffer;
    ASSERT_EQ(flex_get_error_description(0, -77, 0, 0, buffer, &size), 0);
    EXPECT_STREQ(buffer, "Unknown status -77.");
}

TEST(FlexErrorDescription, ShortBufferGetsACutTextAndTheFullLength) {
    char buffer[8];
    std::memset(buffer, 'x', sizeof buffer);
    std::uint32_t size = sizeof buffer;
    EXPECT_EQ(flex_get_error_description(0, -77, 0, 0, buffer, &size), FLEX_BUFFER_TOO_SMALL);
    EXPECT_STREQ(buffer, "Unknown");
    EXPECT_EQ(size, std::strlen("Unknown status -77."));
    size = 0;
    EXPECT_EQ(flex_get_error_description(0, -77, 0, 0, buffer, &size), FLEX_BUFFER_TOO_SMALL);
    EXPECT_EQ(flex_get_error_description(0, -77, 0, 0, nullptr, &size), FLEX_NULL_POINTER);
    size = sizeof buffer;
    EXPECT_EQ(flex_get_error_description(1, -77, 0, 0, buffer, &size), FLEX_INVALID_PARAMETER);
    EXPECT_STREQ(buffer, "");
}

class BoardLifetimeTest : public vantrel::test::IpcTest {};

TEST_F(BoardLifetimeTest, BoardLivesWhileHeldAndComesBackFresh) {
    auto holder = vantrel::sim::open_board(9);
    EXPECT_TRUE(holder->created());
    ASSERT_EQ(flex_load_var(9, 99, 117), 0);
    {
        BoardHandle second(9, vantrel::platform::OpenMode::open_existing);
        EXPECT_FALSE(second.created());
        EXPECT_EQ(second.snapshot().variables[117], 99);
    }
    holder.reset();
    EXPECT_EQ(flex_load_var(9, 1, 117), FLEX_BOARD_NOT_PRESENT);
    holder = vantrel::sim::open_board(9);
    EXPECT_TRUE(holder->created());
    EXPECT_EQ(holder->snapshot().variables[117], 0);
    EXPECT_THROW(BoardHandle(256), std::invalid_argument);
    EXPECT_THROW(holder->set_reference_position(5, 0), std::invalid_argument);
    EXPECT_THROW(holder->fail_calls(Function::start, 1, 0), std::invalid_argument);
}

}  // namespace
