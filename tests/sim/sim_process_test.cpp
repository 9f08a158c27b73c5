// One simulated board seen by several processes, and the flexsim tool run as a person would.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "motion/flexmotion.h"
#include "sim/board.h"
#include "tests/support/child_process.h"
#include "tests/support/ipc_test.h"

using vantrel::sim::BoardHandle;
using vantrel::sim::Function;
using vantrel::test::ChildProcess;
using vantrel::test::helper_path;

namespace {

class SimProcessTest : public vantrel::test::IpcTest {
  protected:
    // Runs a program to its end; its output lines and exit code.
    struct Run {
        std::vector<std::string> lines;
        int exit_code;
    };
    Run run(const std::string& program, const std::vector<std::string>& args) {
        std::vector<std::string> argv{helper_path(program)};
        argv.insert(argv.end(), args.begin(), args.end());
        ChildProcess child(argv);
        Run result;
        while (auto line = child.read_line()) result.lines.push_back(*line);
        result.exit_code = child.wait();
        return result;
    }
    std::string output(const Run& r) {
        std::string all;
        for (const auto& line : r.lines) all += line + "\n";
        return all;
    }
};

TEST_F(SimProcessTest, VariablesOutliveTheProcessThatWroteThemWhileTheBoardIsHeld) {
    auto board = vantrel::sim::open_board(5);  // the board manager's part
    const Run writer = run("flex_child", {"write", "5", "117", "0x88000001"});
    ASSERT_EQ(writer.exit_code, 0);
    ASSERT_EQ(writer.lines, std::vector<std::string>{"0"});
    const Run reader = run("flex_child", {"read", "5", "117"});
    EXPECT_EQ(reader.lines,
              std::vector<std::string>{"0 " + std::to_string(static_cast<int>(0x88000001u))});
    // Without a holder the board is gone, and so is what it held.
    board.reset();
    EXPECT_EQ(run("flex_child", {"read", "5", "117"}).lines,
              std::vector<std::string>{std::to_string(FLEX_BOARD_NOT_PRESENT) + " 0"});
}

TEST_F(SimProcessTest, MoveStartedByOneProcessRunsOnForEveryone) {
    auto board = vantrel::sim::open_board(5);
    ASSERT_EQ(run("flex_child", {"move", "5", "2", "100"}).lines, std::vector<std::string>{"0"});
    // 100 counts at 1000 counts/s^2: about 0.63 s on the real clock.
    for (int i = 0; i < 100; ++i) {
        std::uint16_t done = 0;
        ASSERT_EQ(flex_check_move_complete_status(5, 2, 0, &done), 0);
        if (done) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    std::int32_t position = 0;
    ASSERT_EQ(flex_read_pos_rtn(5, 2, &position), 0);
    EXPECT_EQ(position, 100);
}

TEST_F(SimProcessTest, ToolShowsTheBoardAndSetsItsFaults) {
    auto board = vantrel::sim::open_board(7);
    board->place_axis(4, 1440);
    board->set_variable(117, static_cast<std::int32_t>(0x88000001u));
    Run shown = run("flexsim", {"show", "7"});
    ASSERT_EQ(shown.exit_code, 0) << output(shown);
    ASSERT_GE(shown.lines.size(), 6u);
    EXPECT_EQ(shown.lines[0], "board 7");
    EXPECT_NE(shown.lines[5].find(" 1440 "), std::string::npos) << shown.lines[5];  // axis 4
    EXPECT_NE(output(shown).find("117 = 0x88000001"), std::string::npos) << output(shown);

    EXPECT_EQ(run("flexsim", {"fail", "7", "start", "2", "-70003"}).exit_code, 0);
    EXPECT_EQ(run("flexsim", {"delay", "7", "flex_read_var_rtn", "5"}).exit_code, 0);
    EXPECT_EQ(run("flexsim", {"stale-read", "7"}).exit_code, 0);
    EXPECT_EQ(run("flexsim", {"no-reference", "7", "4", "on"}).exit_code, 0);
    EXPECT_EQ(run("flexsim", {"stall", "7", "3", "on"}).exit_code, 0);
    EXPECT_EQ(run("flexsim", {"reference", "7", "4", "-300"}).exit_code, 0);
    EXPECT_EQ(run("flexsim", {"revolution", "7", "4", "36000"}).exit_code, 0);
    EXPECT_EQ(run("flexsim", {"var", "7", "3", "-5"}).lines,
              std::vector<std::string>{"3 = 0xFFFFFFFB (-5)"});
    const auto s = board->snapshot();
    const int start = static_cast<int>(Function::start);
    EXPECT_EQ(s.faults[start].failures_left, 2);
    EXPECT_EQ(s.faults[start].status, -70003);
    EXPECT_EQ(s.faults[static_cast<int>(Function::read_var_rtn)].delay_ms, 5);
    EXPECT_TRUE(s.read_buffer_stale);
    EXPECT_TRUE(s.axes[3].reference_missing);
    EXPECT_TRUE(s.axes[2].stalled);
    EXPECT_EQ(s.axes[3].reference_position, -300.0);
    EXPECT_EQ(s.axes[3].counts_per_revolution, 36000);
    EXPECT_EQ(s.variables[3], -5);
    shown = run("flexsim", {"show", "7"});
    EXPECT_NE(output(shown).find("flex_start: next 2 call(s) fail with -70003"), std::string::npos)
        << output(shown);

    EXPECT_EQ(run("flexsim", {"clear", "7"}).exit_code, 0);
    const auto cleared = board->snapshot();
    EXPECT_EQ(cleared.faults[start].failures_left, 0);
    EXPECT_FALSE(cleared.read_buffer_stale);
    EXPECT_FALSE(cleared.axes[2].stalled);
    EXPECT_FALSE(cleared.axes[3].reference_missing);
}

TEST_F(SimProcessTest, ToolRefusesBadCommandsAndAbsentBoards) {
    auto board = vantrel::sim::open_board(7);
    EXPECT_EQ(run("flexsim", {}).exit_code, 2);
    EXPECT_EQ(run("flexsim", {"shwo", "7"}).exit_code, 2);
    EXPECT_EQ(run("flexsim", {"show", "256"}).exit_code, 2);
    EXPECT_EQ(run("flexsim", {"stall", "7", "5", "on"}).exit_code, 2);
    EXPECT_EQ(run("flexsim", {"stall", "7", "4", "yes"}).exit_code, 2);
    EXPECT_EQ(run("flexsim", {"fail", "7", "flex_launch", "1", "-1"}).exit_code, 2);
    EXPECT_EQ(run("flexsim", {"fail", "7", "start", "1", "0"}).exit_code, 2);
    EXPECT_EQ(run("flexsim", {"var", "7", "128"}).exit_code, 2);
    EXPECT_EQ(run("flexsim", {"var", "7", "1", "12x"}).exit_code, 2);
    EXPECT_EQ(run("flexsim", {"show", "8"}).exit_code, 1);  // nobody holds board 8
    EXPECT_EQ(run("flexsim", {"show", "8"}).exit_code, 1);  // and looking did not create it
    EXPECT_EQ(board->snapshot().faults[static_cast<int>(Function::start)].failures_left, 0);
}

TEST_F(SimProcessTest, ToolHoldsABoardAliveForOthers) {
    ChildProcess holder({helper_path("flexsim"), "hold", "11"});
    ASSERT_EQ(holder.read_line(), "holding board 11 (created); interrupt to let it go");
    EXPECT_EQ(run("flex_child", {"write", "11", "117", "7"}).lines, std::vector<std::string>{"0"});
    EXPECT_EQ(run("flex_child", {"read", "11", "117"}).lines, std::vector<std::string>{"0 7"});
    holder.kill9();
    EXPECT_EQ(flex_load_var(11, 1, 1), FLEX_BOARD_NOT_PRESENT);
}

}  // namespace
