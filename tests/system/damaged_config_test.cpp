// Configuration files with every kind of damage, given to the vantrel program at its start and
// at run time: a clear message, the documented result, no crash, and never a rewrite that loses
// what the file held.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <map>

#include "config/configuration_file.h"
#include "tests/system/analyser.h"
#include "tests/system/damage.h"

using namespace vantrel;
using namespace vantrel::test;
namespace fs = std::filesystem;

namespace {

class DamagedConfigTest : public test::SystemTest {
  protected:
    DamagedConfigTest() : a_({.log_server = false, .supervisor = false}) {
        good_config_ = a_.read("vantrel.cfg");
    }

    // Starts vantrel on `config_file` (the standard error stream joined to the standard output)
    // and expects it to give up at once: its one report line, exit code 0, the log naming
    // `cause`, and the file exactly as it was.
    void expect_refused(const std::string& config_file, const std::string& cause) {
        const bool regular = fs::is_regular_file(config_file);  // a FIFO is not read here
        const std::string before = regular ? test::slurp(config_file) : "";
        test::ChildProcess p({"/bin/sh", "-c", "exec \"$0\" \"$@\" 2>&1",
                              test::helper_path("vantrel"), "Vantrel", a_.path("vantrel.log"),
                              config_file});
        // The reader reports characters it skips on the error stream before that.
        const std::string report =
            "dummy caught exception: Vantrel Constructor -- Failed to load config file " +
            config_file;
        std::optional<std::string> line;
        while ((line = p.read_line(20000)) && *line != report) {
        }
        ASSERT_TRUE(line.has_value()) << "vantrel did not give up with its report";
        EXPECT_EQ(p.wait(), 0);
        EXPECT_NE(a_.read("vantrel.log").find(cause), std::string::npos)
            << "log lacks \"" << cause << "\":\n"
            << a_.read("vantrel.log");
        if (regular) {
            EXPECT_EQ(test::slurp(config_file), before);
        }
    }

