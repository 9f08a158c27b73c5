#pragma once
// The gateway's writes, each run on the poller's thread (Poller::run) with arguments the HTTP
// side has already checked for type and form. They look first at what the selector would refuse
// silently (it only logs a refusal) and answer 409 with the reason instead of sending, and read
// back what they changed, so a reply of 200 means the selector holds the new value.
//
// Replies: 200 or 202 done; 404 no such column; 409 refused (not initialised, device absent,
// busy, not homed, out of range, value not stored); 503 the selector did not answer (with the
// call result).

#include <optional>
#include <string>
#include <vector>

#include "tools/client/operations.h"
#include "tools/gateway/poller.h"

namespace vantrel::gateway {

// Home (`column` nullopt) or move to `column` (0 parks): 202 with the operation to follow.
Reply start_motion(Poller::Access& access, std::optional<int> column);

// A column's type and/or sample count.
Reply set_column(Poller::Access& access, int column, const std::optional<std::string>& type,
                 std::optional<std::int32_t> samples);

// One more sample on the column at the working place.
Reply increment_samples(Poller::Access& access);

// The settings the selector holds for its clients.
Reply change_settings(Poller::Access& access, std::optional<bool> auto_switch,
                      std::optional<double> p1, std::optional<double> p3);

// Any operation by its table name on `interface` (a component of `kind`, nullopt: any).
Reply call_operation(Poller::Access& access, const std::string& interface,
                     std::optional<ctl::Kind> kind, const Operation& op,
                     const std::vector<Value>& arguments);

}  // namespace vantrel::gateway
