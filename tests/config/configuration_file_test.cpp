#include "config/configuration_file.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "config/config_error.h"
#include "config/config_reader.h"
#include "config/paths.h"

namespace fs = std::filesystem;
using namespace vantrel;

namespace {

class StoreTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/vantrel-store-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        ::chmod(dir_.c_str(), 0777);  // reachable by the unprivileged child of some tests
    }
    void TearDown() override {
        std::error_code ec;
        fs::permissions(dir_, fs::perms::all, ec);
        for (const auto& entry : fs::recursive_directory_iterator(dir_, ec))
            fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(dir_);
    }
    std::string path(const std::string& name) const { return dir_ + "/" + name; }
    void write(const std::string& name, const std::string& text) const {
        std::ofstream(path(name), std::ios::binary) << text;
    }
    std::string contents(const std::string& name) const {
        std::ifstream in(path(name), std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    std::vector<std::string> listing() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir_)) names.push_back(e.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    }
    std::string dir_;
};

// Runs `body` in a child process, without privileges when the tests run as root, so that
// permission checks apply. Its result is the child's exit code.
int run_unprivileged(const std::function<int()>& body) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(99);
        ::_exit(body());
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST_F(StoreTest, LookupsAreTypedAndNeverConvert) {
    write("a.cfg", "FREQ=50;\nRATE=50.0;\nNAME=\"rotor\";\nLIST=[1,2];\nfreq=9;\n");
    ConfigurationFile store;
    ASSERT_EQ(store.load_config(path("a.cfg")), 0);
    std::int32_t i = -1;
    long l = -1;
    std::int16_t s = -1;
    double d = -1;
    std::string text = "unchanged";
    EXPECT_TRUE(store.get("FREQ", i));
    EXPECT_EQ(i, 50);
    EXPECT_TRUE(store.get("FREQ", l));
    EXPECT_EQ(l, 50);
    EXPECT_TRUE(store.get("FREQ", s));
    EXPECT_EQ(s, 50);
    EXPECT_FALSE(store.get("FREQ", d));  // an integer is no real
    EXPECT_EQ(d, -1);
    EXPECT_TRUE(store.get("RATE", d));
    EXPECT_EQ(d, 50.0);
    i = -1;
    EXPECT_FALSE(store.get("RATE", i));
    EXPECT_EQ(i, -1);
    EXPECT_FALSE(store.get("FREQ", text));
    EXPECT_EQ(text, "unchanged");
    EXPECT_TRUE(store.get("NAME", text));
    EXPECT_EQ(text, "rotor");
    EXPECT_FALSE(store.get("name", text));  // case-sensitive
    EXPECT_FALSE(store.get("MISSING", i));
    ConfigurationFile::ElementRefs refs{nullptr};
    EXPECT_FALSE(store.get("FREQ", refs));
    EXPECT_EQ(refs.size(), 1u);  // untouched
    EXPECT_TRUE(store.get("LIST", refs));
    ASSERT_EQ(refs.size(), 2u);
    EXPECT_EQ(refs[1]->int_value(), 2);
}

TEST_F(StoreTest, OnlyTheFirstEntryOfANameCounts) {
    ConfigurationFile store;
    store.add("X", 1);
    store.add("X", std::string("text"));  // first X is an integer: a second X is appended
    ASSERT_EQ(store.entries().size(), 2u);
    std::string text;
    EXPECT_FALSE(store.get("X", text));  // the string behind the integer is never seen
    EXPECT_FALSE(store.set("X", std::string("other")));
    EXPECT_EQ(store.entries()[1].string_value(), "text");
    EXPECT_TRUE(store.set("X", 5));
    EXPECT_EQ(store.entries()[0].int_value(), 5);
    // Each further add of the mismatching type appends again, through load and save as well.
    ASSERT_EQ(store.save_as(path("dup.cfg"), true), 0);
    EXPECT_EQ(contents("dup.cfg"), "X=5;\nX=\"text\";\n");
    ConfigurationFile again;
    ASSERT_EQ(again.load_config(path("dup.cfg")), 0);
    again.add("X", std::string("text"));
    EXPECT_EQ(again.entries().size(), 3u);
}

