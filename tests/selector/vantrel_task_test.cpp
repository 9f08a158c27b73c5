// The motion task against simulated boards on the virtual clock: its sequences as ordered log
// lines, its limits, the kill switch and the homed marker.
#include "selector/vantrel_task.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>

#include "interface/clients.h"
#include "platform/clock.h"
#include "sim/board.h"
#include "tests/selector/peer_harness.h"
#include "tests/support/files.h"
#include "tests/support/ipc_test.h"

using namespace vantrel;
using namespace std::chrono_literals;
using Lines = std::vector<std::string>;

namespace {

constexpr int kRotorAxisIndex = VantrelTask::kAxis - 1;

class VantrelTaskTest : public test::IpcTest {
  protected:
    void SetUp() override {
        params_.set_device_present(true);
        params_.set_capacity(6);
        params_.set_position(0, 200);
        params_.set_position(1, 1000);
        for (int i = 2; i <= 6; ++i) params_.set_position(i, 1000 + 440 * (i - 1));
        params_.set_rotor_velocity(4000);
        params_.set_rotor_accel(40000);
        params_.set_gripper_velocity(5000);
        params_.set_gripper_accel(50000);
        params_.set_gripper_stroke(1000);
        params_.set_buzz_amplitude(20);
        params_.set_buzz_duration(0.3);
    }
    void TearDown() override {
        task_.reset();
        peers_.reset();
    }
    void start_peers(bool with_sipper = true) {
        peers_ = std::make_unique<test::Peers>(dir_, with_sipper);
        rotor_ = std::make_unique<sim::BoardHandle>(test::Peers::kRotorBoard);
        gripper_ = std::make_unique<sim::BoardHandle>(test::Peers::kGripperBoard);
        task_ = std::make_unique<VantrelTask>(params_);
    }
    // Runs one request to its end and returns the task's messages of that run.
    Lines run(int request) {
        peers_->recorder().clear();
        params_.set_request(request);
        EXPECT_TRUE(task_->start());
        for (int i = 0; i < 20000 && task_->is_running(); ++i) std::this_thread::sleep_for(1ms);
        EXPECT_FALSE(task_->is_running());
        // The messages are one-way calls: wait until the recorder has taken all of them.
        ComponentIF vantrel("Vantrel");
        vantrel.open();
        std::int32_t state = 0;
        vantrel.get_state(state);
        return peers_->task_lines();
    }
    std::int32_t rotor_counter() { return sim::counter(rotor_->snapshot().axes[kRotorAxisIndex]); }
    std::int32_t gripper_counter() {
        return sim::counter(gripper_->snapshot().axes[kRotorAxisIndex]);
    }
    void home_first() {
        const Lines lines = run(VantrelParams::kRequestHome);
        ASSERT_FALSE(lines.empty());
        ASSERT_EQ(lines.back(), "homing operation complete");
    }

