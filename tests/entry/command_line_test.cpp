#include "entry/command_line.h"

#include <gtest/gtest.h>

using vantrel::join_arguments;
using vantrel::split_arguments;
using V = std::vector<std::string>;

TEST(SplitArguments, PlainWordsGiveDummyAndTheWords) {
    EXPECT_EQ(split_arguments("RotaryMC /var/log/r.log /etc/r.cfg"),
              (V{"dummy", "RotaryMC", "/var/log/r.log", "/etc/r.cfg"}));
    EXPECT_EQ(split_arguments(""), (V{"dummy"}));
}

TEST(SplitArguments, QuotesStayAndAClosingQuoteEndsTheArgument) {
    EXPECT_EQ(split_arguments("\"a b\""), (V{"dummy", "\"a b\""}));
    // The space after the closing quote adds an empty argument that shifts what follows.
    EXPECT_EQ(split_arguments("a \"b c\" d"), (V{"dummy", "a", "\"b c\"", "", "d"}));
    EXPECT_EQ(split_arguments("x\"y z\"w"), (V{"dummy", "x\"y z\"", "w"}));
    EXPECT_EQ(split_arguments("\"open to the end"), (V{"dummy", "\"open to the end"}));
}

TEST(SplitArguments, ExtraSpacesGiveEmptyArgumentsAndTabsSeparateNothing) {
    EXPECT_EQ(split_arguments("a  b"), (V{"dummy", "a", "", "b"}));
    EXPECT_EQ(split_arguments(" a"), (V{"dummy", "", "a"}));
    EXPECT_EQ(split_arguments("a   "),
              (V{"dummy", "a", "", ""}));  // n spaces at the end: n - 1 empty
    EXPECT_EQ(split_arguments("a\tb"), (V{"dummy", "a\tb"}));
}

TEST(JoinArguments, SingleSpacesBetweenTheArgumentsWithoutTheProgram) {
    const char* argv[] = {"vantrel", "Vantrel", "log.txt", "unit.cfg"};
    EXPECT_EQ(join_arguments(4, argv), "Vantrel log.txt unit.cfg");
    EXPECT_EQ(join_arguments(1, argv), "");
}
