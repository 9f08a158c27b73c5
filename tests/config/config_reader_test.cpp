#include "config/config_reader.h"

#include <gtest/gtest.h>

#include <antlr/TokenBuffer.hpp>
#include <limits>
#include <sstream>

#include "config/CfgTokenTypes.hpp"
#include "config/ConfigLexer.hpp"
#include "config/ConfigParser.hpp"
#include "config/config_char_buffer.h"
#include "config/config_error.h"

using namespace vantrel;

namespace {

std::vector<ConfigValue> read(const std::string& text) {
    std::istringstream in(text);
    std::vector<ConfigValue> entries;
    parse_config(in, entries);
    return entries;
}

// The message of the ConfigError that reading `text` throws, or "no error".
std::string error_of(const std::string& text) {
    try {
        read(text);
    } catch (const ConfigError& e) {
        return e.what();
    }
    return "no error";
}

TEST(ConfigTokens, NumbersAndDisplayNames) {
    EXPECT_EQ(CfgTokenTypes::EOF_, 1);
    EXPECT_EQ(CfgTokenTypes::REAL, 4);
    EXPECT_EQ(CfgTokenTypes::INTEGER, 5);
    EXPECT_EQ(CfgTokenTypes::COMMENT, 6);
    EXPECT_EQ(CfgTokenTypes::NEWLINE, 7);
    EXPECT_EQ(CfgTokenTypes::IDENTIFIER, 8);
    EXPECT_EQ(CfgTokenTypes::ASSIGN, 9);
    EXPECT_EQ(CfgTokenTypes::SEMICOLON, 10);
    EXPECT_EQ(CfgTokenTypes::STRING, 11);
    EXPECT_EQ(CfgTokenTypes::ARRAYOPEN, 12);
    EXPECT_EQ(CfgTokenTypes::COMMA, 13);
    EXPECT_EQ(CfgTokenTypes::ARRAYCLOSE, 14);
    EXPECT_EQ(CfgTokenTypes::LETTER, 15);
    EXPECT_EQ(CfgTokenTypes::NUMBER, 16);
    EXPECT_EQ(CfgTokenTypes::DIGIT, 17);
    EXPECT_EQ(CfgTokenTypes::WS, 18);
    EXPECT_EQ(CfgTokenTypes::DOUBLEQUOTE, 19);

    const std::vector<std::string> expected{"<0>",
                                            "EOF",
                                            "<2>",
                                            "NULL_TREE_LOOKAHEAD",
                                            "REAL",
                                            "INTEGER",
                                            "COMMENT",
                                            "NEWLINE",
                                            "identifier",
                                            "=",
                                            "SEMICOLON",
                                            "string",
                                            "ARRAYOPEN",
                                            "COMMA",
                                            "ARRAYCLOSE",
                                            "LETTER",
                                            "NUMBER (INTEGER OR REAL)",
                                            "DIGIT",
                                            "WS",
                                            "DOUBLEQUOTE"};
    std::istringstream in;
    ConfigLexer lexer(in);
    antlr::TokenBuffer buffer(lexer);
    ConfigParser parser(buffer);
    ASSERT_EQ(parser.getNumTokens(), 20);
    for (int i = 0; i < 20; ++i) EXPECT_EQ(parser.getTokenName(i), expected[i]) << i;
}

TEST(ConfigReader, ValuesOfEveryType) {
    const auto e = read(
        "FREQ = 50;\nRATE=50.0;\nNEG = -3;\nPOS = +3;\nHALF = .5;\nBIG = 1.0E2;\n"
        "freq = 7;\nSMALL=-0.25;\nEXP=1.0e-3;\nNAME = \"a;b,c[d]\";\n");
    ASSERT_EQ(e.size(), 10u);
    EXPECT_EQ(e[0].name(), "FREQ");
    EXPECT_EQ(e[0].type(), ValueType::Integer);
    EXPECT_EQ(e[0].int_value(), 50);
    EXPECT_EQ(e[1].type(), ValueType::Real);
    EXPECT_EQ(e[1].real_value(), 50.0);
    EXPECT_EQ(e[2].int_value(), -3);
    EXPECT_EQ(e[3].int_value(), 3);
    EXPECT_EQ(e[4].type(), ValueType::Real);
    EXPECT_EQ(e[4].real_value(), 0.5);
    EXPECT_EQ(e[5].real_value(), 100.0);
    EXPECT_EQ(e[6].name(), "freq");  // names keep their case
    EXPECT_EQ(e[7].real_value(), -0.25);
    EXPECT_EQ(e[8].real_value(), 1.0e-3);
    EXPECT_EQ(e[9].type(), ValueType::String);
    EXPECT_EQ(e[9].string_value(), "a;b,c[d]");
}

TEST(ConfigReader, IdentifiersTakeDigitsUnderscoresAndMinus) {
    const auto e = read("Col1_type-x=1;\n");
    ASSERT_EQ(e.size(), 1u);
    EXPECT_EQ(e[0].name(), "Col1_type-x");
}

TEST(ConfigReader, ArraysMixTypesInFileOrder) {
    const auto e = read("LIST = [1, 2.5,\t\"x y\"];\nONE=[-4];\n");
    ASSERT_EQ(e.size(), 2u);
    ASSERT_EQ(e[0].type(), ValueType::Array);
    const auto& el = e[0].elements();
    ASSERT_EQ(el.size(), 3u);
    EXPECT_EQ(el[0].type(), ValueType::Integer);
    EXPECT_EQ(el[0].int_value(), 1);
    EXPECT_EQ(el[1].type(), ValueType::Real);
    EXPECT_EQ(el[1].real_value(), 2.5);
    EXPECT_EQ(el[2].type(), ValueType::String);
    EXPECT_EQ(el[2].string_value(), "x y");
    for (const auto& element : el) EXPECT_TRUE(element.name().empty());
    ASSERT_EQ(e[1].elements().size(), 1u);
    EXPECT_EQ(e[1].elements()[0].int_value(), -4);
}

TEST(ConfigReader, CommentsBlankLinesAndEmptyInputLeaveNoTrace) {
    EXPECT_TRUE(read("").empty());
    EXPECT_TRUE(read("// only a comment\n\n   \n// another\n").empty());
    const auto e = read("// header\nA=1; // trailing comment\n\nB=2;\n");
    ASSERT_EQ(e.size(), 2u);
    EXPECT_EQ(e[1].name(), "B");
}

TEST(ConfigReader, CarriageReturnsAndTabsAreDropped) {
    const auto e = read("A = 1;\r\nB\t=\t\"two\";\r\n// note\r\nC = 3.5;\r\n");
    ASSERT_EQ(e.size(), 3u);
    EXPECT_EQ(e[1].string_value(), "two");
    EXPECT_EQ(e[2].real_value(), 3.5);
}

TEST(ConfigReader, DuplicateNamesGiveTwoEntriesInFileOrder) {
    const auto e = read("X=1;\nX=\"two\";\n");
    ASSERT_EQ(e.size(), 2u);
    EXPECT_EQ(e[0].type(), ValueType::Integer);
    EXPECT_EQ(e[1].type(), ValueType::String);
}

TEST(ConfigReader, IntegersClampToThirtyTwoBits) {
    const auto e = read(
        "A=2147483647;\nB=2147483648;\nC=-2147483648;\nD=-2147483649;\n"
        "E=99999999999999999999999999;\nF=007;\n");
    ASSERT_EQ(e.size(), 6u);
    EXPECT_EQ(e[0].int_value(), 2147483647);
    EXPECT_EQ(e[1].int_value(), 2147483647);
    EXPECT_EQ(e[2].int_value(), -2147483647 - 1);
    EXPECT_EQ(e[3].int_value(), -2147483647 - 1);
    EXPECT_EQ(e[4].int_value(), 2147483647);
    EXPECT_EQ(e[5].int_value(), 7);
}

TEST(ConfigReader, RealsBeyondTheLargestDoubleClampSoTheyCanBeWrittenBack) {
    const auto e = read("A=1.0e999;\nB=-1.0e999;\nC=1.0e-999;\n");
    ASSERT_EQ(e.size(), 3u);
    EXPECT_EQ(e[0].real_value(), std::numeric_limits<double>::max());
    EXPECT_EQ(e[1].real_value(), -std::numeric_limits<double>::max());
    EXPECT_EQ(e[2].real_value(), 0.0);
    const auto again = read(e[0].to_text() + "\n");
    ASSERT_EQ(again.size(), 1u);
    EXPECT_EQ(again[0].real_value(), std::numeric_limits<double>::max());
}

TEST(ConfigReader, ReadingStopsSilentlyAtALineThatCannotBeginAnEntry) {
    for (const char* stopper : {"5;\n", "\"s\";\n", ";\n", "=\n", "[1];\n"}) {
        const auto e = read(std::string("A=1;\n") + stopper + "B=2;\n");
        ASSERT_EQ(e.size(), 1u) << stopper;
        EXPECT_EQ(e[0].name(), "A");
        // The reader says that it stopped before the end.
        std::istringstream in(std::string("A=1;\n") + stopper + "B=2;\n");
        std::vector<ConfigValue> entries;
        EXPECT_FALSE(parse_config(in, entries)) << stopper;
    }
    for (const char* whole : {"", "A=1;\nB=2;\n", "// comment only\n", "A=1; // trailing\n"}) {
        std::istringstream in(whole);
        std::vector<ConfigValue> entries;
        EXPECT_TRUE(parse_config(in, entries)) << whole;
    }
}

TEST(ConfigReader, ListIsAppendedToAndKeepsEntriesReadBeforeAnError) {
    std::vector<ConfigValue> entries;
    entries.emplace_back("OLD", 1);
    std::istringstream in("A=1;\nB=2;\nC=;\nD=4;\n");
    EXPECT_THROW(parse_config(in, entries), ConfigError);
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].name(), "OLD");
    EXPECT_EQ(entries[2].name(), "B");
}