TEST_F(StoreTest, SetChangesOnlyAnEntryOfTheSameType) {
    ConfigurationFile store;
    store.add("FREQ", 50);
    EXPECT_FALSE(store.set("FREQ", 2.5));
    EXPECT_FALSE(store.set("MISSING", 1));
    EXPECT_EQ(store.entries().size(), 1u);
    EXPECT_EQ(store.entries()[0].type(), ValueType::Integer);
    EXPECT_EQ(store.entries()[0].int_value(), 50);
    EXPECT_TRUE(store.set("FREQ", 60L));
    EXPECT_EQ(store.entries()[0].int_value(), 60);
    store.set_or_add("FREQ", 70);
    store.set_or_add("RATE", 1.5);
    store.set_or_add("RATE", 2.5);
    store.set_or_add("NAME", std::string("a"));
    store.set_or_add("NAME", std::string("b"));
    ASSERT_EQ(store.entries().size(), 3u);
    EXPECT_EQ(store.entries()[0].int_value(), 70);
    EXPECT_EQ(store.entries()[1].real_value(), 2.5);
    EXPECT_EQ(store.entries()[2].string_value(), "b");
}

TEST_F(StoreTest, LongValuesAreStoredAsThirtyTwoBitIntegers) {
    ConfigurationFile store;
    store.add("BIG", 5000000000L);
    store.set_or_add("SMALL", -5000000000L);
    std::int32_t i = 0;
    ASSERT_TRUE(store.get("BIG", i));
    EXPECT_EQ(i, 2147483647);
    ASSERT_TRUE(store.get("SMALL", i));
    EXPECT_EQ(i, -2147483647 - 1);
    long out = 0;
    store.get("DEFAULTED", out, 1L << 40);
    EXPECT_EQ(out, 2147483647);  // what a later lookup gives back
}

TEST_F(StoreTest, ArraysAreReplacedWhole) {
    ConfigurationFile store;
    ConfigValue::Elements list{ConfigValue("", 1), ConfigValue("", 2)};
    EXPECT_FALSE(store.set("LIST", list));
    store.add("LIST", list);
    store.set_or_add("LIST", ConfigValue::Elements{ConfigValue("", std::string("x"))});
    ConfigurationFile::ElementRefs refs;
    ASSERT_TRUE(store.get("LIST", refs));
    ASSERT_EQ(refs.size(), 1u);
    EXPECT_EQ(refs[0]->string_value(), "x");
    // Adding other entries does not move the elements a caller holds references to.
    for (int k = 0; k < 100; ++k) store.add("K" + std::to_string(k), k);
    EXPECT_EQ(refs[0]->string_value(), "x");
}

TEST_F(StoreTest, DefaultsAreAddedAndSavedAtTheEnd) {
    write("a.cfg", "FREQ=50;\n");
    ConfigurationFile store;
    ASSERT_EQ(store.load_config(path("a.cfg")), 0);
    std::int32_t debug = -1;
    store.get("DEBUG_MODE", debug, 0);
    EXPECT_EQ(debug, 0);
    std::int32_t freq = 0;
    store.get("FREQ", freq, 10);  // present: the default is not used
    EXPECT_EQ(freq, 50);
    std::int16_t s = 0;
    store.get("SHORT", s, std::int16_t{-7});
    EXPECT_EQ(s, -7);
    std::string name;
    store.get("NAME", name, "none");
    EXPECT_EQ(name, "none");
    double rate = 0;
    store.get("FREQ", rate, 0.5);  // FREQ is an integer: a real FREQ is appended
    EXPECT_EQ(rate, 0.5);
    ASSERT_EQ(store.save(), 0);
    EXPECT_EQ(contents("a.cfg"),
              "FREQ=50;\nDEBUG_MODE=0;\nSHORT=-7;\nNAME=\"none\";\nFREQ=0.5000000000;\n");
}

