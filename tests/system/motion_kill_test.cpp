// The vantrel process killed with SIGKILL during a motion (a homing or a move), then started
// again: it serves again, its statistics are what they were, the homed marker left on the
// simulated rotor board, not anything the dead process knew, decides whether the next move runs,
// and the gripper's state left on its board brings it back to its clamped place.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <utility>

#include "config/configuration_file.h"
#include "sim/board.h"
#include "tests/system/analyser.h"

using namespace vantrel;
using namespace std::chrono_literals;

namespace {

class MotionKillTest : public test::SystemTest {
  protected:
    void SetUp() override { analyser_ = std::make_unique<test::Analyser>(); }

    test::Analyser& a() { return *analyser_; }

    // After a restart: serving and READY, counts as before, `homed` as the marker says, and a move
    // that runs exactly when the marker says homed.
    void check_restart(int round, std::int32_t count) {
        ASSERT_TRUE(a().start_ready()) << a().read("vantrel.log");
        EXPECT_EQ(a().sample_count(2), count);
        ConfigurationFile stats;
        ASSERT_EQ(stats.load_config(a().path("columns.dat")), CONFIG_OK);
        std::int32_t stored = -1;
        EXPECT_TRUE(stats.get("COL2COUNT", stored));
        EXPECT_EQ(stored, count);

        const auto marker = a().rotor_variable(117);
        ASSERT_TRUE(marker.has_value());
        const bool marked = *marker == test::Analyser::kHomedMarker;
        EXPECT_EQ(a().homed(), marked) << std::hex << *marker;
        // The rotor of the dead process may still be finishing its move: the next request waits
        // for nothing but the task, so let the axis come to rest first.
        std::this_thread::sleep_for(300ms);
        const int target = 2 + round % 5;
        ASSERT_EQ(a().vantrel().set_current_column(target), kCallDone);
        std::this_thread::sleep_for(50ms);
        ASSERT_TRUE(a().wait_idle());
        if (marked) {
            EXPECT_EQ(a().current_column(), target);
            EXPECT_TRUE(a().task_logged("at position " + std::to_string(target)));
        } else {
            EXPECT_TRUE(a().task_logged("Can't goto position, not homed"));
            EXPECT_FALSE(a().logged("VantrelTask :going to position " + std::to_string(target)));
            // A homing makes the mechanism usable again.
            ASSERT_TRUE(a().home());
            ASSERT_TRUE(a().move_to(target));
        }
    }

