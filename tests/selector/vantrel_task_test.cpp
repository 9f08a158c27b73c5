// The motion task against simulated boards on the virtual clock: its sequences as ordered log
// lines, its limits, the kill switch, the homed marker, and faults in every phase of a move.
#include "selector/vantrel_task.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
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

// The virtual clock, and a stop of the whole process on demand: the next sleep of any thread
// (only the task sleeps here) lasts that much longer, as if the process had been stopped in it.
class StoppableClock final : public platform::Clock {
  public:
    std::int64_t now_ns() override { return clock_.now_ns(); }
    void sleep_ms(long ms) override { clock_.sleep_ms(ms > 0 ? ms + pause_ms_.exchange(0) : ms); }
    void stop_next_sleep(long ms) { pause_ms_ = ms; }

  private:
    platform::VirtualClock clock_;
    std::atomic<long> pause_ms_{0};
};

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
    // The gripper's physical place: the task may set its counter.
    double gripper_place() { return gripper_->snapshot().axes[kRotorAxisIndex].position; }
    void home_first() {
        const Lines lines = run(VantrelParams::kRequestHome);
        ASSERT_FALSE(lines.empty());
        ASSERT_EQ(lines.back(), "homing operation complete");
    }

    vantrel::test::TempDir temp_;
    const std::string dir_ = temp_.path();
    StoppableClock clock_;
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
    const double clamped = gripper_place();
    // To the park position: released (with the buzz), not clamped afterwards.
    EXPECT_EQ(run(0), (Lines{"going to position 0", "Buzzzzz ", "Buzzzzz done", "target pos = 200",
                             "at position 0"}));
    EXPECT_EQ(task_->get_current_pos(), 0);
    EXPECT_EQ(gripper_place(), clamped - 1000);
    // From park to a column: nothing to release, clamped at the end.
    EXPECT_EQ(run(6), (Lines{"going to position 6", "target pos = 3200", "at position 6"}));
    EXPECT_EQ(gripper_place(), clamped);
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
    const double gripper_before = gripper_place();
    const Lines lines = run(VantrelParams::kRequestHome);
    EXPECT_EQ(lines, (Lines{"begin homing operation", "begin homing operation",
                            "going to position 1", "at position 1", "homing operation complete"}));
    EXPECT_TRUE(task_->get_homed());
    EXPECT_EQ(gripper_place(), gripper_before + 1000);  // clamped once
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
    const double start = gripper_place();
    run(VantrelParams::kRequestRelease);
    EXPECT_EQ(gripper_place(), start - 1000);  // -500 twice
    // Released and clamped once each, however often asked: the clamp ends where the release began.
    run(VantrelParams::kRequestRelease);
    EXPECT_EQ(gripper_place(), start - 1000);
    run(VantrelParams::kRequestClamp);
    run(VantrelParams::kRequestClamp);
    EXPECT_EQ(gripper_place(), start);
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

