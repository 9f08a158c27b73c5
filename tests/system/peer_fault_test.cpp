// Peers of the selector absent from the start or killed on the way: the log server, the
// supervisor, the sipper and the board managers. The selector must neither hang nor crash, its
// calls to the peer must end with the peer interface's call time-out, and a missing sipper must
// not stop a motion. The peers' interfaces carry a short time-out, as an installation would set.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>

#include "tests/system/analyser.h"

using namespace vantrel;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

class PeerFaultTest : public test::SystemTest {
  protected:
    // The selector answers a call at once (its main loop is not stuck in a call to a peer).
    static void answers_at_once(VantrelIF& v) {
        const auto t0 = Clock::now();
        std::int32_t state = -1;
        EXPECT_EQ(v.get_state(state), kCallDone);
        EXPECT_LT(Clock::now() - t0, 1000ms);
    }
    // A one-way log call, waiting while the selector's own queue is full.
    static void log(VantrelIF& v, const std::string& text) {
        int rc;
        while ((rc = v.log_msg(text, 0)) == kCallQueueFull) std::this_thread::sleep_for(1ms);
        EXPECT_EQ(rc, kCallDone);
    }
};

TEST_F(PeerFaultTest, AbsentLogServerAndSupervisorNeitherBlockNorStopTheSelector) {
    test::Analyser a({.log_server = false, .supervisor = false});
    ASSERT_TRUE(a.start_ready());
    ASSERT_TRUE(a.home());
    ASSERT_TRUE(a.move_to(3));
    // Far more log lines than the absent log server's queue holds (about 240 of them): the
    // forwarding fails once the queue is full and the selector goes on.
    for (int i = 0; i < 400; ++i) log(a.vantrel(), "line " + std::to_string(i));
    answers_at_once(a.vantrel());
    EXPECT_TRUE(a.logged("line 399"));
    ASSERT_TRUE(a.move_to(5));

    // A log server that comes later gets what is logged from then on.
    a.start_peer(test::Analyser::kLogServer);
    a.vantrel().log_msg("after the log server came", 0);
    answers_at_once(a.vantrel());
    EXPECT_TRUE(test::eventually(
        [&] {
            return a.read("logserver.log").find("after the log server came") != std::string::npos;
        },
        5000));
    EXPECT_EQ(a.stop_selector(), 0);
}

TEST_F(PeerFaultTest, LogServerKilledWhileTheSelectorWorks) {
    test::Analyser a;
    ASSERT_TRUE(a.start_ready());
    ASSERT_TRUE(a.home());
    ASSERT_EQ(a.vantrel().set_current_column(4), kCallDone);
    a.kill_peer(test::Analyser::kLogServer);
    ASSERT_TRUE(a.wait_idle());
    EXPECT_EQ(a.current_column(), 4);
    for (int i = 0; i < 300; ++i) log(a.vantrel(), "line " + std::to_string(i));
    answers_at_once(a.vantrel());
    ASSERT_TRUE(a.move_to(2));
    EXPECT_EQ(a.stop_selector(), 0);
}

TEST_F(PeerFaultTest, AbsentSipperDoesNotStopMotions) {
    test::Analyser a({.sipper = false, .peer_call_timeout_ms = 100});
    ASSERT_TRUE(a.start_ready());
    ASSERT_TRUE(a.home());
    ASSERT_TRUE(a.move_to(3));
    ASSERT_TRUE(a.move_to(0));
    EXPECT_FALSE(a.logged("kill switches"));
    EXPECT_FALSE(a.logged("failed to reach"));
    answers_at_once(a.vantrel());
}

TEST_F(PeerFaultTest, SipperKilledDuringAMoveDoesNotStopIt) {
    test::Analyser a({.peer_call_timeout_ms = 100});
    ASSERT_TRUE(a.start_ready());
    ASSERT_TRUE(a.home());
    ASSERT_EQ(a.vantrel().set_current_column(6), kCallDone);
    std::this_thread::sleep_for(100ms);
    a.kill_peer(test::Analyser::kSipper);
    ASSERT_TRUE(a.wait_idle());
    EXPECT_EQ(a.current_column(), 6);
    EXPECT_TRUE(a.task_logged("at position 6"));
    ASSERT_TRUE(a.move_to(1));
    EXPECT_FALSE(a.logged("kill switches"));
}

TEST_F(PeerFaultTest, ATrippedSipperDoesStopAMove) {
    // The control of the two tests above: the sipper is asked, and its answer counts.
    test::Analyser a;
    ASSERT_TRUE(a.start_ready());
    ASSERT_TRUE(a.home());
    ASSERT_EQ(a.sipper().emergency(), kCallDone);
    ASSERT_EQ(a.vantrel().set_current_column(5), kCallDone);
    std::this_thread::sleep_for(50ms);
    ASSERT_TRUE(a.wait_idle());
    EXPECT_TRUE(a.task_logged("One of the kill switches has been tripped"));
    EXPECT_NE(a.current_column(), 5);
    ASSERT_EQ(a.sipper().reset_error_state(), kCallDone);
    ASSERT_TRUE(a.move_to(5));
}

