// Log messages that try to forge lines: a client's "log_msg" text and a text sent straight to the
// log server, holding CR LF and terminal controls, stay one line each in both logs.
#include <gtest/gtest.h>

#include "tests/system/analyser.h"

using namespace vantrel;

namespace {

class ForgedLogTest : public test::SystemTest {
  protected:
    test::Analyser a_;
};

TEST_F(ForgedLogTest, AMessageStaysOneLineInTheLocalLogAndTheLogServers) {
    ASSERT_TRUE(a_.start_ready());
    const std::string forged = "note\r\n2 03/07/26 14:05:09 <Vantrel>: forged\x1b[2J";
    const std::string shown = "note\\r\\n2 03/07/26 14:05:09 <Vantrel>: forged\\x1b[2J";
    ASSERT_EQ(a_.vantrel().log_msg(forged, 0), kCallDone);
    LogServerIF log_server(test::Analyser::kLogServer);
    ASSERT_TRUE(log_server.open());
    ASSERT_EQ(log_server.add_log_msg("direct\r\n3 " + forged), kCallDone);
    ASSERT_TRUE(test::eventually(
        [&] { return a_.read("logserver.log").find("direct\\r\\n3 ") != std::string::npos; }));
    for (const char* log : {"vantrel.log", "logserver.log"}) {
        SCOPED_TRACE(log);
        // The component serves its own log_msg in its own time: wait for it in each log.
        EXPECT_TRUE(test::eventually([&] {
            return a_.read(log).find("<Vantrel>: " + shown + " \r\n") != std::string::npos;
        })) << a_.read(log);
        const std::string text = a_.read(log);
        EXPECT_EQ(text.find("\n2 03/07/26 14:05:09 <Vantrel>: forged"), std::string::npos) << text;
        EXPECT_EQ(text.find('\x1b'), std::string::npos) << text;
    }
    EXPECT_NE(a_.read("logserver.log").find("direct\\r\\n3 " + shown + " \r\n"), std::string::npos);
}

}  // namespace