TEST_F(StoreTest, SaveWritesCanonicalLinesOnlyAndReloadsTheSame) {
    write("in.cfg",
          "// settings\r\nFREQ = 50 ;  // per second\r\n\r\nX=0.1;\r\nS = \"a\nb\";\r\n"
          "L = [ 1 , 2.5 , \"z\" ];\r\nX = 7;\r\n");
    ConfigurationFile store;
    ASSERT_EQ(store.load_config(path("in.cfg")), 0);
    ASSERT_EQ(store.save_as(path("out.cfg"), false), 0);
    const std::string expected =
        "FREQ=50;\nX=0.1000000000;\nS=\"a\nb\";\nL=[1,2.5000000000,\"z\"];\nX=7;\n";
    EXPECT_EQ(contents("out.cfg"), expected);
    ConfigurationFile again;
    ASSERT_EQ(again.load_config(path("out.cfg")), 0);
    double x = 0;
    ASSERT_TRUE(again.get("X", x));
    EXPECT_EQ(x, 0.1);
    ASSERT_EQ(again.save(), 0);
    EXPECT_EQ(contents("out.cfg"), expected);
}

TEST_F(StoreTest, NewStoreHasNoFileToLoadOrSave) {
    ConfigurationFile store;
    EXPECT_EQ(store.load_config(), CONFIG_NOT_FOUND);
    EXPECT_EQ(store.save(), CONFIG_NOT_FOUND);
    EXPECT_EQ(store.directory(), "./");
    EXPECT_EQ(store.load_config(path("missing.cfg")), CONFIG_NOT_FOUND);
    EXPECT_EQ(store.file_name(), "");
}

TEST_F(StoreTest, LoadNormalisesTheFileNameAndReplacesEntries) {
    write("a.cfg", "A=1;\n");
    ConfigurationFile store;
    store.add("OLD", 1);
    ASSERT_EQ(store.load_config("\"" + dir_ + "\\a.cfg\""), 0);
    EXPECT_EQ(store.file_name(), path("a.cfg"));
    EXPECT_EQ(store.directory(), dir_ + "/");
    ASSERT_EQ(store.entries().size(), 1u);
    EXPECT_EQ(store.entries()[0].name(), "A");
    write("a.cfg", "B=2;\n");
    ASSERT_EQ(store.load_config(), 0);  // reloads the same file
    EXPECT_EQ(store.entries()[0].name(), "B");
}

TEST_F(StoreTest, SyntaxErrorKeepsWhatWasReadAndThrowsTheMessage) {
    write("good.cfg", "OLD=1;\n");
    write("bad.cfg", "A=1;\nB=2;\nC=3\n");
    ConfigurationFile store;
    ASSERT_EQ(store.load_config(path("good.cfg")), 0);
    try {
        store.load_config(path("bad.cfg"));
        FAIL() << "no exception";
    } catch (const Exception& e) {  // the system's exception, as owners catch it
        EXPECT_EQ(e.message(), " line 3 column 4");
    }
    EXPECT_EQ(store.file_name(), path("bad.cfg"));
    ASSERT_EQ(store.entries().size(), 2u);
    EXPECT_EQ(store.entries()[1].name(), "B");
}

TEST_F(StoreTest, SaveAsRespectsOverwriteAndCreatesDirectories) {
    write("a.cfg", "KEEP=1;\n");
    ConfigurationFile store;
    store.add("NEW", 2);
    EXPECT_EQ(store.save_as(path("a.cfg"), false), CONFIG_EXISTS);
    EXPECT_EQ(contents("a.cfg"), "KEEP=1;\n");
    EXPECT_EQ(store.file_name(), "");
    EXPECT_EQ(store.save_as(path("a.cfg"), true), 0);
    EXPECT_EQ(contents("a.cfg"), "NEW=2;\n");
    EXPECT_EQ(store.save_as(path("x/y/z/b.cfg"), false), 0);
    EXPECT_EQ(contents("x/y/z/b.cfg"), "NEW=2;\n");
    EXPECT_EQ(store.directory(), path("x/y/z/"));
    // A regular file where a directory must be: 4, and the file name stays.
    EXPECT_EQ(store.save_as(path("a.cfg/sub/c.cfg"), true), CONFIG_NO_DIRECTORY);
    EXPECT_EQ(store.file_name(), path("x/y/z/b.cfg"));
}