TEST_F(PeerFaultTest, AbsentBoardManagersFailTheInitialisationAfterTheCallTimeOut) {
    constexpr int kTimeoutMs = 700;
    test::Analyser a({.board_managers = false, .peer_call_timeout_ms = kTimeoutMs});
    a.start_selector();
    ASSERT_TRUE(a.wait_state(0));
    const auto t0 = Clock::now();
    ASSERT_EQ(a.vantrel().reset(), kCallDone);
    ASSERT_TRUE(a.wait_state(3));  // INIT_FAILED
    const auto waited = Clock::now() - t0;
    // The "get_ID" call waited out its time-out once, and nothing waited longer.
    EXPECT_GE(waited, std::chrono::milliseconds(kTimeoutMs));
    EXPECT_LT(waited, std::chrono::milliseconds(kTimeoutMs + 5000));
    EXPECT_TRUE(a.logged("initialize_ failed: VantrelTask: Failed to get linear mc board id"));
    answers_at_once(a.vantrel());
    bool busy = true, homed = true;
    EXPECT_EQ(a.vantrel().is_busy(busy), kCallDone);
    EXPECT_FALSE(busy);
    EXPECT_EQ(a.vantrel().homed(homed), kCallDone);
    EXPECT_FALSE(homed);
    EXPECT_EQ(a.current_column(), -1);
    a.vantrel().set_current_column(2);  // no task: nothing happens
    a.vantrel().home();
    answers_at_once(a.vantrel());

    // Once the managers are there, a reset initialises the selector.
    a.start_peer(test::Analyser::kRotary);
    a.start_peer(test::Analyser::kLinear);
    ASSERT_EQ(a.vantrel().reset(), kCallDone);
    ASSERT_TRUE(a.wait_state(1));
    ASSERT_TRUE(a.home());
    EXPECT_EQ(a.stop_selector(), 0);
}

TEST_F(PeerFaultTest, RotaryBoardManagerKilledDuringAMove) {
    // The manager keeps the simulated rotor board alive: killing it takes the board away.
    test::Analyser a;
    ASSERT_TRUE(a.start_ready());
    ASSERT_TRUE(a.home());
    ASSERT_EQ(a.vantrel().set_current_column(5), kCallDone);
    std::this_thread::sleep_for(100ms);
    a.kill_peer(test::Analyser::kRotary);
    ASSERT_TRUE(a.wait_idle());
    answers_at_once(a.vantrel());
    std::int32_t position = -1;
    EXPECT_EQ(a.vantrel().get_rotor_position(position), kCallDone);
    EXPECT_EQ(position, 0);  // a failed board read answers 0 and is logged
    EXPECT_TRUE(a.logged("Vantrel::get_rotor_position Pci7344::read_pos_rtn -- Board not present"));
    EXPECT_EQ(a.current_column(), -1);
    EXPECT_FALSE(a.homed());

    // A new manager brings a new board, not homed: moves are refused until a homing.
    a.start_peer(test::Analyser::kRotary);
    ASSERT_EQ(a.vantrel().reset(), kCallDone);
    ASSERT_TRUE(a.wait_state(1));
    EXPECT_FALSE(a.homed());
    ASSERT_EQ(a.vantrel().set_current_column(2), kCallDone);
    std::this_thread::sleep_for(50ms);
    ASSERT_TRUE(a.wait_idle());
    EXPECT_TRUE(a.task_logged("Can't goto position, not homed"));
    ASSERT_TRUE(a.home());
    ASSERT_TRUE(a.move_to(2));
    EXPECT_EQ(a.stop_selector(), 0);
}

TEST_F(PeerFaultTest, BoardManagerKilledBetweenMotionsFailsTheNextOneCleanly) {
    test::Analyser a;
    ASSERT_TRUE(a.start_ready());
    ASSERT_TRUE(a.home());
    a.kill_peer(test::Analyser::kLinear);
    ASSERT_EQ(a.vantrel().set_current_column(3), kCallDone);
    std::this_thread::sleep_for(50ms);
    ASSERT_TRUE(a.wait_idle());
    answers_at_once(a.vantrel());
    // The gripper board is gone: the move stops at its first gripper call (the read of the
    // gripper's state), with the board's error.
    EXPECT_TRUE(a.task_logged("Pci7344::read_var_rtn -- Board not present"));
    EXPECT_FALSE(a.logged("VantrelTask :at position 3"));
    // A reset now waits out the "get_ID" call of "LinearMC" and fails; the selector lives on.
    ASSERT_EQ(a.vantrel().reset(), kCallDone);
    ASSERT_TRUE(a.wait_state(3));
    EXPECT_TRUE(a.logged("initialize_ failed: VantrelTask: Failed to get linear mc board id"));
    answers_at_once(a.vantrel());
    EXPECT_EQ(a.stop_selector(), 0);
}

TEST_F(PeerFaultTest, StoppedSipperHoldsNoMoveBeyondItsLimits) {
    // The call time-out of a fresh segment: each poll of a hung sipper would wait 20 s on it.
    test::Analyser a({.peer_call_timeout_ms = 20000});
    ASSERT_TRUE(a.start_ready());
    ASSERT_TRUE(a.home());
    const pid_t sipper = a.peer(test::Analyser::kSipper)->pid();
    ASSERT_EQ(::kill(sipper, SIGSTOP), 0);
    const auto t0 = Clock::now();
    ASSERT_TRUE(a.move_to(4));
    ASSERT_TRUE(a.move_to(2));
    EXPECT_LT(Clock::now() - t0, 10s);
    EXPECT_FALSE(a.logged("failed to reach"));
    // Each request logs its first unanswered poll, once.
    const std::string log = a.read("vantrel.log");
    const std::string unanswered =
        "<Vantrel>: VantrelTask :kill switch poll not answered by Sipper";
    int logged = 0;
    for (auto at = log.find(unanswered); at != std::string::npos; at = log.find(unanswered, at + 1))
        ++logged;
    EXPECT_EQ(logged, 2);
    ASSERT_EQ(::kill(sipper, SIGCONT), 0);
    EXPECT_EQ(a.stop_selector(), 0);
}

}  // namespace
