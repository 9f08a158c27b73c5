#include "framework/syslog.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/exception.h"
#include "tests/support/files.h"

using namespace vantrel;
namespace fs = std::filesystem;

namespace {

using test::slurp;

class SyslogTest : public ::testing::Test {
  protected:
    static std::string fixed() { return "03/07/26 14:05:09"; }
    test::TempDir temp_;
    const std::string dir_ = temp_.path();
};

TEST(DateTime, StampIsMonthDayYearWithTwoDigitsEach) {
    std::tm t{};
    t.tm_year = 126;  // 2026
    t.tm_mon = 2;
    t.tm_mday = 7;
    t.tm_hour = 14;
    t.tm_min = 5;
    t.tm_sec = 9;
    EXPECT_EQ(DateTime::text_of(t), "03/07/26 14:05:09");
    t.tm_year = 100;
    EXPECT_EQ(DateTime::text_of(t).substr(6, 2), "00");
    EXPECT_EQ(DateTime().now_text().size(), 17u);
}

TEST_F(SyslogTest, FileIsByteExact) {
    const std::string name = dir_ + "/unit.log";
    {
        Syslog log(name, false, fixed);
        EXPECT_TRUE(log.write("first"));
        EXPECT_TRUE(log.write_plain("plain"));  // does not advance the count
        EXPECT_TRUE(log.write(std::string("second")));
    }
    EXPECT_EQ(slurp(name), "Log file: " + name +
                               " created 03/07/26 14:05:09\n"
                               "1 03/07/26 14:05:09 first \r\n"
                               "plain \r\n"
                               "2 03/07/26 14:05:09 second \r\n"
                               "Log file: " +
                               name + " closed 03/07/26 14:05:09\r\n");
}

TEST_F(SyslogTest, AppendKeepsOldContentAndRestartsNumbering) {
    const std::string name = dir_ + "/unit.log";
    { Syslog(name, false, fixed).write("old"); }
    const std::string before = slurp(name);
    {
        Syslog log(name, true, fixed);
        log.write("new");
    }
    const std::string after = slurp(name);
    ASSERT_EQ(after.substr(0, before.size()), before);
    EXPECT_NE(after.find("created 03/07/26 14:05:09\n1 03/07/26 14:05:09 new \r\n", before.size()),
              std::string::npos);
    { Syslog log(name, false, fixed); }  // without append: emptied
    EXPECT_EQ(slurp(name).find("old"), std::string::npos);
}

TEST_F(SyslogTest, BufferGetsStampAndMessageCutToItsSize) {
    const std::string name = dir_ + "/unit.log";
    const std::string message(300, 'm');
    char buffer[249];
    std::memset(buffer, 'x', sizeof buffer);
    {
        Syslog log(name, false, fixed);
        ASSERT_TRUE(log.write(message.c_str(), buffer, sizeof buffer));
    }
    const std::string expected = (fixed() + " " + message).substr(0, 248);
    EXPECT_EQ(std::string(buffer), expected);
    EXPECT_NE(slurp(name).find("1 " + fixed() + " " + message + " \r\n"), std::string::npos);
}

TEST_F(SyslogTest, MissingDirectoriesAreCreated) {
    const std::string name = dir_ + "/a/b/c/unit.log";
    Syslog log(name, false);
    EXPECT_TRUE(fs::exists(name));
}

TEST_F(SyslogTest, UnopenableFileThrowsFailedToOpen) {
    std::ofstream(dir_ + "/file") << "x";
    const std::string name = dir_ + "/file/unit.log";  // parent is a file
    try {
        Syslog log(name, false);
        FAIL();
    } catch (const Exception& e) {
        EXPECT_EQ(e.message(), "Failed to open: " + name);
    }
}

TEST_F(SyslogTest, LinesFromManyThreadsNeverInterleaveAndNumbersFollowTheFile) {
    const std::string name = dir_ + "/unit.log";
    {
        Syslog log(name, false);
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t)
            threads.emplace_back([&log, t] {
                for (int i = 0; i < 200; ++i)
                    log.write("thread " + std::to_string(t) + " line " + std::to_string(i));
            });
        for (auto& t : threads) t.join();
    }
    std::ifstream in(name, std::ios::binary);
    std::string line;
    std::getline(in, line);  // header
    for (long expected = 1; expected <= 800; ++expected) {
        ASSERT_TRUE(std::getline(in, line));
        EXPECT_EQ(std::stol(line), expected);
        EXPECT_EQ(line.substr(line.size() - 2), " \r");
    }
}

// A message cannot end its line and forge the next one, nor act on a terminal showing the log:
// control characters other than tab are escaped in the file and in the log server's copy.
TEST_F(SyslogTest, ControlCharactersOfAMessageAreWrittenAsVisibleEscapes) {
    const std::string name = dir_ + "/unit.log";
    const struct {
        std::string message, shown;
    } cases[] = {
        {"a\r\n2 03/07/26 14:05:09 <Vantrel>: forged",
         "a\\r\\n2 03/07/26 14:05:09 <Vantrel>: forged"},
        {"bell\x01\x07\x1b[2J\x1f\x7f", "bell\\x01\\x07\\x1b[2J\\x1f\\x7f"},
        {"tab\tand \\r \xc3\xa9\xff stay", "tab\tand \\r \xc3\xa9\xff stay"},
    };
    std::string expected = "Log file: " + name + " created " + fixed() + "\n";
    {
        Syslog log(name, false, fixed);
        int n = 0;
        for (const auto& c : cases) {
            char buffer[249];
            ASSERT_TRUE(log.write(c.message.c_str(), buffer, sizeof buffer));
            EXPECT_EQ(std::string(buffer), fixed() + " " + c.shown);
            ASSERT_TRUE(log.write_plain(c.message));
            expected += std::to_string(++n) + " " + fixed() + " " + c.shown + " \r\n";
            expected += c.shown + " \r\n";
        }
    }
    expected += "Log file: " + name + " closed " + fixed() + "\r\n";
    EXPECT_EQ(slurp(name), expected);
}

// A line cut short by a full disk (here the file size limit) is ended before the next one, which
// starts a line of its own.
TEST_F(SyslogTest, ALineCutShortByAFullDiskIsEndedBeforeTheNextLine) {
    const std::string name = dir_ + "/unit.log";
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        bool ok = false;
        {
            Syslog log(name, false, fixed);
            log.write("first");
            const auto size = static_cast<rlim_t>(fs::file_size(name));
            rlimit limit{size + 10, RLIM_INFINITY};
            ::setrlimit(RLIMIT_FSIZE, &limit);
            const bool cut = !log.write("second");
            limit.rlim_cur = RLIM_INFINITY;
            ::setrlimit(RLIMIT_FSIZE, &limit);
            ok = cut && log.write("third");
        }
        ::_exit(ok ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(slurp(name), "Log file: " + name + " created " + fixed() + "\n" + "1 " + fixed() +
                               " first \r\n" +
                               "2 03/07/26\r\n" +  // the first 10 bytes, then the line's end
                               "3 " + fixed() + " third \r\n" + "Log file: " + name + " closed " +
                               fixed() + "\r\n");
}

TEST_F(SyslogTest, OpenWithStartsAProgramWithTheLogName) {
    const std::string name = dir_ + "/unit.log";
    Syslog log(name, false);
    EXPECT_GT(log.open_with("true"), 0);
    EXPECT_EQ(log.open_with("no-such-program-anywhere"), -1);
}

}  // namespace