// A fault in each phase of a move from column 1 to column 6, then the recovery (faults cleared),
// a homing and a move. Whatever failed, the rotor stayed between its start and target (give or
// take the buzz), and the next move ends at its column with the gripper at its clamped place.
TEST_F(VantrelTaskTest, FaultInAnyPhaseOfAMoveLeavesNothingTheNextMoveCannotMend) {
    enum class Phase { after_release, during_buzz, during_travel, during_clamp };
    enum class Fault { kill_switch, stale_read, stale_reads, stalled_axis, process_stopped };
    const Phase phases[] = {Phase::after_release, Phase::during_buzz, Phase::during_travel,
                            Phase::during_clamp};
    const Fault faults[] = {Fault::kill_switch, Fault::stale_read, Fault::stale_reads,
                            Fault::stalled_axis, Fault::process_stopped};
    const char* const phase_names[] = {"after the release", "during the buzz", "during the travel",
                                       "during the clamp"};
    const char* const fault_names[] = {"kill switch", "stale read", "stale reads", "stalled axis",
                                       "process stopped"};
    constexpr int kStart = 1000, kTarget = 3200, kAmplitude = 20;
    const auto starts = [](sim::BoardHandle& board) {
        return board.snapshot().calls[static_cast<int>(sim::Function::start)];
    };

    start_peers();
    sim::Sipper& sipper = *peers_->sipper();
    SipperIF switch_client("Sipper");
    ASSERT_TRUE(switch_client.open());
    home_first();
    const double clamped = gripper_place();
    for (const Phase phase : phases) {
        for (const Fault fault : faults) {
            SCOPED_TRACE(std::string(fault_names[static_cast<int>(fault)]) + " " +
                         phase_names[static_cast<int>(phase)]);
            ASSERT_EQ(run(1).back(), "at position 1");
            rotor_->reset_travel(VantrelTask::kAxis);
            const auto gripper_starts = starts(*gripper_);
            // The phase, as the boards show it at a kill-switch poll (the task waits meanwhile).
            const auto in_phase = [&] {
                const auto r = rotor_->snapshot(), g = gripper_->snapshot();
                const auto gripper_moves =
                    g.calls[static_cast<int>(sim::Function::start)] - gripper_starts;
                const auto& rotor = r.axes[kRotorAxisIndex];
                const bool travelling =
                    rotor.target == kTarget && rotor.motion != sim::Motion::idle;
                switch (phase) {
                    case Phase::after_release:
                        return travelling;
                    case Phase::during_buzz:
                        return gripper_moves == 1 &&
                               g.axes[kRotorAxisIndex].motion == sim::Motion::idle;
                    case Phase::during_travel:
                        return travelling && sim::counter(rotor) > kStart + (kTarget - kStart) / 4;
                    case Phase::during_clamp:
                        return gripper_moves == 3;
                }
                return false;
            };
            bool injected = false, trip_next = false;
            sipper.on_poll([&] {
                if (trip_next) sipper.set_inhibit_state(1);
                if (injected || !in_phase()) return;
                injected = true;
                switch (fault) {
                    case Fault::kill_switch:
                        trip_next = true;  // from the next poll on, inside the phase
                        break;
                    case Fault::stale_read:
                        rotor_->set_read_buffer_stale(true);
                        gripper_->set_read_buffer_stale(true);
                        break;
                    case Fault::stale_reads:
                        rotor_->fail_calls(sim::Function::read_pos_rtn, 10, -70025);
                        gripper_->fail_calls(sim::Function::read_pos_rtn, 10, -70025);
                        break;
                    case Fault::stalled_axis:
                        (phase == Phase::during_clamp ? gripper_ : rotor_)
                            ->set_stalled(VantrelTask::kAxis, true);
                        break;
                    case Fault::process_stopped:
                        clock_.stop_next_sleep(25000);  // longer than any limit of the task
                        break;
                }
            });
            const Lines lines = run(6);
            sipper.on_poll(nullptr);
            ASSERT_TRUE(injected);
            ASSERT_FALSE(lines.empty());
            if (fault == Fault::kill_switch) {
                EXPECT_EQ(lines.back(), "One of the kill switches has been tripped");
            } else if (fault == Fault::stalled_axis) {
                EXPECT_EQ(lines.back(),
                          phase == Phase::during_clamp
                              ? "goto_position ERROR, failed to reach target gripper pos"
                              : "goto_position ERROR, failed to reach target column");
            } else if (fault != Fault::stale_reads) {
                EXPECT_EQ(lines.back(), "at position 6");
            }
            const auto rotor = rotor_->snapshot().axes[kRotorAxisIndex];
            EXPECT_GE(rotor.travel_low - rotor.counter_offset, kStart - kAmplitude);
            EXPECT_LE(rotor.travel_high - rotor.counter_offset, kTarget + kAmplitude);

            rotor_->clear_faults();
            gripper_->clear_faults();
            ASSERT_EQ(switch_client.reset_error_state(), kCallDone);  // served before any poll
            home_first();
            ASSERT_EQ(run(3).back(), "at position 3");
            EXPECT_EQ(task_->get_current_pos(), 3);
            EXPECT_EQ(gripper_place(), clamped);
        }
    }
}

}  // namespace