    vantrel::test::TempDir temp_;
    const std::string dir_ = temp_.path();
    platform::VirtualClock clock_;
    platform::ScopedClock use_clock_{clock_};
    VantrelParams params_;
    std::unique_ptr<test::Peers> peers_;
    std::unique_ptr<sim::BoardHandle> rotor_, gripper_;
    std::unique_ptr<VantrelTask> task_;
};

TEST_F(VantrelTaskTest, HomingFromAColumnReleasesSearchesAndClampsAtColumnOne) {
    start_peers();
    rotor_->place_axis(VantrelTask::kAxis, 1440);  // column 2 before any homing
    EXPECT_FALSE(task_->get_homed());
    const Lines lines = run(VantrelParams::kRequestHome);
    EXPECT_EQ(lines, (Lines{"begin homing operation", "Buzzzzz ", "Buzzzzz done",
                            "going to position 1", "at position 1", "homing operation complete"}));
    EXPECT_TRUE(task_->get_homed());
    EXPECT_EQ(task_->get_current_pos(), 1);
    EXPECT_EQ(rotor_->snapshot().variables[VantrelTask::kHomedVariable],
              static_cast<std::int32_t>(0x88000001u));
}

TEST_F(VantrelTaskTest, ColumnOneToThreeThenParkAndBack) {
    start_peers();
    home_first();
    EXPECT_EQ(run(3), (Lines{"going to position 3", "Buzzzzz ", "Buzzzzz done", "target pos = 1880",
                             "at position 3"}));
    EXPECT_EQ(task_->get_current_pos(), 3);
    const std::int32_t clamped = gripper_counter();
    // To the park position: released (with the buzz), not clamped afterwards.
    EXPECT_EQ(run(0), (Lines{"going to position 0", "Buzzzzz ", "Buzzzzz done", "target pos = 200",
                             "at position 0"}));
    EXPECT_EQ(task_->get_current_pos(), 0);
    EXPECT_EQ(gripper_counter(), clamped - 1000);
    // From park to a column: nothing to release, clamped at the end.
    EXPECT_EQ(run(6), (Lines{"going to position 6", "target pos = 3200", "at position 6"}));
    EXPECT_EQ(gripper_counter(), clamped);
    EXPECT_EQ(rotor_counter(), 3200);
}

TEST_F(VantrelTaskTest, GoToIsRefusedUnlessTheMarkerSaysHomed) {
    start_peers();
    for (std::uint32_t marker : {0x88000000u, 0u, 0x87000001u}) {
        rotor_->set_variable(VantrelTask::kHomedVariable, static_cast<std::int32_t>(marker));
        EXPECT_EQ(run(2), (Lines{"Can't goto position, not homed"})) << std::hex << marker;
    }
    rotor_->set_variable(VantrelTask::kHomedVariable, static_cast<std::int32_t>(0x88000001u));
    rotor_->place_axis(VantrelTask::kAxis, 200);  // parked
    EXPECT_EQ(run(2), (Lines{"going to position 2", "target pos = 1440", "at position 2"}));
}

TEST_F(VantrelTaskTest, PositionToleranceIsSevenUnits) {
    start_peers();
    rotor_->place_axis(VantrelTask::kAxis, 1880 + 7);
    EXPECT_EQ(task_->get_current_pos(), 3);
    rotor_->place_axis(VantrelTask::kAxis, 1880 - 8);
    EXPECT_EQ(task_->get_current_pos(), -1);
    rotor_->place_axis(VantrelTask::kAxis, 203);  // park is tested first
    EXPECT_EQ(task_->get_current_pos(), 0);
}

TEST_F(VantrelTaskTest, NoReferenceOnEitherAttemptBacksOffOnceThenFails) {
    start_peers();
    rotor_->place_axis(VantrelTask::kAxis, 200);
    rotor_->set_reference_missing(VantrelTask::kAxis, true);
    const auto starts_before = rotor_->snapshot().calls[static_cast<int>(sim::Function::start)];
    EXPECT_EQ(run(VantrelParams::kRequestHome),
              (Lines{"begin homing operation", "begin homing operation", "home Failed"}));
    EXPECT_FALSE(task_->get_homed());
    // One start: the back-off move. The searches start themselves.
    EXPECT_EQ(rotor_->snapshot().calls[static_cast<int>(sim::Function::start)] - starts_before, 1u);
    const auto axis = rotor_->snapshot().axes[kRotorAxisIndex];
    EXPECT_EQ(axis.motion, sim::Motion::idle);  // halted at the end
}

TEST_F(VantrelTaskTest, SuccessfulRetryEndsTheHomingWithoutASecondClamp) {
    start_peers();
    rotor_->place_axis(VantrelTask::kAxis, 200);
    // Too far for the first 60 s of search at 4000 counts/s; the retry finds it.
    rotor_->set_reference_position(VantrelTask::kAxis, -300000.0);
    const std::int32_t gripper_before = gripper_counter();
    const Lines lines = run(VantrelParams::kRequestHome);
    EXPECT_EQ(lines, (Lines{"begin homing operation", "begin homing operation",
                            "going to position 1", "at position 1", "homing operation complete"}));
    EXPECT_TRUE(task_->get_homed());
    EXPECT_EQ(gripper_counter(), gripper_before + 1000);  // clamped once
}

TEST_F(VantrelTaskTest, KillSwitchDuringTheSearchEndsTheHoming) {
    start_peers();
    rotor_->place_axis(VantrelTask::kAxis, 200);
    SipperIF sipper("Sipper");
    ASSERT_TRUE(sipper.open());
    ASSERT_EQ(sipper.emergency(), 0);
    std::int32_t state = 0;
    ASSERT_EQ(sipper.get_inhibit_state(state), 0);
    ASSERT_EQ(state, 1);
    EXPECT_EQ(run(VantrelParams::kRequestHome),
              (Lines{"begin homing operation", "One of the kill switches has been tripped"}));
    EXPECT_FALSE(task_->get_homed());
    sipper.reset_error_state();
    home_first();
}

TEST_F(VantrelTaskTest, AnAbsentSipperNeverStopsAMotion) {
    {
        SipperIF sipper("Sipper");  // nobody serves it: every inhibit query times out fast
        ASSERT_TRUE(sipper.open());
        sipper.set_call_timeout(5);
        start_peers(false);
    }
    rotor_->place_axis(VantrelTask::kAxis, 1440);
    home_first();
    EXPECT_EQ(run(4).back(), "at position 4");
}

TEST_F(VantrelTaskTest, GripperHalvesTruncateTowardZero) {
    params_.set_gripper_stroke(1001);
    start_peers();
    const std::int32_t start = gripper_counter();
    run(VantrelParams::kRequestRelease);
    EXPECT_EQ(gripper_counter(), start - 1000);  // -500 twice
    run(VantrelParams::kRequestClamp);
    EXPECT_EQ(gripper_counter(), start + 1);  // +1001
}

TEST_F(VantrelTaskTest, UnknownRequestsRunNothingButHaltBothAxes) {
    start_peers();
    for (int request : {16, -1}) {
        const auto rotor_stops =
            rotor_->snapshot().calls[static_cast<int>(sim::Function::stop_motion)];
        const auto gripper_stops =
            gripper_->snapshot().calls[static_cast<int>(sim::Function::stop_motion)];
        EXPECT_TRUE(run(request).empty());
        EXPECT_EQ(rotor_->snapshot().calls[static_cast<int>(sim::Function::stop_motion)],
                  rotor_stops + 1);
        EXPECT_EQ(gripper_->snapshot().calls[static_cast<int>(sim::Function::stop_motion)],
                  gripper_stops + 1);
    }
}

TEST_F(VantrelTaskTest, StalledRotorFailsAfterItsLimit) {
    start_peers();
    home_first();
    rotor_->set_stalled(VantrelTask::kAxis, true);
    const Lines lines = run(2);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "goto_position ERROR, failed to reach target column");
}

TEST_F(VantrelTaskTest, BoardErrorsOfThePositionReadAreReportedAndReadAsNoPosition) {
    start_peers();
    rotor_->fail_calls(sim::Function::read_pos_rtn, 1, -70001);
    EXPECT_EQ(task_->get_current_pos(), -1);
    ComponentIF vantrel("Vantrel");
    vantrel.open();
    std::int32_t state = 0;
    vantrel.get_state(state);
    const Lines lines = peers_->task_lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back().rfind("get_current_pos ERROR : Pci7344::read_pos_rtn -- ", 0), 0u)
        << lines.back();
}

}  // namespace
