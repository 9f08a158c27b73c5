#include "tools/client/json.h"

#include <cmath>

#include "tools/client/operations.h"

namespace vantrel::ctl {
namespace {

// Reals are sent as JSON numbers; the wire can carry what JSON cannot (NaN, infinities).
Json real_json(double value) {
    return std::isfinite(value) ? Json(value) : Json(nullptr);
}

}  // namespace

std::string dump(const Json& json) {
    return json.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

Json value_json(const Value& value) {
    switch (type_of(value)) {
        case WireType::integer:
            return std::get<std::int32_t>(value);
        case WireType::truth:
            return std::get<bool>(value);
        case WireType::real:
            return real_json(std::get<double>(value));
        case WireType::text:
            return std::get<std::string>(value);
    }
    return nullptr;
}

Json status_json(const Snapshot& s, const std::string& interface) {
    Json columns = Json::array();
    for (std::size_t i = 0; i < s.columns.size(); ++i)
        columns.push_back(
            {{"column", i + 1}, {"type", s.columns[i].type}, {"samples", s.columns[i].samples}});
    return {{"interface", interface},
            {"name", s.name},
            {"version", s.version},
            {"state", s.state},
            {"state_name", state_name(s.state)},
            {"device_present", s.device_present},
            {"homed", optional_json(s.homed)},
            {"busy", optional_json(s.busy)},
            {"current_column", optional_json(s.column)},
            {"rotor_position", s.rotor_position},
            {"capacity", s.capacity},
            {"sample_limit", s.sample_limit},
            {"auto_column_switch", s.auto_switch},
            {"p1_pres_limit", real_json(s.p1_limit)},
            {"p3_pres_limit", real_json(s.p3_limit)},
            {"columns", columns}};
}

Json call_json(const std::string& interface, const Operation& op,
               const std::vector<Value>& results) {
    Json values = Json::array();
    for (const Value& v : results) values.push_back(value_json(v));
    return {{"interface", interface},
            {"operation", op.name},
            {"code", op.code},
            {"result", 0},
            {"values", values}};
}

Json failure_json(const std::string& interface, const std::string& operation,
                  std::optional<int> code, int result, const std::string& message) {
    Json out = {{"interface", interface}, {"operation", operation}};
    if (code) out["code"] = *code;
    out["result"] = result;
    out["error"] = message;
    return out;
}

Json outcome_json(const WaitOutcome& o, const std::string& interface,
                  std::optional<int> requested) {
    return {{"interface", interface},
            {"operation", "wait"},
            {"outcome", outcome_name(o.kind)},
            {"requested", optional_json(requested)},
            {"column", o.last.column},
            {"rotor_position", o.last.rotor_position},
            {"homed", o.last.homed},
            {"busy", o.last.busy},
            {"elapsed_s", std::round(o.elapsed_s * 1000.0) / 1000.0},
            {"reason", o.reason}};
}

}  // namespace vantrel::ctl
