#include "tools/client/operations.h"

#include <array>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <map>
#include <utility>

#include "interface/component_interface.h"
#include "interface/operation_tables.h"
#include "platform/object_name.h"

namespace vantrel::ctl {
namespace {

// Every table has at most two arguments and two results; the generic call spells out the
// initializer lists up to that size.
constexpr std::size_t kMaxValues = 2;

void enter_operations(InterfaceLayout& layout, Kind kind) {
    add_component_operations(layout);
    switch (kind) {
        case Kind::component:
            break;
        case Kind::selector:
            add_vantrel_operations(layout);
            break;
        case Kind::board_manager:
            add_board_manager_operations(layout);
            break;
        case Kind::sipper:
            add_sipper_operations(layout);
            break;
        case Kind::log_server:
            add_log_server_operations(layout);
            break;
    }
}

// The operations offered, in the order of the usage text. Of the board manager and the sipper only
// what this system calls: their other operations are not ours to drive.
struct Catalogue {
    struct Group {
        std::optional<Kind> kind;
        std::string title;
        std::vector<const Operation*> operations;
    };
    std::map<Kind, InterfaceLayout> layouts;
    std::vector<Group> groups;

    Catalogue() {
        for (Kind k : {Kind::component, Kind::selector, Kind::board_manager, Kind::sipper})
            enter_operations(layouts[k], k);
        auto codes = [&](Kind k, int first, int last) {
            std::vector<const Operation*> ops;
            for (int code = first; code <= last; ++code)
                if (const Operation* op = layouts[k].find(static_cast<std::uint16_t>(code)))
                    ops.push_back(op);
            return ops;
        };
        auto named = [&](Kind k, std::initializer_list<const char*> names) {
            std::vector<const Operation*> ops;
            for (const char* n : names) ops.push_back(layouts[k].find(std::string_view(n)));
            return ops;
        };
        groups.push_back(
            {std::nullopt, "every component (codes 0-11)", codes(Kind::component, 0, 11)});
        groups.push_back(
            {Kind::selector, "column selector (codes 12-30)", codes(Kind::selector, 12, 30)});
        groups.push_back({Kind::board_manager,
                          "motion-board manager (--interface RotaryMC or LinearMC)",
                          named(Kind::board_manager, {"get_ID"})});
        groups.push_back(
            {Kind::sipper, "sipper (--interface Sipper)",
             named(Kind::sipper, {"get_inhibit_state", "emergency", "reset_error_state"})});
    }
};

const Catalogue& catalogue() {
    static const Catalogue instance;
    return instance;
}

// Names of the arguments, for the usage text and messages; the tables know only their types.
std::vector<std::string> argument_names(const Operation& op) {
    static const std::map<std::string, std::vector<std::string>, std::less<>> names = {
        {"save_config", {"FILE"}},
        {"delete_config", {"FILE"}},
        {"load_config", {"FILE"}},
        {"log_msg", {"MESSAGE", "LEVEL"}},
        {"set_current_column", {"COLUMN"}},
        {"get_column_type", {"COLUMN"}},
        {"set_column_type", {"COLUMN", "TYPE"}},
        {"get_sample_count", {"COLUMN"}},
        {"set_auto_column_switch", {"VALUE"}},
        {"set_pres_limits", {"P1", "P3"}},
        {"reset_sample_count", {"COLUMN"}},
        {"set_sample_count", {"COLUMN", "COUNT"}},
    };
    std::vector<std::string> out;
    const auto it = names.find(op.name);
    for (std::size_t i = 0; i < op.arguments.size(); ++i) {
        if (it != names.end() && i < it->second.size()) {
            out.push_back(it->second[i]);
        } else {
            std::string t = to_string(op.arguments[i]);
            for (char& c : t) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            out.push_back(t);
        }
    }
    return out;
}

const char* type_description(WireType type) {
    switch (type) {
        case WireType::integer:
            return "an integer";
        case WireType::truth:
            return "0 or 1";
        case WireType::real:
            return "a number";
        case WireType::text:
            return "a text";
    }
    return "a value";
}

Value parse_one(const std::string& word, WireType type, const Operation& op,
                const std::string& argument) {
    auto refuse = [&](const std::string& why) {
        return UsageError("\"" + op.name + "\": " + argument + " " + why);
    };
    switch (type) {
        case WireType::integer:
        case WireType::truth: {
            std::int32_t value = 0;
            const char* end = word.data() + word.size();
            const char* first = word.data();
            if (first != end && *first == '+') ++first;
            const auto [ptr, ec] = std::from_chars(first, end, value);
            if (word.empty() || ec == std::errc::result_out_of_range)
                throw refuse("must be an integer from " +
                             std::to_string(std::numeric_limits<std::int32_t>::min()) + " to " +
                             std::to_string(std::numeric_limits<std::int32_t>::max()) + ", not \"" +
                             word + "\"");
            if (ec != std::errc() || ptr != end)
                throw refuse("must be an integer, not \"" + word + "\"");
            if (type == WireType::truth) return value != 0;
            return value;
        }
        case WireType::real: {
            char* end = nullptr;
            errno = 0;
            const double value = std::strtod(word.c_str(), &end);
            if (word.empty() || end != word.c_str() + word.size() || !std::isfinite(value) ||
                errno == ERANGE)
                throw refuse("must be a finite number, not \"" + word + "\"");
            return value;
        }
        case WireType::text:
            // The wire field holds 4095 characters; a longer text would arrive cut.
            if (word.size() > kMaxTextLength)
                throw refuse("is " + std::to_string(word.size()) + " characters long; at most " +
                             std::to_string(kMaxTextLength) + " fit");
            return word;
    }
    throw refuse("has a type vantrelctl cannot send");
}

std::string shortest(double value) {
    std::array<char, 64> buffer{};
    const auto [ptr, ec] = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
    if (ec != std::errc()) return "nan";
    return std::string(buffer.data(), ptr);
}

}  // namespace

const char* kind_name(Kind kind) {
    switch (kind) {
        case Kind::component:
            return "component";
        case Kind::selector:
            return "column selector";
        case Kind::board_manager:
            return "motion-board manager";
        case Kind::sipper:
            return "sipper";
        case Kind::log_server:
            return "log server";
    }
    return "component";
}

Kind kind_for_interface(std::string_view name) {
    if (name == "Vantrel") return Kind::selector;
    if (name == "RotaryMC" || name == "LinearMC") return Kind::board_manager;
    if (name == "Sipper") return Kind::sipper;
    if (name == "LogServer") return Kind::log_server;
    return Kind::component;
}

std::optional<NamedOperation> find_operation(std::string_view name) {
    for (const auto& group : catalogue().groups)
        for (const Operation* op : group.operations)
            if (op->name == name) return NamedOperation{group.kind, op};
    return std::nullopt;
}

std::string operation_synopsis(const Operation& op) {
    std::string text = op.name;
    for (const auto& a : argument_names(op)) text += " " + a;
    return text;
}

std::string operations_listing() {
    std::string out;
    for (const auto& group : catalogue().groups) {
        out += "  " + group.title + ":\n";
        std::string line = "   ";
        for (const Operation* op : group.operations) {
            const std::string item = " " + operation_synopsis(*op);
            if (line.size() + item.size() > 96) {
                out += line + "\n";
                line = "   ";
            }
            line += item + (op == group.operations.back() ? "" : ",");
        }
        out += line + "\n";
    }
    return out;
}

std::vector<Value> parse_arguments(const Operation& op, const std::vector<std::string>& words) {
    const auto names = argument_names(op);
    if (words.size() != op.arguments.size()) {
        std::string expected;
        for (std::size_t i = 0; i < names.size(); ++i)
            expected += std::string(i == 0 ? ": " : ", ") + names[i] + " (" +
                        type_description(op.arguments[i]) + ")";
        throw UsageError("\"" + op.name + "\" takes " + std::to_string(op.arguments.size()) +
                         (op.arguments.size() == 1 ? " argument" : " arguments") + expected + "; " +
                         std::to_string(words.size()) + " given");
    }
    std::vector<Value> values;
    for (std::size_t i = 0; i < words.size(); ++i)
        values.push_back(parse_one(words[i], op.arguments[i], op, names[i]));
    return values;
}

std::string format_value(const Value& value) {
    switch (type_of(value)) {
        case WireType::integer:
            return std::to_string(std::get<std::int32_t>(value));
        case WireType::truth:
            return std::get<bool>(value) ? "true" : "false";
        case WireType::real:
            return shortest(std::get<double>(value));
        case WireType::text:
            return std::get<std::string>(value);
    }
    return "";
}

const char* state_name(int state) {
    switch (state) {
        case 0:
            return "UNINITIALIZED";
        case 1:
            return "READY";
        case 2:
            return "RUNNING";
        case 3:
            return "INIT_FAILED";
    }
    return "unknown state";
}

GenericClient::GenericClient(std::string name, Kind kind)
    : InterfaceClient(std::move(name)), kind_(kind) {
    enter_operations(layout(), kind);
    set_queue_size(kQueueSize);
}

bool is_query(const Operation& op) {
    return op.kind == CallKind::two_way && op.name != "save_config" && op.name != "delete_config" &&
           op.name != "load_config";
}

int GenericClient::call(const Operation& op, const std::vector<Value>& arguments,
                        std::vector<Value>& results) {
    if (is_query(op)) return ask([&] { return call_once(op, arguments, results); });
    return call_once(op, arguments, results);
}

int GenericClient::call_once(const Operation& op, const std::vector<Value>& arguments,
                             std::vector<Value>& results) {
    results.clear();
    for (const Slot& slot : op.results) results.push_back(zero_value(slot.type));
    if (arguments.size() > kMaxValues || results.size() > kMaxValues)
        throw UsageError("\"" + op.name + "\" has more values than vantrelctl can pass");
    std::vector<Out> outs;
    for (Value& v : results) std::visit([&](auto& target) { outs.emplace_back(target); }, v);

    if (op.kind == CallKind::one_way) {
        switch (arguments.size()) {
            case 0:
                return call_one_way(op, {});
            case 1:
                return call_one_way(op, {arguments[0]});
            default:
                return call_one_way(op, {arguments[0], arguments[1]});
        }
    }
    auto with_results = [&](auto args) {
        switch (outs.size()) {
            case 0:
                return call_spelled(op, arguments, outs, args, std::make_index_sequence<0>{});
            case 1:
                return call_spelled(op, arguments, outs, args, std::make_index_sequence<1>{});
            default:
                return call_spelled(op, arguments, outs, args, std::make_index_sequence<2>{});
        }
    };
    switch (arguments.size()) {
        case 0:
            return with_results(std::make_index_sequence<0>{});
        case 1:
            return with_results(std::make_index_sequence<1>{});
        default:
            return with_results(std::make_index_sequence<2>{});
    }
}

int GenericClient::get_state(std::int32_t& state) {
    std::vector<Value> results;
    const int result = call(*operation("get_state"), {}, results);
    state = std::get<std::int32_t>(results.at(0));
    return result;
}

Session::Session(InterfaceClient& client, int timeout_ms)
    : client_(client), timeout_ms_(timeout_ms) {}

int Session::open() {
    if (timeout_ms_ >= 0) client_.set_open_limit(timeout_ms_);
    if (!client_.open()) {
        failure_ = client_.open_error();
        return kCallNotOpen;
    }
    created_ = client_.properties_created();
    client_.set_own_timeout(timeout_ms_);
    return kCallDone;
}

bool Session::other_kind() const {
    return client_.mapped_properties_size() != client_.properties_size();
}

std::string describe_failure(const Session& session, const std::string& operation, int result) {
    const std::string where = "\"" + session.interface() + "\"";
    std::string scope;
    try {
        scope = platform::ipc_scope();
    } catch (const std::exception&) {
        scope = "?";
    }
    const std::string ms = std::to_string(session.timeout_ms()) + " ms";
    const std::string prefix = "\"" + operation + "\" on " + where + " failed: ";
    switch (result) {
        case kCallNoRecord:
            return prefix + "the call record could not be built";
        case kCallMutexTimeout:
            return prefix + "another caller held the interface for more than " + ms +
                   "; a call may be stuck on " + where;
        case kCallQueueFull:
            return prefix + "the command queue of " + where +
                   " is full; the component is not taking calls (is it running?)";
        case kCallNoCompletion:
            if (session.nobody_holds())
                return prefix + "nothing serves " + where + " in IPC scope \"" + scope +
                       "\": the component is not running (or runs under another "
                       "VANTREL_IPC_SCOPE)";
            return prefix + "nothing answered on " + where + " within " + ms +
                   "; the component may not be running, or is busy";
        case kCallOtherCompletion:
            return prefix + "a completion came for another call on " + where +
                   " (a server went away, or an earlier caller gave up); the call itself may "
                   "still be carried out";
        case kCallNotOpen:
            if (!session.failure().empty()) return prefix + session.failure();
            return prefix + where + " is not usable for this operation (its result slots lie " +
                   "outside the interface's shared memory)";
    }
    return prefix + describe_call_result(result);
}

std::optional<Refusal> check_served(const Session& session, const std::string& operation,
                                    std::optional<Kind> kind, std::size_t expected_size) {
    // No other process had the interface open: no call can be answered, so do not wait for one.
    if (session.nobody_holds())
        return Refusal{kCallNoCompletion, describe_failure(session, operation, kCallNoCompletion)};
    if (kind && session.other_kind())
        return Refusal{kCallNotOpen, "\"" + operation + "\" is an operation of a " +
                                         kind_name(*kind) + ", and \"" + session.interface() +
                                         "\" does not belong to one: its shared properties have " +
                                         std::to_string(session.found_size()) + " bytes, a " +
                                         kind_name(*kind) + "'s have " +
                                         std::to_string(expected_size)};
    return std::nullopt;
}

int call_checked(GenericClient& client, const Operation& op, const std::vector<Value>& arguments,
                 std::vector<Value>& results) {
    if (op.kind == CallKind::one_way) {
        std::int32_t state = 0;
        if (const int r = client.get_state(state); r != 0) return r;
    }
    return client.call(op, arguments, results);
}

}  // namespace vantrel::ctl
