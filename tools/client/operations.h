#pragma once
// The call side shared by the tools that drive the analyser by operation name (vantrelctl,
// vantrel-gateway, vantrel-sim):
//  - which component kind offers an operation a user names, and the interface a kind is usually
//    reached under;
//  - GenericClient, which calls any operation of its kind's table with values parsed from text;
//  - Session, which opens a client with a call time-out of its own for a few calls;
//  - the texts of results and of failed calls.
//
// Thread safety: everything here is for one thread; the tables are built once and read-only.

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "interface/component_interface.h"
#include "interface/interface_client.h"
#include "interface/operation.h"
#include "interface/value.h"
#include "platform/clock.h"

namespace vantrel::ctl {

// Exit statuses of the tools besides the call results 1 to 6.
inline constexpr int kExitMotionFailed = 7;
inline constexpr int kExitUsage = 64;
inline constexpr int kExitInternal = 70;

// The component kinds a client can be laid out for. The kind fixes the operation table and the
// properties size the client creates an interface with.
enum class Kind { component, selector, board_manager, sipper, log_server };

// "column selector", "motion-board manager", ...
const char* kind_name(Kind kind);

// The kind of component the analyser runs under a well-known interface name ("Vantrel",
// "RotaryMC", "LinearMC", "Sipper", "LogServer"); Kind::component for any other name.
Kind kind_for_interface(std::string_view name);

// Thrown for a command line that cannot be understood; the message says what is wrong.
class UsageError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// An operation a user may call by name: its kind (nullopt for the operations every component
// offers) and its table entry.
struct NamedOperation {
    std::optional<Kind> kind;
    const Operation* op = nullptr;
};

// The operation of that name among those vantrelctl offers, or nullopt.
std::optional<NamedOperation> find_operation(std::string_view name);

// Every offered operation with its arguments, in groups, for the usage text.
std::string operations_listing();

// "set_column_type COLUMN TYPE"
std::string operation_synopsis(const Operation& op);

// Turns the words after the operation name into its arguments. Throws UsageError naming the
// operation, the argument and what was expected.
std::vector<Value> parse_arguments(const Operation& op, const std::vector<std::string>& words);

// A value as plain text (truth values as true/false, reals in their shortest exact form).
std::string format_value(const Value& value);

// State names of get_state's answer.
const char* state_name(int state);

// A caller can be woken by a completion that is not its own (a server that went away, or an
// earlier caller that gave up on its call): it then reports 5 while its own call may still run.
// A query is simply asked again once the stray completions have passed; `call` gives the call
// result.
template <class Call>
int ask(Call&& call) {
    constexpr int kAttempts = 5;
    constexpr long kPauseMs = 30;
    for (int attempt = 1;; ++attempt) {
        const int result = call();
        if (result != kCallOtherCompletion || attempt == kAttempts) return result;
        platform::sleep_ms(kPauseMs);
    }
}

// True for a two-way operation without side effects, which may be asked twice.
bool is_query(const Operation& op);

// A client of one component kind that calls any operation of its table; queries are asked again
// after a stray completion (see ask).
class GenericClient : public InterfaceClient {
  public:
    GenericClient(std::string name, Kind kind);

    Kind kind() const { return kind_; }
    // The table entry of `name` in this client's table, or nullptr.
    const Operation* operation(std::string_view name) const { return layout().find(name); }
    // Calls `op` (an entry of this client's table) with `arguments` of its argument types.
    // `results` receives one value per result slot (zeros unless the result is 0).
    int call(const Operation& op, const std::vector<Value>& arguments, std::vector<Value>& results);
    // get_state, for probes.
    int get_state(std::int32_t& state);

  private:
    int call_once(const Operation& op, const std::vector<Value>& arguments,
                  std::vector<Value>& results);
    // The two-way call with its initializer lists spelled out from vectors of known size.
    template <std::size_t... A, std::size_t... R>
    int call_spelled(const Operation& op, const std::vector<Value>& arguments,
                     const std::vector<Out>& outs, std::index_sequence<A...>,
                     std::index_sequence<R...>) {
        return call_two_way(op, {arguments[A]...}, {outs[R]...});
    }

    Kind kind_;
};

// A client opened for a few calls with a call time-out of the caller's choice. The time-out is
// the client's own limit: the interface's shared call time-out is never written, so no other user
// of the interface sees it, whatever happens to this process. Opening waits no longer than the
// time-out either (for a lock that another process keeps on one of the interface's objects). The
// client is the caller's and must outlive the session.
class Session {
  public:
    Session(InterfaceClient& client, int timeout_ms);

    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // 0 when the client is open; otherwise the call result to report (kCallNotOpen) and
    // failure() says why.
    int open();
    // True when opening created the interface's objects: no process had them open, so nothing
    // serves the interface.
    bool nobody_holds() const { return created_; }
    // True when the interface was created by a class of another size than the client's: it
    // belongs to another kind of component (or was made by a client with fewer result slots).
    bool other_kind() const;
    std::size_t found_size() const { return client_.mapped_properties_size(); }

    const std::string& interface() const { return client_.name(); }
    int timeout_ms() const { return timeout_ms_; }
    const std::string& failure() const { return failure_; }

  private:
    InterfaceClient& client_;
    int timeout_ms_;
    bool created_ = false;
    std::string failure_;
};

// One line explaining why `operation` on `interface` failed with call result `result`.
std::string describe_failure(const Session& session, const std::string& operation, int result);

// After Session::open: why the interface cannot be called for an operation of `kind` (nothing
// serves it, or it belongs to another kind of component), as the call result to report and its
// message; nullopt when it can be called. `kind` nullopt: an operation every component offers.
struct Refusal {
    int result = 0;
    std::string message;
};
std::optional<Refusal> check_served(const Session& session, const std::string& operation,
                                    std::optional<Kind> kind, std::size_t expected_size);

// Calls `op` once the session is open and served. A one-way call only queues its record, so
// something must answer get_state first, or a request to a component that is not running would
// look done. 0, or the failing call's result.
int call_checked(GenericClient& client, const Operation& op, const std::vector<Value>& arguments,
                 std::vector<Value>& results);

}  // namespace vantrel::ctl