TEST_F(StoreTest, SaveAsWithBackslashesWritesWhereLoadLooks) {
    ConfigurationFile store;
    store.add("A", 1);
    ASSERT_EQ(store.save_as(dir_ + "\\sub\\w.cfg", true), 0);
    EXPECT_EQ(store.directory(), dir_ + "\\sub\\");
    EXPECT_EQ(contents("sub/w.cfg"), "A=1;\n");
    ConfigurationFile again;
    EXPECT_EQ(again.load_config(dir_ + "\\sub\\w.cfg"), 0);
}

TEST_F(StoreTest, DeleteConfigRemovesOnlyTheFile) {
    write("a.cfg", "A=1;\n");
    ConfigurationFile store;
    ASSERT_EQ(store.load_config(path("a.cfg")), 0);
    EXPECT_EQ(store.delete_config(path("missing.cfg")), CONFIG_NOT_FOUND);
    EXPECT_EQ(store.delete_config(path("a.cfg")), 0);
    EXPECT_FALSE(file_exists(path("a.cfg")));
    EXPECT_EQ(store.entries().size(), 1u);  // the store is not touched
    EXPECT_EQ(store.file_name(), path("a.cfg"));
    fs::create_directory(path("d"));
    EXPECT_EQ(store.delete_config(path("d")), CONFIG_REMOVE_FAILED);
}

TEST_F(StoreTest, DeleteRefusedForLackOfRightsGivesFive) {
    fs::create_directory(path("locked"));
    write("locked/a.cfg", "A=1;\n");
    ::chmod(path("locked").c_str(), 0555);
    const int result =
        run_unprivileged([&] { return ConfigurationFile().delete_config(path("locked/a.cfg")); });
    EXPECT_EQ(result, CONFIG_ACCESS_DENIED);
    EXPECT_TRUE(file_exists(path("locked/a.cfg")));
}

// Reading a path that exists but cannot be read must not pass for a load.
TEST_F(StoreTest, UnreadablePathFailsAndLeavesTheStoreAsItWas) {
    write("a.cfg", "A=1;\n");
    write("secret.cfg", "S=1;\n");
    ::chmod(path("secret.cfg").c_str(), 0);
    fs::create_directory(path("adir"));
    ConfigurationFile store;
    ASSERT_EQ(store.load_config(path("a.cfg")), 0);
    EXPECT_EQ(store.load_config(path("adir")), CONFIG_IO_FAILED);
    EXPECT_EQ(store.file_name(), path("a.cfg"));
    ASSERT_EQ(store.entries().size(), 1u);
    EXPECT_EQ(store.entries()[0].name(), "A");
    const int result = run_unprivileged([&] {
        ConfigurationFile s;
        if (s.load_config(path("a.cfg")) != 0) return 90;
        const int code = s.load_config(path("secret.cfg"));
        if (s.file_name() != path("a.cfg") || s.entries().size() != 1) return 91;
        return code;
    });
    EXPECT_EQ(result, CONFIG_IO_FAILED);
}

TEST_F(StoreTest, SaveKeepsPermissionBitsAndWritesThroughLinks) {
    ConfigurationFile store;
    store.add("A", 1);
    ASSERT_EQ(store.save_as(path("a.cfg"), true), 0);
    ::chmod(path("a.cfg").c_str(), 0640);
    store.set("A", 2);
    ASSERT_EQ(store.save(), 0);
    struct stat st {};
    ASSERT_EQ(::stat(path("a.cfg").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(contents("a.cfg"), "A=2;\n");

    fs::create_symlink(path("a.cfg"), path("link.cfg"));
    store.set("A", 3);
    ASSERT_EQ(store.save_as(path("link.cfg"), true), 0);
    EXPECT_TRUE(fs::is_symlink(path("link.cfg")));
    EXPECT_EQ(contents("a.cfg"), "A=3;\n");
    EXPECT_EQ(listing(), (std::vector<std::string>{"a.cfg", "link.cfg"}));  // no leftovers
}

// A write that fails part way (here: the file size limit, as on a full disk) reports 3 and
// leaves the previous file complete.
TEST_F(StoreTest, FailedWriteReportsThreeAndKeepsTheOldFile) {
    ConfigurationFile store;
    store.add("OLD", 1);
    ASSERT_EQ(store.save_as(path("a.cfg"), true), 0);
    for (int k = 0; k < 5000; ++k) store.add("KEY" + std::to_string(k), k);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{4096, 4096};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        ::_exit(store.save());
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), CONFIG_IO_FAILED);
    EXPECT_EQ(contents("a.cfg"), "OLD=1;\n");
    EXPECT_EQ(listing(), std::vector<std::string>{"a.cfg"});  // the partial file is removed
}

