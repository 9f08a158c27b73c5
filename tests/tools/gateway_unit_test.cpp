// The gateway's door without a network: the token file's rules against planted files, the token
// comparison, the listen address, the per-client rate limit and the metrics' label escaping.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "tools/gateway/metrics.h"
#include "tools/gateway/server.h"
#include "tools/gateway/token.h"

using namespace vantrel::gateway;
namespace fs = std::filesystem;

namespace {

class TokenFile : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/vantrel-token-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::string path(const std::string& name) const { return dir_ + "/" + name; }
    void write(const std::string& name, const std::string& text, mode_t mode) const {
        std::ofstream(path(name)) << text;
        ::chmod(path(name).c_str(), mode);
    }
    std::string dir_;
};

TEST_F(TokenFile, AMissingFileIsCreatedPrivateAndThenReadBack) {
    const std::string file = path("deeper/dir/gateway.token");
    const Token made = load_or_create_token(file);
    EXPECT_TRUE(made.created);
    EXPECT_EQ(made.value.size(), 64u);
    struct stat st {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_EQ(::stat(path("deeper").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    const Token again = load_or_create_token(file);
    EXPECT_FALSE(again.created);
    EXPECT_EQ(again.value, made.value);
    EXPECT_NE(load_or_create_token(path("other")).value, made.value);
}

TEST_F(TokenFile, FilesSomeoneElseCouldHaveMadeOrReadAreRefused) {
    const passwd* nobody = ::getpwnam("nobody");
    ASSERT_NE(nobody, nullptr);
    const std::string good = "0123456789abcdef0123";
    struct Case {
        const char* name;
        std::function<void()> plant;
        const char* says;
    };
    const Case cases[] = {
        {"readable", [&] { write("readable", good, 0644); }, "mode 0644"},
        {"group", [&] { write("group", good, 0620); }, "mode 0620"},
        {"foreign",
         [&] {
             write("foreign", good, 0600);
             ASSERT_EQ(::chown(path("foreign").c_str(), nobody->pw_uid, nobody->pw_gid), 0);
         },
         "owned by nobody"},
        {"link",
         [&] {
             write("target", good, 0600);
             ::symlink(path("target").c_str(), path("link").c_str());
         },
         "symbolic link"},
        {"fifo", [&] { ::mkfifo(path("fifo").c_str(), 0600); }, "not a regular file"},
        {"directory", [&] { ::mkdir(path("directory").c_str(), 0700); }, "not a regular file"},
        {"short", [&] { write("short", "abc\n", 0600); }, "16 to 1024"},
        {"big", [&] { write("big", std::string(5000, 'a'), 0600); }, "one line"},
        {"spaces", [&] { write("spaces", "0123456789 abcdef0123", 0600); }, "only letters"},
    };
    for (const Case& c : cases) {
        c.plant();
        try {
            load_or_create_token(path(c.name));
            ADD_FAILURE() << c.name << " was accepted";
        } catch (const TokenError& e) {
            EXPECT_NE(std::string(e.what()).find(c.says), std::string::npos)
                << c.name << ": " << e.what();
        }
    }
    write("fine", good + "\n", 0600);
    EXPECT_EQ(load_or_create_token(path("fine")).value, good);
}

TEST(Token, ComparisonNeedsEveryCharacter) {
    const std::string token = "0123456789abcdef";
    EXPECT_TRUE(same_token(token, token));
    for (const std::string& other : std::initializer_list<std::string>{
             "", token.substr(0, 15), token + "0", "x123456789abcdef", "0123456789abcdeX",
             std::string("0123456789abcde\0", 16)})
        EXPECT_FALSE(same_token(token, other)) << other;
}

TEST(Listen, AddressesAreNumericAndLoopbackIsKnown) {
    struct Case {
        const char* text;
        const char* host;
        int port;
        bool loopback;
    };
    for (const Case& c : std::initializer_list<Case>{{"127.0.0.1:8734", "127.0.0.1", 8734, true},
                                                     {"localhost:0", "127.0.0.1", 0, true},
                                                     {"127.1.2.3:80", "127.1.2.3", 80, true},
                                                     {"[::1]:9000", "::1", 9000, true},
                                                     {"0.0.0.0:8734", "0.0.0.0", 8734, false},
                                                     {"[::]:8734", "::", 8734, false},
                                                     {"192.0.2.7:1", "192.0.2.7", 1, false}}) {
        const ListenAddress a = parse_listen(c.text);
        EXPECT_EQ(a.host, c.host) << c.text;
        EXPECT_EQ(a.port, c.port) << c.text;
        EXPECT_EQ(a.loopback, c.loopback) << c.text;
    }
    for (const char* bad : {"8734", "127.0.0.1", "127.0.0.1:", "host.example:80", "1.2.3.4:65536",
                            "1.2.3.4:-1", "1.2.3.4:8a", "[::1:80", ":80"})
        EXPECT_THROW(parse_listen(bad), std::invalid_argument) << bad;
}

TEST(RateLimit, ABurstThenTheRateAndClientsApart) {
    RateLimiter limiter(10.0, 20.0);
    const auto t0 = std::chrono::steady_clock::time_point{} + std::chrono::hours(1);
    int passed = 0;
    for (int i = 0; i < 30; ++i) passed += limiter.allow("a", t0);
    EXPECT_EQ(passed, 20);
    EXPECT_TRUE(limiter.allow("b", t0));  // another client has its own bucket
    EXPECT_FALSE(limiter.allow("a", t0 + std::chrono::milliseconds(50)));
    EXPECT_TRUE(limiter.allow("a", t0 + std::chrono::milliseconds(150)));
    passed = 0;
    for (int i = 0; i < 30; ++i) passed += limiter.allow("a", t0 + std::chrono::seconds(60));
    EXPECT_EQ(passed, 20);  // refilled to the burst, not beyond
}

TEST(Metrics, LabelValuesAreEscapedAndHistogramsCumulative) {
    EXPECT_EQ(label_value("C18 \"guard\"\\\n"), "C18 \\\"guard\\\"\\\\\\n");
    EXPECT_EQ(label_value("a\xff"), "a\xEF\xBF\xBD");
    Histogram h({1, 2});
    for (double v : {0.5, 1.0, 1.5, 7.0}) h.observe(v);
    const std::string text = h.render("x", "help");
    for (const char* line : {"x_bucket{le=\"1\"} 2\n", "x_bucket{le=\"2\"} 3\n",
                             "x_bucket{le=\"+Inf\"} 4\n", "x_sum 10\n", "x_count 4\n"})
        EXPECT_NE(text.find(line), std::string::npos) << line << text;
}

}  // namespace
