// Hostile interface names and command lines given to the vantrel program: quotes, slashes, dots,
// percent signs, very long names. Each is refused with its report or served in a namespace of
// its own, and never reaches another object or file.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/object_name.h"
#include "tests/system/analyser.h"

using namespace vantrel;
namespace fs = std::filesystem;

namespace {

class HostileNamesTest : public test::SystemTest {
  protected:
    HostileNamesTest()
        : a_({.log_server = false,
              .supervisor = false,
              .sipper = false,
              .board_managers = false,
              .device_present = 0}) {}

    // The named objects an interface of this name is made of, as files of this test's scope.
    static std::vector<std::string> object_files(const std::string& name) {
        using platform::ObjectKind;
        const std::string scope = platform::ipc_scope();
        std::vector<std::string> files;
        for (const char* s : {"_properties", "_cmdQ"})
            files.push_back(platform::object_file_name(scope, ObjectKind::shared_memory, name + s));
        for (const char* s : {"_propertiesmutex", "_cmdQmutex", "_action_mutex"})
            files.push_back(platform::object_file_name(scope, ObjectKind::mutex, name + s));
        for (const char* s : {"_action_start_signal", "_action_done_signal", "unique"})
            files.push_back(platform::object_file_name(scope, ObjectKind::semaphore, name + s));
        return files;
    }
    static bool exists_in_shm(const std::string& file) {
        return fs::exists(fs::path(platform::kObjectDirectory) / file);
    }

    // Starts the selector under `name`, and checks that it serves there and only there.
    std::unique_ptr<test::ChildProcess> serve(const std::string& name, const std::string& tag) {
        auto p = std::make_unique<test::ChildProcess>(std::vector<std::string>{
            test::helper_path("vantrel"), name, a_.path(tag + ".log"), a_.path("vantrel.cfg")});
        VantrelIF v(name);
        EXPECT_TRUE(v.open()) << v.open_error();
        v.set_call_timeout(5000);
        EXPECT_TRUE(test::eventually([&] {
            std::int32_t state = -1;
            return v.get_state(state) == kCallDone && state == 0;
        }));
        std::string answer;
        EXPECT_EQ(v.get_name(answer), kCallDone);
        EXPECT_EQ(answer, name.substr(0, 4095));
        for (const auto& file : object_files(name)) EXPECT_TRUE(exists_in_shm(file)) << file;
        return p;
    }
    static void stop(const std::string& name, test::ChildProcess& p) {
        VantrelIF v(name);
        ASSERT_TRUE(v.open());
        EXPECT_EQ(v.kill(), kCallDone);
        EXPECT_EQ(p.wait(), 0);
    }

