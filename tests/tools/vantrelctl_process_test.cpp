// vantrelctl run as a user runs it, where nothing serves the selector: every way a call can fail
// must end with a clear line and the right exit status, and wrong input with the usage.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "interface/clients.h"
#include "platform/object_name.h"
#include "tests/support/child_process.h"
#include "tests/support/ipc_test.h"
#include "tests/tools/tool_runner.h"

using namespace vantrel;
using test::run_tool;

namespace {

class VantrelctlAlone : public test::IpcTest {};

bool has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

TEST_F(VantrelctlAlone, NoComponentRunningFailsAtOnceAndSaysSo) {
    auto run = run_tool("vantrelctl", {"--timeout", "200", "get_state"});
    EXPECT_EQ(run.status, 4) << run.output;
    EXPECT_TRUE(has(run.output, "nothing serves \"Vantrel\"")) << run.output;
    EXPECT_TRUE(has(run.output, "not running")) << run.output;

    // A one-way call must not look done when nobody is there to take it.
    run = run_tool("vantrelctl", {"home"});
    EXPECT_EQ(run.status, 4) << run.output;
    EXPECT_FALSE(has(run.output, "sent")) << run.output;

    run = run_tool("vantrelctl", {"--json", "--interface", "Sipper", "emergency"});
    EXPECT_EQ(run.status, 4) << run.output;
    EXPECT_TRUE(has(run.output, "{\"interface\":\"Sipper\",\"operation\":\"emergency\","))
        << run.output;
    EXPECT_TRUE(has(run.output, "\"result\":4,\"error\":")) << run.output;

    run = run_tool("vantrelctl", {"status"});
    EXPECT_EQ(run.status, 4) << run.output;
    run = run_tool("vantrelctl", {"home", "--wait"});
    EXPECT_EQ(run.status, 4) << run.output;
}

TEST_F(VantrelctlAlone, AnInterfaceHeldButNotServedTimesOutAndKeepsItsTimeOut) {
    VantrelIF holder("Vantrel");  // a client, no server
    ASSERT_TRUE(holder.open());
    holder.set_call_timeout(4000);
    auto run = run_tool("vantrelctl", {"--timeout", "200", "get_capacity"});
    EXPECT_EQ(run.status, 4) << run.output;
    EXPECT_TRUE(has(run.output,
                    "nothing answered on \"Vantrel\" within 200 ms; the component may "
                    "not be running"))
        << run.output;
    EXPECT_EQ(holder.call_timeout(), 4000);  // the shared time-out is never written

    // Many callers with time-outs of their own, half of them killed in the middle of their wait:
    // each of the others ends within its limit (4: nobody answered; 2: another caller held the
    // interface all along), and none leaves its value behind for the interface's other users.
    std::vector<std::unique_ptr<test::ChildProcess>> callers;
    for (int i = 0; i < 20; ++i)
        callers.push_back(std::make_unique<test::ChildProcess>(test::tool_command(
            "vantrelctl", {"--timeout", std::to_string(300 + 50 * i), "get_capacity"})));
    const auto started = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    for (int i = 0; i < 20; i += 2) callers[i]->kill9();
    for (int i = 1; i < 20; i += 2) {
        const int status = callers[i]->wait();
        EXPECT_TRUE(status == 4 || status == 2) << "caller " << i << " ended with " << status;
    }
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
    EXPECT_EQ(holder.call_timeout(), 4000);

    // A selector's interface asked for a board manager's operation: code 12 would mean
    // device_present there, so the call is refused instead of answered wrongly.
    run = run_tool("vantrelctl", {"--interface", "Vantrel", "get_ID"});
    EXPECT_EQ(run.status, 6) << run.output;
    EXPECT_TRUE(has(run.output, "\"Vantrel\" does not belong to one")) << run.output;
}

TEST_F(VantrelctlAlone, AGateHeldByAStuckProcessEndsTheRunWithinItsTimeOut) {
    VantrelIF holder("Vantrel");
    ASSERT_TRUE(holder.open());
    const std::string path =
        std::string(platform::kObjectDirectory) + "/" +
        platform::object_file_name(platform::ipc_scope(), platform::ObjectKind::shared_memory,
                                   "Vantrel_properties");
    test::ChildProcess stuck({test::helper_path("object_child"), "gate", path});
    ASSERT_EQ(stuck.read_line(), "held");

    const auto start = std::chrono::steady_clock::now();
    const auto run = run_tool("vantrelctl", {"--timeout", "1000", "get_state"});
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(run.status, 6) << run.output;
    // The limit it names is what was left of the time-out when this object's turn came.
    EXPECT_TRUE(has(run.output, path + ": another process held its gate for more than "))
        << run.output;
    EXPECT_LT(took, std::chrono::milliseconds(1000 + 500));
}

TEST_F(VantrelctlAlone, WrongOperationsAndArgumentsGetTheUsage) {
    auto run = run_tool("vantrelctl", {"frob"});
    EXPECT_EQ(run.status, 64);
    EXPECT_TRUE(has(run.output, "no operation \"frob\"")) << run.output;
    for (const char* listed : {"set_current_column COLUMN", "set_pres_limits P1 P3", "get_ID",
                               "get_inhibit_state", "load_config FILE"})
        EXPECT_TRUE(has(run.output, listed)) << listed << "\n" << run.output;

    struct Case {
        std::vector<std::string> args;
        const char* says;
    };
    const Case cases[] = {
        {{"set_current_column", "three"}, "COLUMN must be an integer, not \"three\""},
        {{"set_current_column"}, "takes 1 argument: COLUMN (an integer); 0 given"},
        {{"set_pres_limits", "1"}, "takes 2 arguments"},
        {{"get_ID"}, "--interface RotaryMC get_ID"},
        {{"emergency"}, "--interface Sipper emergency"},
        {{"status", "now"}, "takes no argument"},
        {{"get_state", "--wait"}, "--wait belongs to home and set_current_column"},
        {{"set_current_column", "2", "--timeout", "5"}, "the call time-out goes before"},
        {{"--timeout", "0", "get_state"}, "--timeout must be a whole number from 1"},
        {{"--bogus", "get_state"}, "unknown option \"--bogus\""},
        {{}, "no operation given"},
    };
    for (const Case& c : cases) {
        run = run_tool("vantrelctl", c.args);
        EXPECT_EQ(run.status, 64) << c.says << "\n" << run.output;
        EXPECT_TRUE(has(run.output, c.says)) << c.says << "\n" << run.output;
        EXPECT_TRUE(has(run.output, "usage: vantrelctl")) << run.output;
    }
    run = run_tool("vantrelctl", {"--help"});
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(has(run.output, "Exit status")) << run.output;
}

}  // namespace