TEST(ConfigReader, SyntaxErrorsGiveLineAndColumn) {
    // 5. is no number: both characters are dropped and the entry sees "X = ;".
    EXPECT_EQ(error_of("X = 5.;\n"), " line 1 column 1");
    // 1e5 is the integer 1 and the identifier e5, which stands where the semicolon must.
    EXPECT_EQ(error_of("X = 1e5;\n"), " line 1 column 6");
    // A missing semicolon is found at the line feed ending the line.
    EXPECT_EQ(error_of("A=1;\nB=2;\nC = 3\nD=4;\n"), " line 3 column 6");
    // An entry lies on one line.
    EXPECT_EQ(error_of("X =\n5;\n"), " line 1 column 1");
    EXPECT_EQ(error_of("X = \"unterminated;\n"), " line 1 column 1");
    EXPECT_EQ(error_of("X = 1"), " line 1 column 6");  // end of input where ';' must be
}

TEST(ConfigReader, ArraysNeedAnElementAndNoTrailingComma) {
    EXPECT_EQ(error_of("A = [];\n"), " line 1 column 6");
    EXPECT_EQ(error_of("A = [1,];\n"), " line 1 column 8");
    EXPECT_EQ(error_of("A = [1 2];\n"), " line 1 column 8");
    EXPECT_EQ(error_of("A = [[1]];\n"), " line 1 column 6");  // no nesting
    EXPECT_EQ(error_of("A = [1, 2;\n"), " line 1 column 10");
}

