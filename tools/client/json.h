#pragma once
// The JSON forms of what the tools report: values, the status snapshot, a call's answer or
// failure, a motion's outcome. Keys keep the order written here (ordered_json), so the printed
// objects read the same from one release to the next.
//
// Texts that are not valid UTF-8 (column types are bytes to the selector) have each bad byte
// replaced by U+FFFD when dumped: dump() below never throws on them.
//
// Thread safety: plain functions.

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "interface/value.h"
#include "tools/client/selector.h"

namespace vantrel::ctl {

using Json = nlohmann::ordered_json;

// One line of JSON, bad UTF-8 replaced.
std::string dump(const Json& json);

// The value, or null when there is none (an answer that did not come).
template <class T>
Json optional_json(const std::optional<T>& value) {
    return value ? Json(*value) : Json(nullptr);
}

Json value_json(const Value& value);
Json status_json(const Snapshot& s, const std::string& interface);
// {"interface", "operation", "code", "result": 0, "values": [...]}
Json call_json(const std::string& interface, const Operation& op,
               const std::vector<Value>& results);
// {"interface", "operation", ["code"], "result", "error"}
Json failure_json(const std::string& interface, const std::string& operation,
                  std::optional<int> code, int result, const std::string& message);
Json outcome_json(const WaitOutcome& outcome, const std::string& interface,
                  std::optional<int> requested);

}  // namespace vantrel::ctl