    std::unique_ptr<test::Analyser> analyser_;
};

TEST_F(MotionKillTest, KilledDuringAMotionAndRestarted) {
    std::mt19937 rng(std::random_device{}());
    const int rounds = test::scaled(4, 40);
    ASSERT_TRUE(a().start_ready());
    ASSERT_TRUE(a().home());
    int marked = 0, unmarked = 0;
    for (int round = 0; round < rounds; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        const std::int32_t count = 100 + round;
        a().vantrel().set_sample_count(2, count);
        ASSERT_EQ(a().sample_count(2), count);
        const bool homing = rng() % 2 == 0;
        if (homing)
            ASSERT_EQ(a().vantrel().home(), kCallDone);
        else
            ASSERT_EQ(a().vantrel().set_current_column(1 + static_cast<int>(rng() % 6)), kCallDone);
        // A homing here takes about a second and a move about half of one.
        std::this_thread::sleep_for(std::chrono::milliseconds(rng() % (homing ? 1000 : 500)));
        a().kill_selector();
        const auto marker = a().rotor_variable(117);
        ASSERT_TRUE(marker.has_value());
        (*marker == test::Analyser::kHomedMarker ? marked : unmarked)++;
        ASSERT_NO_FATAL_FAILURE(check_restart(round, count));
    }
    std::printf("%d restarts: %d found the mechanism homed, %d not homed\n", rounds, marked,
                unmarked);
}

TEST_F(MotionKillTest, TheMarkerOnTheBoardDecidesAfterARestart) {
    ASSERT_TRUE(a().start_ready());
    ASSERT_TRUE(a().home());
    a().vantrel().set_sample_count(2, 7);
    ASSERT_EQ(a().sample_count(2), 7);
    ASSERT_EQ(a().vantrel().set_current_column(4), kCallDone);
    std::this_thread::sleep_for(150ms);
    a().kill_selector();
    {
        // Someone clears the marker while no selector runs (as a power cycle of the board would).
        sim::BoardHandle board(test::Analyser::kRotorBoard, platform::OpenMode::open_existing);
        board.set_variable(117, static_cast<std::int32_t>(0x88000000u));
    }
    ASSERT_NO_FATAL_FAILURE(check_restart(1, 7));
    a().kill_selector();
    {
        sim::BoardHandle board(test::Analyser::kRotorBoard, platform::OpenMode::open_existing);
        board.set_variable(117, test::Analyser::kHomedMarker);
    }
    ASSERT_NO_FATAL_FAILURE(check_restart(2, 7));
}

// Killed in each phase of a move from column 1 to column 6 and started again: the rotor stayed
// between the two columns (give or take the buzz), the counts are what they were, and after a
// homing the next move ends at its column with the gripper at its clamped place.
TEST_F(MotionKillTest, KilledInEachPhaseOfAMoveTheNextMoveEndsClamped) {
    // Slow motions for the move that is killed, so that each phase lasts long enough to be caught
    // from outside.
    std::string slow = a().read("vantrel.cfg");
    for (const auto& [from, to] : {std::pair{"VELOCITY = 20000;", "VELOCITY = 2000;"},
                                   std::pair{"ACCEL = 400000;", "ACCEL = 40000;"},
                                   std::pair{"BUZZDURATION = 0.1;", "BUZZDURATION = 0.5;"}})
        for (auto at = slow.find(from); at != std::string::npos; at = slow.find(from, at))
            slow.replace(at, std::strlen(from), to);
    a().write("slow.cfg", slow);
    ASSERT_TRUE(a().start_ready());
    ASSERT_TRUE(a().home());
    sim::BoardHandle rotor(test::Analyser::kRotorBoard, platform::OpenMode::open_existing);
    sim::BoardHandle gripper(test::Analyser::kGripperBoard, platform::OpenMode::open_existing);
    const auto axis = [](sim::BoardHandle& board) { return board.snapshot().axes[3]; };
    const auto starts = [](sim::BoardHandle& board) {
        return board.snapshot().calls[static_cast<int>(sim::Function::start)];
    };
    const double clamped = axis(gripper).position;
    constexpr int kStart = 1000, kTarget = 3200, kAmplitude = 20;

    const char* const phases[] = {"after the release", "during the buzz", "during the travel",
                                  "during the clamp"};
    for (int phase = 0; phase < 4; ++phase) {
        SCOPED_TRACE(phases[phase]);
        ASSERT_TRUE(a().move_to(1));
        const std::int32_t count = 200 + phase;
        a().vantrel().set_sample_count(2, count);
        std::int32_t loaded = -1;
        ASSERT_EQ(a().vantrel().load_config(a().path("slow.cfg"), loaded), kCallDone);
        ASSERT_EQ(loaded, 0);
        rotor.reset_travel(4);
        const auto gripper_starts = starts(gripper), rotor_starts = starts(rotor);
        ASSERT_EQ(a().vantrel().set_current_column(6), kCallDone);
        ASSERT_TRUE(test::eventually(
            [&] {
                const auto r = axis(rotor), g = axis(gripper);
                const auto gripper_moves = starts(gripper) - gripper_starts;
                const bool gripper_idle = g.motion == sim::Motion::idle;
                const auto travelled = sim::counter(r) - kStart;
                switch (phase) {
                    case 0:
                        return gripper_moves == 2 && gripper_idle && travelled < 200;
                    case 1:
                        return gripper_moves == 1 && starts(rotor) > rotor_starts;
                    case 2:
                        return r.target == kTarget && travelled > (kTarget - kStart) / 4;
                    default:
                        return gripper_moves == 3 && !gripper_idle;
                }
            },
            10000));
        a().kill_selector();
        // The dead process's last motion runs out.
        ASSERT_TRUE(test::eventually([&] {
            return axis(rotor).motion == sim::Motion::idle &&
                   axis(gripper).motion == sim::Motion::idle;
        }));
        const auto r = axis(rotor);
        EXPECT_GE(r.travel_low - r.counter_offset, kStart - kAmplitude);
        EXPECT_LE(r.travel_high - r.counter_offset, kTarget + kAmplitude);

        ASSERT_TRUE(a().start_ready()) << a().read("vantrel.log");
        EXPECT_EQ(a().sample_count(2), count);
        ASSERT_TRUE(a().home());
        ASSERT_TRUE(a().move_to(3));
        EXPECT_EQ(axis(gripper).position, clamped);
    }
}

}  // namespace