TEST(ConfigReader, TabsAdvanceToTheNextStopOfEight) {
    // X, space, '=' fill columns 1 to 3; the tab moves to column 9, where 1 stands; 2 is at 11.
    EXPECT_EQ(error_of("X =\t1 2;\n"), " line 1 column 11");
    EXPECT_EQ(error_of("\t\tX = 1 2;\n"), " line 1 column 23");
}

TEST(ConfigReader, LineFeedsInsideStringsAreNotCounted) {
    const auto e = read("S = \"one\ntwo\";\n");
    ASSERT_EQ(e.size(), 1u);
    EXPECT_EQ(e[0].string_value(), "one\ntwo");
    // The string takes two physical lines, yet the error on the third is reported on line 2.
    EXPECT_EQ(error_of("S = \"one\ntwo\";\nX = 1 2;\n"), " line 2 column 7");
}

TEST(ConfigReader, HashLinesAreNotComments) {
    // The '#' is dropped and the words after it are read as tokens.
    EXPECT_EQ(error_of("A=1;\n# a note\n"), " line 2 column 3");
    testing::internal::CaptureStderr();
    const auto e = read("#A=1;\n");
    const std::string report = testing::internal::GetCapturedStderr();
    ASSERT_EQ(e.size(), 1u);
    EXPECT_EQ(e[0].name(), "A");
    EXPECT_FALSE(report.empty());  // the dropped character is reported, not silently eaten
}

