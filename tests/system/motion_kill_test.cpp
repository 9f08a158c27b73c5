// The vantrel process killed with SIGKILL during a motion (a homing or a move), then started
// again: it serves again, its statistics are what they were, and the homed marker left on the
// simulated rotor board, not anything the dead process knew, decides whether the next move runs.
#include <gtest/gtest.h>

#include <random>

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
            EXPECT_TRUE(a().logged("VantrelTask :at position " + std::to_string(target)));
        } else {
            EXPECT_TRUE(a().logged("VantrelTask :Can't goto position, not homed"));
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

}  // namespace