TEST_F(StoreTest, UnwritableTargetsReportThree) {
    ConfigurationFile store;
    store.add("A", 1);
    fs::create_directory(path("adir"));
    EXPECT_EQ(store.save_as(path("adir"), true), CONFIG_IO_FAILED);
    EXPECT_TRUE(fs::is_directory(path("adir")));

    write("ro.cfg", "RO=1;\n");
    ::chmod(path("ro.cfg").c_str(), 0444);
    fs::create_directory(path("rodir"));
    write("rodir/b.cfg", "B=1;\n");
    ::chmod(path("rodir").c_str(), 0555);
    const int result = run_unprivileged([&] {
        ConfigurationFile s;
        s.add("A", 1);
        const int read_only_file = s.save_as(path("ro.cfg"), true);
        const int read_only_dir = s.save_as(path("rodir/b.cfg"), true);
        return read_only_file * 10 + read_only_dir;
    });
    EXPECT_EQ(result, CONFIG_IO_FAILED * 10 + CONFIG_IO_FAILED);
    EXPECT_EQ(contents("ro.cfg"), "RO=1;\n");
    EXPECT_EQ(contents("rodir/b.cfg"), "B=1;\n");
}

}  // namespace

// Every byte that storable_string accepts comes back as it was from the line the store writes;
// every other one would not, so the predicate refuses nothing that a file could hold.
TEST(StorableString, AcceptsExactlyTheTextsThatReadBackByteForByte) {
    for (int byte = 0; byte < 256; ++byte) {
        SCOPED_TRACE(byte);
        const std::string text = "a" + std::string(1, static_cast<char>(byte)) + "b;C=1;";
        std::istringstream written(ConfigValue("T", text).to_text() + "\nN=7;\n");
        std::vector<ConfigValue> back;
        bool same = false;
        try {
            parse_config(written, back);
            same =
                back.size() == 2 && back[0].string_value() == text && back[1].to_text() == "N=7;";
        } catch (const ConfigError&) {
        }
        EXPECT_EQ(storable_string(text), same);
    }
}

// A path that is not a regular file, or too large a file, is refused at once (a FIFO without a
// writer would block an ordinary open, /dev/zero never ends) and the store stays as it was.
TEST_F(StoreTest, NonRegularAndOversizedFilesAreRefusedAtOnceWithTheirCause) {
    ::alarm(60);  // a load that blocks ends the test program
    write("a.cfg", "A=1;\n");
    ASSERT_EQ(::mkfifo(path("fifo.cfg").c_str(), 0600), 0);
    fs::create_directory(path("dir.cfg"));
    write("big.cfg", "A=2;\n");
    fs::resize_file(path("big.cfg"), ConfigurationFile::kMaxFileBytes + 1);  // sparse
    struct Case {
        std::string path, cause;
    };
    for (const Case& c :
         {Case{path("fifo.cfg"), "not a regular file (a FIFO)"},
          Case{"/dev/zero", "not a regular file (a character device)"},
          Case{"\"" + path("fifo.cfg") + "\"", "not a regular file (a FIFO)"},
          Case{path("dir.cfg"), "not a regular file (a directory)"},
          Case{path("big.cfg"), "larger than the limit of 8 MiB (8388609 bytes)"}}) {
        SCOPED_TRACE(c.path);
        ConfigurationFile store;
        ASSERT_EQ(store.load_config(path("a.cfg")), CONFIG_OK);
        EXPECT_EQ(store.load_config(c.path), CONFIG_IO_FAILED);
        EXPECT_EQ(store.load_failure(), c.cause);
        EXPECT_EQ(store.file_name(), path("a.cfg"));
        ASSERT_EQ(store.entries().size(), 1u);
        EXPECT_EQ(store.entries()[0].to_text(), "A=1;");
    }
    ConfigurationFile store;
    EXPECT_EQ(store.load_config(path("a.cfg")), CONFIG_OK);
    EXPECT_EQ(store.load_failure(), "");
    ::alarm(0);
}
