// The vantrel program started where another user planted files under its interface's object names:
// it does not start, says why on standard error and in its log, ends with status 0 (as every
// start does), and leaves the planted files as they were and nothing of its own behind.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>

#include "platform/object_name.h"
#include "tests/support/other_user.h"
#include "tests/system/analyser.h"

using namespace vantrel;
namespace fs = std::filesystem;

namespace {

class SquattedObjectsTest : public test::SystemTest {
  protected:
    void SetUp() override {
        if (!test::can_act_as_other_user()) GTEST_SKIP() << "needs root to act as another user";
    }
    // The object files of this scope whose names hold `interface`.
    static std::vector<std::string> files_of(const std::string& interface) {
        const std::string prefix = "vantrel." + platform::encode_name(platform::ipc_scope()) + ".";
        std::vector<std::string> found;
        for (const auto& entry : fs::directory_iterator(platform::kObjectDirectory)) {
            const std::string name = entry.path().filename().string();
            if (name.rfind(prefix, 0) == 0 && name.find(interface) != std::string::npos)
                found.push_back(entry.path().string());
        }
        return found;
    }

    test::Analyser a_{{.log_server = false,
                       .supervisor = false,
                       .sipper = false,
                       .board_managers = false,
                       .device_present = 0}};
};

TEST_F(SquattedObjectsTest, TheSelectorDoesNotStartOnAnotherUsersObjectFiles) {
    struct Case {
        platform::ObjectKind kind;
        const char* object;
        std::string script;  // run as nobody, $1 the object's path
        const char* says;
    };
    const std::string victim = a_.path("victim");
    const Case cases[] = {
        {platform::ObjectKind::shared_memory, "Squatted_properties",
         "printf squatter > \"$1\" && chmod 666 \"$1\"",
         " is a regular file, owner nobody (uid 65534), mode 0666"},
        {platform::ObjectKind::shared_memory, "Squatted_cmdQ", "mkfifo -m 666 \"$1\"",
         " is a FIFO, owner nobody (uid 65534)"},
        {platform::ObjectKind::mutex, "Squatted_action_mutex", "ln -s " + victim + " \"$1\"",
         " is a symbolic link, owner nobody"},
    };
    a_.write("victim", "precious");
    for (const Case& c : cases) {
        const std::string path =
            std::string(platform::kObjectDirectory) + "/" +
            platform::object_file_name(platform::ipc_scope(), c.kind, c.object);
        SCOPED_TRACE(path);
        ASSERT_EQ(test::shell_as_nobody(c.script, path), 0);
        const auto planted = test::FileSnapshot::of(path);

        const auto start = std::chrono::steady_clock::now();
        test::ChildProcess selector({"/bin/sh", "-c", "exec \"$0\" \"$@\" 2>&1",
                                     test::helper_path("vantrel"), "Squatted",
                                     a_.path("squatted.log"), a_.path("vantrel.cfg")});
        std::string output;
        while (auto line = selector.read_line(15000)) output += *line + "\n";
        EXPECT_EQ(selector.wait(), 0);
        // It ends by itself, promptly: no serving of nothing at full speed.
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));

        const std::string cause = "can't serve Squatted: ";
        EXPECT_NE(output.find(cause), std::string::npos) << output;
        EXPECT_NE(output.find(path + c.says), std::string::npos) << output;
        const std::string log = a_.read("squatted.log");
        EXPECT_NE(log.find(cause), std::string::npos) << log;
        EXPECT_NE(log.find(path + c.says), std::string::npos) << log;

        EXPECT_TRUE(test::FileSnapshot::of(path) == planted);
        ::unlink(path.c_str());
        EXPECT_EQ(files_of("Squatted"), std::vector<std::string>{}) << "objects left behind";
    }
    EXPECT_EQ(a_.read("victim"), "precious");
}

}  // namespace
