// vantrelctl's logic without a component: which operation a name means, how its arguments are
// read, the JSON texts, the time-out a session borrows, and the drawing of the rotor ring.
#include <gtest/gtest.h>

#include <set>

#include "interface/clients.h"
#include "tests/support/ipc_test.h"
#include "tests/tools/text_lines.h"
#include "tools/client/json.h"
#include "tools/client/operations.h"
#include "tools/vantrelctl_views.h"

using namespace vantrel;
using namespace vantrel::ctl;

namespace {

TEST(OperationNames, EveryCommonAndSelectorCodeIsReachableByItsTableName) {
    const VantrelIF table("unused");
    for (int code = 0; code <= 30; ++code) {
        const Operation* op = table.layout().find(static_cast<std::uint16_t>(code));
        ASSERT_NE(op, nullptr) << code;
        const auto named = find_operation(op->name);
        ASSERT_TRUE(named) << op->name;
        EXPECT_EQ(named->op->code, code) << op->name;
        EXPECT_EQ(named->op->arguments, op->arguments) << op->name;
        // Codes 0-11 go to any component, 12-30 only to a column selector.
        EXPECT_EQ(named->kind.has_value(), code >= 12) << op->name;
    }
}

TEST(OperationNames, PeerOperationsBelongToTheirKindAndOthersAreUnknown) {
    const auto id = find_operation("get_ID");
    ASSERT_TRUE(id);
    EXPECT_EQ(id->kind, Kind::board_manager);
    EXPECT_EQ(id->op->code, 12);
    for (const char* name : {"get_inhibit_state", "emergency", "reset_error_state"}) {
        const auto op = find_operation(name);
        ASSERT_TRUE(op) << name;
        EXPECT_EQ(op->kind, Kind::sipper) << name;
    }
    EXPECT_EQ(find_operation("get_inhibit_state")->op->code, 37);
    EXPECT_FALSE(find_operation("get_new_label"));  // not called in this system
    EXPECT_FALSE(find_operation("Home"));
    EXPECT_FALSE(find_operation(""));
    const std::string listing = operations_listing();
    EXPECT_NE(listing.find("set_sample_count COLUMN COUNT"), std::string::npos) << listing;
    EXPECT_NE(listing.find("get_ID"), std::string::npos);
}

TEST(OperationNames, WellKnownInterfacesGiveTheirKind) {
    EXPECT_EQ(kind_for_interface("Vantrel"), Kind::selector);
    EXPECT_EQ(kind_for_interface("RotaryMC"), Kind::board_manager);
    EXPECT_EQ(kind_for_interface("LinearMC"), Kind::board_manager);
    EXPECT_EQ(kind_for_interface("Sipper"), Kind::sipper);
    EXPECT_EQ(kind_for_interface("LogServer"), Kind::log_server);
    EXPECT_EQ(kind_for_interface("vantrel"), Kind::component);
}

// The message of the UsageError that parsing `words` for `name` throws, or "" when none.
std::string refusal(const std::string& name, const std::vector<std::string>& words) {
    try {
        parse_arguments(*find_operation(name)->op, words);
    } catch (const UsageError& e) {
        return e.what();
    }
    return "";
}

TEST(Arguments, AreReadByTheirTypesAndNothingElseGetsThrough) {
    const auto set_limits =
        parse_arguments(*find_operation("set_pres_limits")->op, {"2.5", "-1e3"});
    EXPECT_EQ(std::get<double>(set_limits.at(0)), 2.5);
    EXPECT_EQ(std::get<double>(set_limits.at(1)), -1000.0);
    const auto type = parse_arguments(*find_operation("set_column_type")->op, {"+7", "C18 guard"});
    EXPECT_EQ(std::get<std::int32_t>(type.at(0)), 7);
    EXPECT_EQ(std::get<std::string>(type.at(1)), "C18 guard");
    EXPECT_EQ(
        std::get<std::int32_t>(
            parse_arguments(*find_operation("set_current_column")->op, {"-2147483648"}).at(0)),
        -2147483647 - 1);

    for (const char* bad : {"3x", "", "1.5", "0x10", "2147483648", " 3"}) {
        const std::string why = refusal("set_current_column", {bad});
        EXPECT_NE(why.find("COLUMN must be an integer"), std::string::npos) << bad << ": " << why;
    }
    for (const char* bad : {"nan", "inf", "1,5", "1e999", "-"})
        EXPECT_NE(refusal("set_pres_limits", {"1", bad}).find("P3 must be a finite number"),
                  std::string::npos)
            << bad;
    // A text the wire would cut is refused rather than sent cut.
    EXPECT_NE(refusal("set_column_type", {"1", std::string(4096, 'x')}).find("at most 4095"),
              std::string::npos);
    EXPECT_EQ(refusal("set_column_type", {"1", std::string(4095, 'x')}), "");
    const std::string count = refusal("set_pres_limits", {"1"});
    EXPECT_NE(count.find("takes 2 arguments: P1 (a number), P3 (a number); 1 given"),
              std::string::npos)
        << count;
    EXPECT_NE(refusal("home", {"1"}).find("takes 0 arguments"), std::string::npos);
}

TEST(Texts, ValuesAndJsonAreExact) {
    auto json = [](const Value& v) { return dump(value_json(v)); };
    EXPECT_EQ(json(std::string("a\"b\\c\nd\x01")), "\"a\\\"b\\\\c\\nd\\u0001\"");
    EXPECT_EQ(json(std::string("Säule")), "\"Säule\"");          // UTF-8 passes as it is
    EXPECT_EQ(json(std::string("a\xff")), "\"a\xEF\xBF\xBD\"");  // a bad byte is replaced
    EXPECT_EQ(json(Value{0.1}), "0.1");
    EXPECT_EQ(json(Value{true}), "true");
    // The printed object keeps the order scripts have seen.
    EXPECT_EQ(dump(call_json("Vantrel", *find_operation("get_pres_limits")->op,
                             {Value{2.5}, Value{7.25}})),
              "{\"interface\":\"Vantrel\",\"operation\":\"get_pres_limits\",\"code\":22,"
              "\"result\":0,\"values\":[2.5,7.25]}");
    EXPECT_EQ(format_value(Value{7.25}), "7.25");
    EXPECT_EQ(format_value(Value{false}), "false");
    EXPECT_STREQ(state_name(3), "INIT_FAILED");
}

// The labels of the ring, in reading order: "n" for a plain one (a number between blanks), "[n]"
// for the marked one.
std::vector<std::string> labels(const std::string& drawing) {
    std::vector<std::string> out;
    auto digit = [](char c) { return c >= '0' && c <= '9'; };
    std::istringstream lines(drawing);
    for (std::string line; std::getline(lines, line);) {
        for (std::size_t i = 0; i < line.size();) {
            if (!digit(line[i])) {
                ++i;
                continue;
            }
            std::size_t end = i;
            while (end < line.size() && digit(line[end])) ++end;
            const bool marked =
                i > 0 && line[i - 1] == '[' && end < line.size() && line[end] == ']';
            const bool plain =
                (i == 0 || line[i - 1] == ' ') && (end == line.size() || line[end] == ' ');
            if (marked) out.push_back("[" + line.substr(i, end - i) + "]");
            if (plain) out.push_back(line.substr(i, end - i));
            i = end;
        }
    }
    return out;
}

TEST(Ring, TheCurrentColumnStandsMarkedUnderTheWorkingPlace) {
    for (int capacity : {6, 12}) {
        for (int current = 1; current <= capacity; ++current) {
            const std::string ring = draw_ring({capacity, double(current), current, ""}, false);
            std::istringstream lines(ring);
            std::string title, marker, top;
            std::getline(lines, title);
            std::getline(lines, marker);
            std::getline(lines, top);
            ASSERT_NE(title.find("working place"), std::string::npos) << ring;
            const auto v = marker.find('v');
            const std::string mark = "[" + std::to_string(current) + "]";
            const auto at = top.find(mark);
            ASSERT_NE(at, std::string::npos) << ring;
            EXPECT_TRUE(v >= at && v < at + mark.size()) << ring;

            // Every column once, only the current one marked.
            std::multiset<std::string> seen;
            for (const auto& l : labels(ring)) seen.insert(l);
            for (int k = 1; k <= capacity; ++k) {
                const std::string plain = std::to_string(k);
                const std::string marked = "[" + plain + "]";
                EXPECT_EQ(seen.count(k == current ? marked : plain), 1u) << k << "\n" << ring;
                EXPECT_EQ(seen.count(k == current ? plain : marked), 0u) << k << "\n" << ring;
            }
        }
    }
}

TEST(Ring, ParkMarksNothingAndTheTerminalSeesTheMarkInReverse) {
    const std::string park = draw_ring({6, 0.5, 0, "park"}, false);
    EXPECT_EQ(park.find('['), std::string::npos) << park;
    EXPECT_NE(park.find("park"), std::string::npos);
    EXPECT_EQ(labels(park).size(), 6u) << park;
    EXPECT_NE(draw_ring({6, 4.0, 4, ""}, true).find("\033[7m[4]\033[0m"), std::string::npos);

    Snapshot s;
    s.state = 1;
    s.device_present = true;
    s.capacity = 12;
    s.column = 5;
    double last = 1.0;
    RingView view = ring_view(s, last);
    EXPECT_EQ(view.highlighted, 5);
    EXPECT_EQ(view.top, 5.0);
    s.column = -1;
    s.busy = true;
    view = ring_view(s, last);  // between columns: the ring stays where it was last seen
    EXPECT_EQ(view.top, 5.0);
    EXPECT_EQ(view.highlighted, 0);
    EXPECT_EQ(view.caption, "moving");
    EXPECT_EQ(view.capacity, 12);
}

TEST(Status, TheTableMarksTheCurrentColumnAndUnknownsSayWhy) {
    Snapshot s;
    s.name = "Vantrel";
    s.state = 1;
    s.device_present = true;
    s.capacity = 6;
    s.homed = true;
    s.busy = false;
    s.column = 2;
    s.columns.resize(6);
    s.columns[1] = {"C18 guard", 41};
    const std::string text = render_status(s, "Vantrel");
    EXPECT_TRUE(test::has_exact_line(text, "> 2 C18 guard 41")) << text;
    int marked = 0;
    for (const auto& line : test::squeezed_lines(text)) marked += line.rfind(">", 0) == 0;
    EXPECT_EQ(marked, 1) << text;

    Snapshot fresh;
    fresh.device_present = true;
    const std::string before = render_status(fresh, "Vantrel");
    EXPECT_NE(before.find("homed            - (not initialised: send reset)"), std::string::npos)
        << before;
    EXPECT_NE(dump(status_json(fresh, "Vantrel")).find("\"homed\":null"), std::string::npos);
}

class SessionTest : public test::IpcTest {};

TEST_F(SessionTest, UsesItsOwnTimeOutAndNeverWritesTheSharedOne) {
    VantrelIF holder("Vantrel");
    ASSERT_TRUE(holder.open());
    ASSERT_EQ(holder.call_timeout(), 20000);
    {
        GenericClient client("Vantrel", Kind::selector);
        Session session(client, 300);
        ASSERT_EQ(session.open(), 0);
        EXPECT_FALSE(session.nobody_holds());
        EXPECT_FALSE(session.other_kind());
        EXPECT_EQ(client.own_timeout(), 300);
        EXPECT_EQ(holder.call_timeout(), 20000);
    }
    EXPECT_EQ(holder.call_timeout(), 20000);
    {
        GenericClient board("Vantrel", Kind::board_manager);
        Session session(board, 300);
        ASSERT_EQ(session.open(), 0);
        EXPECT_TRUE(session.other_kind());
        EXPECT_EQ(session.found_size(), holder.properties_size());
    }
    GenericClient nobody("NobodyHere", Kind::component);
    Session session(nobody, 300);
    ASSERT_EQ(session.open(), 0);
    EXPECT_TRUE(session.nobody_holds());
    EXPECT_NE(describe_failure(session, "get_state", kCallNoCompletion)
                  .find("nothing serves \"NobodyHere\""),
              std::string::npos);
}

}  // namespace