    test::Analyser a_;
    std::string good_config_;
};

TEST_F(DamagedConfigTest, DamagedConfigurationEndsTheStartWithItsCause) {
    const std::string cfg = a_.path("damaged.cfg");
    const auto refused = [&](const std::string& what, const std::string& text,
                             const std::string& cause) {
        SCOPED_TRACE(what);
        a_.write("damaged.cfg", text);
        expect_refused(cfg, cause);
    };
    const std::string& good = good_config_;
    refused("truncated mid-entry", good.substr(0, good.find("ROTORVELOCITY") + 17),
            "Component::load_config() failed: ");
    refused("truncated at a line", good.substr(0, good.find("ROTORVELOCITY")),
            "load_config ERROR, cfg file missing ROTORVELOCITYdefinition");
    refused("binary", random_bytes(4096, 7), "Component::load_config() failed: ");
    refused("binary after the keys", good + random_bytes(512, 8),
            "Component::load_config() failed: ");
    refused("empty", "", "Component::load_config() failed: No task loop freq specified");
    refused("missing FREQ", without_line(good, "FREQ"),
            "Component::load_config() failed: No task loop freq specified");
    refused("missing LOGSERVERIF", without_line(good, "LOGSERVERIF"),
            "Component::load_config() failed: missing LOGSERVERIF");
    for (const char* key : {"COLUMNSTATS", "DEVICE_PRESENT", "GRIPPERSTROKE", "ROTORPATTERN",
                            "BUZZDURATION", "P3_PRES_LIMIT", "SAMPLE_LIMIT"}) {
        refused(std::string("missing ") + key, without_line(good, key),
                std::string("load_config ERROR, cfg file missing ") + key + "definition");
    }
    refused("missing POS1", without_line(good, "POS1"), "Missing POS1 definition");
    refused("FREQ a text", replaced_line(good, "FREQ", "FREQ = \"fast\";"),
            "No task loop freq specified");
    refused("FREQ out of range", replaced_line(good, "FREQ", "FREQ = 5000.0;"),
            "Component::set_update_rate: input out of range");
    refused("DEVICE_PRESENT a real", replaced_line(good, "DEVICE_PRESENT", "DEVICE_PRESENT = 1.0;"),
            "cfg file missing DEVICE_PRESENTdefinition");
    refused("BUZZDURATION a text", replaced_line(good, "BUZZDURATION", "BUZZDURATION = \"x\";"),
            "cfg file missing BUZZDURATIONdefinition");
    refused("SAMPLE_LIMIT an array", replaced_line(good, "SAMPLE_LIMIT", "SAMPLE_LIMIT = [1, 2];"),
            "cfg file missing SAMPLE_LIMITdefinition");
    refused("COLUMNSTATS an integer", replaced_line(good, "COLUMNSTATS", "COLUMNSTATS = 5;"),
            "cfg file missing COLUMNSTATSdefinition");

    // A missing file, and a directory where the file should be.
    expect_refused(a_.path("nowhere.cfg"), "Component::load_config() failed: ");
    ASSERT_EQ(::mkdir(a_.path("adir.cfg").c_str(), 0700), 0);
    expect_refused(a_.path("adir.cfg"), "Component::load_config() failed: ");
    // Never waited for, never read without end, never read beyond the size limit.
    ASSERT_EQ(::mkfifo(a_.path("fifo.cfg").c_str(), 0600), 0);
    a_.write("big.cfg", good_config_);
    fs::resize_file(a_.path("big.cfg"), ConfigurationFile::kMaxFileBytes + 1);
    for (const auto& [file, cause] :
         {std::pair{a_.path("fifo.cfg"), "not a regular file (a FIFO)"},
          std::pair{std::string("/dev/zero"), "not a regular file (a character device)"},
          std::pair{a_.path("big.cfg"), "larger than the limit of 8 MiB (8388609 bytes)"}}) {
        SCOPED_TRACE(file);
        expect_refused(file,
                       "Component::load_config() failed: ConfigurationFile::load_config(): "
                       "failed, can't load " +
                           file + ": " + cause);
    }
}

TEST_F(DamagedConfigTest, HugeAndDuplicatedConfigurationsAreServedAsTheFirstEntrySays) {
    std::string huge = good_config_;
    huge.replace(huge.find("SAMPLE_LIMIT = 500"), 18, "SAMPLE_LIMIT = 321");
    huge += "SAMPLE_LIMIT = 9;\nDEVICE_PRESENT = 0;\n";                 // duplicates: first wins
    huge += "NOTE = \"" + std::string(2 * 1024 * 1024, 'n') + "\";\n";  // one 2 MB text
    for (int i = 0; i < 100000; ++i)
        huge += "EXTRA" + std::to_string(i) + " = " + std::to_string(i) + ";\n";
    a_.write("vantrel.cfg", huge);
    ASSERT_TRUE(a_.start_ready());
    std::int32_t limit = 0;
    ASSERT_EQ(a_.vantrel().get_sample_limit(limit), kCallDone);
    EXPECT_EQ(limit, 321);
    bool present = false;
    ASSERT_EQ(a_.vantrel().device_present(present), kCallDone);
    EXPECT_TRUE(present);
    ASSERT_TRUE(a_.home());
    EXPECT_EQ(a_.stop_selector(), 0);
    EXPECT_EQ(a_.read("vantrel.cfg"), huge);  // never written by the selector itself
}

TEST_F(DamagedConfigTest, ADamagedConfigurationLoadedAtRunTimeIsNeverWrittenBack) {
    ASSERT_TRUE(a_.start_ready());
    VantrelIF& v = a_.vantrel();
    const std::map<std::string, std::string> files = {
        {"damaged.cfg",
         good_config_.substr(0, good_config_.find("ROTORVELOCITY") + 17) + "\nLATER = 1;\n"},
        {"binary.cfg", random_bytes(2048, 11)},
        // Every key is there, but the reader stops silently at the stray line: LATER is not read.
        {"stray.cfg", good_config_ + "5 stray words\nLATER = 1;\n"},
    };
    for (const auto& [file, text] : files) {
        SCOPED_TRACE(file);
        a_.write(file, text);
        std::int32_t status = 0;
        ASSERT_EQ(v.load_config(a_.path(file), status), kCallDone);
        if (file == "stray.cfg") {
            EXPECT_EQ(status, 0);
            EXPECT_TRUE(a_.logged("Component::load_config(): " + a_.path(file) +
                                  " was not read to its end; it will not be saved over"));
        } else {
            EXPECT_EQ(status, -1);
            EXPECT_TRUE(a_.logged("Component::load_config() failed: "));
        }
        // The supervisor's "save every configuration": refused, the file keeps what it held.
        ASSERT_EQ(v.save_config("", status), kCallDone);
        EXPECT_EQ(status, -1);
        EXPECT_TRUE(a_.logged("Component::save_config() failed: the configuration of " +
                              a_.path(file) + " was not read whole; not written"));
        EXPECT_EQ(a_.read(file), text);
    }
    // The selector runs on with the settings it had.
    std::int32_t limit = 0;
    ASSERT_EQ(v.get_sample_limit(limit), kCallDone);
    EXPECT_EQ(limit, 500);
    ASSERT_TRUE(a_.home());
    // A good file loads again, and then saving writes it.
    std::int32_t status = -1;
    ASSERT_EQ(v.load_config(a_.path("vantrel.cfg"), status), kCallDone);
    EXPECT_EQ(status, 0);
    ASSERT_EQ(v.save_config("", status), kCallDone);
    EXPECT_EQ(status, 0);
    ConfigurationFile saved;
    ASSERT_EQ(saved.load_config(a_.path("vantrel.cfg")), CONFIG_OK);
    std::int32_t stored = 0;
    EXPECT_TRUE(saved.get("SAMPLE_LIMIT", stored));
    EXPECT_EQ(stored, 500);
}

}  // namespace
