// A process killed with SIGKILL while it saves must never leave a damaged file: the file always
// parses and always holds one complete version.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <random>
#include <thread>

#include "config/config_error.h"
#include "config/configuration_file.h"
#include "tests/support/child_process.h"
#include "tests/support/ipc_test.h"

namespace fs = std::filesystem;
using namespace vantrel;

namespace {

constexpr int kKeys = 20000;

TEST(SaveCrash, KilledSaverLeavesOneCompleteVersion) {
    test::Watchdog watchdog(240);
    char tmpl[] = "/tmp/vantrel-crash-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    const std::string dir = tmpl;
    const std::string file = dir + "/stats.cfg";
    std::mt19937 random(12345);
    int last_version = -1;
    int killed_mid_save = 0;

    for (int round = 0; round < 25; ++round) {
        test::ChildProcess saver(
            {test::helper_path("config_save_loop"), file, std::to_string(kKeys)});
        ASSERT_EQ(saver.read_line(60000), std::optional<std::string>("ready")) << round;
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 40000));
        saver.kill9();

        ConfigurationFile store;
        try {
            ASSERT_EQ(store.load_config(file), 0) << round;
        } catch (const ConfigError& e) {
            FAIL() << "round " << round << ": damaged file:" << e.what();
        }
        std::int32_t version = -1, check = -2;
        std::string pad;
        ASSERT_TRUE(store.get("VERSION", version)) << round;
        ASSERT_TRUE(store.get("CHECK", check)) << round;
        ASSERT_TRUE(store.get("PAD", pad)) << round;
        EXPECT_EQ(version, check) << round;
        EXPECT_EQ(pad.size(), static_cast<std::size_t>(version % 97)) << round;
        ASSERT_EQ(store.entries().size(), static_cast<std::size_t>(kKeys + 3)) << round;
        for (int k = 0; k < kKeys; ++k) {
            const auto& entry = store.entries()[static_cast<std::size_t>(k) + 1];
            ASSERT_EQ(entry.name(), "KEY" + std::to_string(k)) << round;
            ASSERT_EQ(entry.int_value(), k) << round;
        }
        EXPECT_GT(version, last_version) << "versions only grow: round " << round;
        last_version = version;

        // A temporary file left behind shows that this kill hit a save in progress.
        for (const auto& e : fs::directory_iterator(dir)) {
            if (e.path().filename() != "stats.cfg") {
                ++killed_mid_save;
                fs::remove(e.path());
            }
        }
    }
    // The test only proves something when kills landed inside saves.
    EXPECT_GT(killed_mid_save, 0);
    std::printf("kills during a save: %d of 25\n", killed_mid_save);
    fs::remove_all(dir);
}

}  // namespace
