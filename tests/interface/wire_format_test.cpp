// Records and values byte for byte as peers built elsewhere expect them, and decoding that refuses
// records not matching their operation's layout.
#include <gtest/gtest.h>

#include <cstring>

#include "interface/call_record.h"
#include "interface/operation.h"
#include "platform/exception.h"

using namespace vantrel;

namespace {

constexpr auto I = WireType::integer;
constexpr auto B = WireType::truth;
constexpr auto R = WireType::real;
constexpr auto T = WireType::text;

std::uint16_t u16_at(const RecordBytes& r, std::size_t at) {
    return static_cast<std::uint16_t>(r[at] | r[at + 1] << 8);
}

struct Layouts {
    InterfaceLayout layout;
    Operation no_args, one_int, text_to_int, one_way_text_int, reals, flag;
    Layouts() {
        no_args = layout.add_two_way_with_slots("get_state", 5, {}, {I});
        one_int = layout.add_two_way_with_slots("get_sample_count", 18, {I}, {I});
        text_to_int = layout.add_two_way_with_slots("save_config", 6, {T}, {I});
        one_way_text_int = layout.add_one_way("log_msg", 9, {T, I});
        reals = layout.add_one_way("set_pres_limits", 23, {R, R});
        flag = layout.add_two_way_with_slots("homed", 28, {B}, {B});
    }
};

TEST(WireFormat, RecordLengthsAndOffsetsFollowTheOperationLayout) {
    Layouts l;
    const RecordBytes a = encode_call(l.no_args, {}, 0x01020304);
    ASSERT_EQ(a.size(), 8u);
    EXPECT_EQ(u16_at(a, 0), 8);
    EXPECT_EQ(u16_at(a, 2), 5);
    EXPECT_EQ(get_int32(&a[4]), 0x01020304);
    EXPECT_EQ(a[4], 0x04);  // little-endian

    const Value column[] = {std::int32_t{-3}};
    const RecordBytes b = encode_call(l.one_int, column, 77);
    ASSERT_EQ(b.size(), 12u);
    EXPECT_EQ(get_int32(&b[4]), -3);
    EXPECT_EQ(get_int32(&b[8]), 77);

    const Value file[] = {std::string("a.cfg")};
    const RecordBytes c = encode_call(l.text_to_int, file, 9);
    ASSERT_EQ(c.size(), 4104u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&c[4])), "a.cfg");
    EXPECT_EQ(get_int32(&c[4100]), 9);

    const Value message[] = {std::string(5000, 'x'), std::int32_t{2}};
    const RecordBytes d = encode_call(l.one_way_text_int, message);
    ASSERT_EQ(d.size(), 4104u);
    EXPECT_EQ(d[4 + 4094], 'x');
    EXPECT_EQ(d[4099], 0);  // a longer text is cut to 4095 characters
    EXPECT_EQ(get_int32(&d[4100]), 2);

    const Value limits[] = {1.5, -2.25e300};
    const RecordBytes e = encode_call(l.reals, limits);
    ASSERT_EQ(e.size(), 20u);
    EXPECT_EQ(get_real(&e[4]), 1.5);
    EXPECT_EQ(get_real(&e[12]), -2.25e300);

    const Value yes[] = {true};
    EXPECT_EQ(get_int32(&encode_call(l.flag, yes, 1)[4]), 1);
    const Value no[] = {false};
    EXPECT_EQ(get_int32(&encode_call(l.flag, no, 1)[4]), 0);
}

TEST(WireFormat, SlotsAreLaidOutInOrderFromTheHeader) {
    InterfaceLayout layout;
    EXPECT_EQ(layout.properties_size(), 12u);
    const Operation name = layout.add_two_way_with_slots("get_name", 4, {}, {T});
    const Operation state = layout.add_two_way_with_slots("get_state", 5, {}, {I});
    const Operation limits = layout.add_two_way_with_slots("get_pres_limits", 22, {}, {R, R});
    EXPECT_EQ(name.results[0].offset, 12u);
    EXPECT_EQ(state.results[0].offset, 4108u);
    EXPECT_EQ(limits.results[0].offset, 4112u);
    EXPECT_EQ(limits.results[1].offset, 4120u);
    EXPECT_EQ(layout.properties_size(), 4128u);
    EXPECT_EQ(layout.code_of("get_state"), 5);
    EXPECT_EQ(layout.find(22)->name, "get_pres_limits");
    EXPECT_THROW(layout.add_one_way("again", 5, {}), Exception);
    EXPECT_THROW(layout.add_one_way("get_name", 40, {}), Exception);
    EXPECT_THROW(layout.add_one_way("huge", 41, std::vector<WireType>(16, T)), Exception);
}

TEST(WireFormat, ValuesOfTheWrongTypeOrCountAreAFaultOfTheCaller) {
    Layouts l;
    const Value wrong[] = {std::string("3")};
    EXPECT_THROW(encode_call(l.one_int, wrong, 1), Exception);
    EXPECT_THROW(encode_call(l.one_int, {}, 1), Exception);
}

TEST(WireFormat, DecodingRefusesRecordsShorterThanTheLayoutAndReadsLongerOnesAtItsOffsets) {
    Layouts l;
    const Value args[] = {std::string("x"), std::int32_t{4}};
    const RecordBytes good = encode_call(l.one_way_text_int, args);
    const auto decoded = CallRecord(good).decode(l.one_way_text_int);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->text(0), "x");
    EXPECT_EQ(decoded->integer(1), 4);

    RecordBytes truncated(good.begin(), good.begin() + 100);  // length field still says 4104
    EXPECT_FALSE(CallRecord(truncated).decode(l.one_way_text_int));
    truncated[0] = 100;
    truncated[1] = 0;  // length field agrees, but the layout needs 4104
    EXPECT_FALSE(CallRecord(truncated).decode(l.one_way_text_int));
    RecordBytes longer = good;
    longer.resize(4108, 'z');
    EXPECT_FALSE(CallRecord(longer).decode(l.one_way_text_int));  // length field says 4104
    longer[0] = 4108 & 0xFF;
    longer[1] = 4108 >> 8;
    const auto extended = CallRecord(longer).decode(l.one_way_text_int);
    ASSERT_TRUE(extended);
    EXPECT_EQ(extended->text(0), "x");
    EXPECT_EQ(extended->integer(1), 4);
    EXPECT_FALSE(CallRecord(good).decode(l.reals));  // another code
    EXPECT_FALSE(CallRecord(RecordBytes{4, 0}).decode(l.no_args));
    EXPECT_EQ(CallRecord(RecordBytes{4}).code(), 0);
}

TEST(WireFormat, TextFieldWithoutNulIsReadAsItsFirst4095Characters) {
    RecordBytes field(4096, 'q');
    EXPECT_EQ(get_text(field.data()), std::string(4095, 'q'));
    field[10] = 0;
    EXPECT_EQ(get_text(field.data()), std::string(10, 'q'));
    EXPECT_EQ(cut_text(std::string("ab\0cd", 5)), "ab");
}

}  // namespace