TEST(ConfigReader, CommentWithoutFinalLineFeedIsReadAsTokens) {
    // Its slashes are dropped; "note" then is an identifier without "=".
    EXPECT_EQ(error_of("A=1;\n// note"), " line 2 column 4");
    const auto e = read("A=1;\n//B=2;");
    ASSERT_EQ(e.size(), 2u);
    EXPECT_EQ(e[1].name(), "B");
    EXPECT_EQ(read("A=1;\n// done\n").size(), 1u);
}

TEST(ConfigReader, RecoveryDropsOneCharacterAndRescans) {
    // "1.5.5" is the real 1.5 followed by the real .5, which stands where ';' must.
    EXPECT_EQ(error_of("A = 1.5.5;\n"), " line 1 column 8");
    // A sign without digits is dropped.
    EXPECT_EQ(error_of("B = -x;\n"), " line 1 column 1");
    const auto signed_value = read("C = - 5;\n");
    ASSERT_EQ(signed_value.size(), 1u);
    EXPECT_EQ(signed_value[0].int_value(), 5);
    // Bytes outside the vocabulary and above 0x7F are dropped like any other stray character.
    const auto odd = read(std::string("D\x01 = \xe9\xff 4;\n", 12));
    ASSERT_EQ(odd.size(), 1u);
    EXPECT_EQ(odd[0].int_value(), 4);
}

TEST(ConfigReader, ColumnsAfterARescannedLexemeCountEachCharacterOnce) {
    // "5.x" fails after two characters and is rescanned from the 5: x stays at column 9.
    EXPECT_EQ(error_of("X = 1 5.x;\n"), " line 1 column 9");
    EXPECT_EQ(error_of("X = 1 \"open;\n"), " line 1 column 8");
}

}  // namespace

namespace {

// The lexer commits every token it forms; the characters of committed tokens must not pile up.
TEST(ConfigReader, CharacterBufferStaysSmallOnLongInput) {
    std::string text;
    for (int i = 0; i < 20000; ++i)
        text += "KEY" + std::to_string(i) + " = " + std::to_string(i) + ";\n";
    std::istringstream in(text);
    ConfigCharBuffer characters(in);
    ConfigLexer lexer(characters);
    std::size_t tokens = 0;
    std::size_t most_held = 0;
    while (lexer.nextToken()->getType() != antlr::Token::EOF_TYPE) {
        ++tokens;
        most_held = std::max(most_held, characters.held());
    }
    EXPECT_EQ(tokens, 20000u * 5);
    EXPECT_LT(most_held, 10000u);  // bounded by the queue's own compaction, not by the input
}

}  // namespace

namespace {

// Entries and array elements count alike; the values read before the limit stay.
TEST(ConfigReader, MoreValuesThanTheLimitAreAnErrorWithTheirPosition) {
    const std::size_t half = kMaxConfigValues / 2;
    std::string text = "A=[1";
    for (std::size_t i = 2; i < half; ++i) text += ",1";
    text += "];\n";
    for (std::size_t i = 1; i < half; ++i) text += "B=1;\n";
    std::vector<ConfigValue> entries;
    std::istringstream exact(text + "C=2;\n");  // half - 1 elements, half + 1 entries
    EXPECT_TRUE(parse_config(exact, entries));
    EXPECT_EQ(entries.size(), half + 1);
    std::istringstream over(text + "C=2;D=3;\n");
    entries.clear();
    try {
        parse_config(over, entries);
        ADD_FAILURE() << "read more values than the limit";
    } catch (const ConfigError& e) {
        EXPECT_EQ(std::string(e.what()),
                  " line " + std::to_string(half + 1) + " column 9: more than 262144 values");
    }
    EXPECT_EQ(entries.size(), half + 1);
    EXPECT_EQ(entries.back().to_text(), "C=2;");
}

}  // namespace
