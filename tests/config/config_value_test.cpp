#include "config/config_value.h"

#include <gtest/gtest.h>

#include <sstream>

#include "config/config_reader.h"

using namespace vantrel;

namespace {

TEST(ConfigValueText, CanonicalFormOfEachType) {
    EXPECT_EQ(ConfigValue("FREQ", 50).to_text(), "FREQ=50;");
    EXPECT_EQ(ConfigValue("N", -2147483647 - 1).to_text(), "N=-2147483648;");
    EXPECT_EQ(ConfigValue("FREQ", 1.5).to_text(), "FREQ=1.5000000000;");
    EXPECT_EQ(ConfigValue("S", std::string("a b")).to_text(), "S=\"a b\";");
    EXPECT_EQ(ConfigValue("E", std::string()).to_text(), "E=\"\";");
    ConfigValue::Elements list;
    list.emplace_back("", 1);
    list.emplace_back("", 2.5);
    list.emplace_back("", std::string("x"));
    EXPECT_EQ(ConfigValue("LIST", list).to_text(), "LIST=[1,2.5000000000,\"x\"];");
    // An unnamed value is only its value.
    EXPECT_EQ(ConfigValue("", 7).to_text(), "7");
    EXPECT_EQ(ConfigValue("", list).to_text(), "[1,2.5000000000,\"x\"]");
}

TEST(ConfigValueText, RealsRoundAtTheTenthDecimal) {
    EXPECT_EQ(real_to_text(0.1), "0.1000000000");
    EXPECT_EQ(real_to_text(-0.25), "-0.2500000000");
    EXPECT_EQ(real_to_text(123456.789), "123456.7890000000");
    EXPECT_EQ(real_to_text(2.0 / 3.0), "0.6666666667");
    EXPECT_EQ(real_to_text(1e-10), "0.0000000001");
    EXPECT_EQ(real_to_text(6e-11), "0.0000000001");
    EXPECT_EQ(real_to_text(-6e-11), "-0.0000000001");
    EXPECT_EQ(real_to_text(1e15), "1000000000000000.0000000000");
    // Nothing left after rounding: written as 0.0, never as -0.0000000000.
    EXPECT_EQ(real_to_text(4e-11), "0.0");
    EXPECT_EQ(real_to_text(-4e-11), "0.0");
    EXPECT_EQ(real_to_text(0.0), "0.0");
    EXPECT_EQ(real_to_text(-0.0), "0.0");
}

TEST(ConfigValue, SettersChangeTheType) {
    ConfigValue v("X", 1);
    v.set_real(2.5);
    EXPECT_EQ(v.type(), ValueType::Real);
    EXPECT_EQ(v.to_text(), "X=2.5000000000;");
    v.set_string("s");
    EXPECT_EQ(v.type(), ValueType::String);
    v.set_elements({ConfigValue("", 3)});
    EXPECT_EQ(v.type(), ValueType::Array);
    EXPECT_EQ(v.to_text(), "X=[3];");
    v.set_elements({ConfigValue("", 4), ConfigValue("", 5)});
    EXPECT_EQ(v.to_text(), "X=[4,5];");  // old elements replaced, not kept
    v.set_int(-9);
    EXPECT_EQ(v.type(), ValueType::Integer);
    EXPECT_EQ(v.name(), "X");
}

TEST(ConfigValue, ShortValueIsTheLowSixteenBitsSigned) {
    EXPECT_EQ(ConfigValue("X", 70000).short_value(), 4464);
    EXPECT_EQ(ConfigValue("X", 40000).short_value(), -25536);
    EXPECT_EQ(ConfigValue("X", -1).short_value(), -1);
}

TEST(ConfigValue, RenderedEntriesReadBackAsTheSameValues) {
    std::vector<ConfigValue> written;
    written.emplace_back("I", -123);
    written.emplace_back("R", 3.14159265358979);
    written.emplace_back("Z", 1e-12);
    written.emplace_back("S", std::string("semi;colon, [bracket]\nline"));
    written.emplace_back("A", ConfigValue::Elements{ConfigValue("", 1), ConfigValue("", -0.5),
                                                    ConfigValue("", std::string("t"))});
    std::string text;
    for (const auto& v : written) text += v.to_text() + "\n";
    std::istringstream in(text);
    std::vector<ConfigValue> read;
    parse_config(in, read);
    ASSERT_EQ(read.size(), written.size());
    for (std::size_t i = 0; i < read.size(); ++i) {
        EXPECT_EQ(read[i].to_text(), written[i].to_text()) << i;
        EXPECT_EQ(read[i].type(), written[i].type()) << i;
    }
    EXPECT_EQ(read[1].real_value(), 3.1415926536);  // limited to ten decimals
    EXPECT_EQ(read[2].real_value(), 0.0);
    EXPECT_EQ(read[3].string_value(), "semi;colon, [bracket]\nline");
}

}  // namespace