    test::Analyser a_;
};

TEST_F(HostileNamesTest, NamesWithSlashesDotsAndPercentSignsAreServedUnderThemselves) {
    const std::vector<std::string> names = {
        "../../../.." + a_.dir() + "/escape",  // a path that would lead into the test directory
        "/dev/shm/vantrel.default.shm.Vantrel_properties",
        "a/b\\c%2Fd",
        "%2F",
        "/",
        "\xc3\xbcn\xc3\xaf\xc3\xa7\xc3\xb8\x64\xc3\xa9",
        "tab\there",
    };
    // All at once: none of them sees another's objects.
    std::vector<std::unique_ptr<test::ChildProcess>> running;
    for (std::size_t i = 0; i < names.size(); ++i) {
        SCOPED_TRACE(names[i]);
        running.push_back(serve(names[i], "n" + std::to_string(i)));
    }
    for (std::size_t i = 0; i < names.size(); ++i) {
        SCOPED_TRACE(names[i]);
        VantrelIF v(names[i]);
        ASSERT_TRUE(v.open());
        std::string answer;
        ASSERT_EQ(v.get_name(answer), kCallDone);
        EXPECT_EQ(answer, names[i]);
        stop(names[i], *running[i]);
    }
    // Nothing reached the place the first name points at: the directory holds the configurations
    // and the logs, nothing else.
    for (const auto& entry : fs::directory_iterator(a_.dir())) {
        const std::string ext = entry.path().extension().string();
        EXPECT_TRUE(entry.is_regular_file() && (ext == ".cfg" || ext == ".log")) << entry.path();
    }
    EXPECT_FALSE(fs::exists(a_.path("escape")));
}

TEST_F(HostileNamesTest, VeryLongNamesSharingAPrefixAreTwoInterfaces) {
    const std::string prefix(300, 'L');
    const std::string first = prefix + "1", second = prefix + "2";
    const std::string longest(5000, 'x');  // beyond a text field: its name comes back cut
    auto p1 = serve(first, "first");
    auto p2 = serve(second, "second");
    auto p3 = serve(longest, "longest");
    // Their object files are distinct, though the readable part of their names is the same.
    const auto f1 = object_files(first), f2 = object_files(second);
    for (std::size_t i = 0; i < f1.size(); ++i) {
        EXPECT_NE(f1[i], f2[i]);
        EXPECT_LT(f1[i].size(), 256u);
    }
    // A reset of one is seen by that one only.
    VantrelIF v1(first), v2(second);
    ASSERT_TRUE(v1.open());
    ASSERT_TRUE(v2.open());
    ASSERT_EQ(v1.reset(), kCallDone);
    EXPECT_TRUE(test::eventually([&] {
        std::int32_t state = -1;
        return v1.get_state(state) == kCallDone && state == 1;
    }));
    std::int32_t state = -1;
    ASSERT_EQ(v2.get_state(state), kCallDone);
    EXPECT_EQ(state, 0);
    stop(first, *p1);
    stop(second, *p2);
    stop(longest, *p3);
}

TEST_F(HostileNamesTest, CommandLinesThatDoNotSplitIntoThreeArgumentsAreRefused) {
    // The arguments are joined and split again as one command line: an unbalanced quote swallows
    // the rest of the line, and a leading blank adds an empty argument in front, which moves the
    // configuration file out of its place. Run in the test directory, since the log file name is
    // then relative.
    const auto run = [&](const std::vector<std::string>& args) {
        std::vector<std::string> argv{"/bin/sh", "-c", "cd \"$0\" && exec \"$@\" 2>&1", a_.dir(),
                                      test::helper_path("vantrel")};
        argv.insert(argv.end(), args.begin(), args.end());
        test::ChildProcess p(argv);
        std::string out;
        while (const auto line = p.read_line(20000)) out += *line + "\n";
        EXPECT_EQ(p.wait(), 0);
        return out;
    };
    const std::string log = a_.path("refused.log"), cfg = a_.path("vantrel.cfg");
    EXPECT_EQ(run({"Van\"trel", log, cfg}),
              "dummy caught exception: Must specify interface name, logfile, and config file\n");
    EXPECT_FALSE(fs::exists(log));
    EXPECT_EQ(
        run({" Vantrel", log, cfg}),
        "dummy caught exception: Vantrel Constructor -- Failed to load config file " + log + "\n");
    EXPECT_EQ(run({}),
              "dummy caught exception: Must specify interface name, logfile, and config file\n");
    // No interface of these names was left behind, and nothing was written outside the directory.
    for (const auto& name : {std::string(""), std::string("Van\"trel")})
        for (const auto& file : object_files(name)) EXPECT_FALSE(exists_in_shm(file)) << file;
}

TEST_F(HostileNamesTest, AQuotedConfigurationPathWithBlanksIsLoaded) {
    fs::create_directories(a_.path("my dir"));
    fs::copy_file(a_.path("vantrel.cfg"), a_.path("my dir/my config.cfg"));
    a_.start_selector_with(
        {"Vantrel", a_.path("quoted.log"), "\"" + a_.path("my dir/my config.cfg") + "\""});
    ASSERT_TRUE(a_.wait_state(0));
    std::string dir;
    ASSERT_EQ(a_.vantrel().get_cfg_dir(dir), kCallDone);
    EXPECT_EQ(dir, a_.path("my dir/"));
    EXPECT_EQ(a_.stop_selector(), 0);
}

}  // namespace
