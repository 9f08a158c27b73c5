#include "sim/board_state.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace vantrel::sim {
namespace {

constexpr const char* kNames[kFunctionCount] = {
    "flex_set_stepper_loop_mode",
    "flex_load_acceleration",
    "flex_load_target_pos",
    "flex_load_velocity",
    "flex_reset_pos",
    "flex_set_op_mode",
    "flex_check_move_complete_status",
    "flex_load_scurve_time",
    "flex_start",
    "flex_stop_motion",
    "flex_find_reference",
    "flex_read_reference_status_rtn",
    "flex_begin_store",
    "flex_end_store",
    "flex_load_var",
    "flex_read_var_rtn",
    "flex_flush_rdb",
    "flex_read_pos_rtn",
};

}  // namespace

const char* function_name(Function function) {
    const int i = static_cast<int>(function);
    return i >= 0 && i < kFunctionCount ? kNames[i] : "unknown";
}

bool parse_function(const char* text, Function& function) {
    for (int i = 0; i < kFunctionCount; ++i) {
        if (std::strcmp(text, kNames[i]) == 0 || std::strcmp(text, kNames[i] + 5) == 0) {
            function = static_cast<Function>(i);
            return true;
        }
    }
    return false;
}

void advance(AxisState& axis, std::int64_t now_ns) {
    if (axis.motion == Motion::idle || axis.stalled) return;
    const Span passed = span(axis.profile, now_ns);
    axis.travel_low = std::min(axis.travel_low, passed.low);
    axis.travel_high = std::max(axis.travel_high, passed.high);
    const Sample s = sample(axis.profile, now_ns);
    axis.position = s.position;
    axis.velocity_now = s.velocity;
    if (!s.done) return;
    if (axis.motion == Motion::searching) axis.reference_found = !axis.reference_missing;
    axis.motion = Motion::idle;
}

void advance(BoardState& board, std::int64_t now_ns) {
    for (AxisState& axis : board.axes) advance(axis, now_ns);
}

std::int32_t counter(const AxisState& axis) {
    const auto count = static_cast<std::int64_t>(std::llround(axis.position - axis.counter_offset));
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(count));
}

double reference_ahead(const AxisState& axis) {
    const double revolution = axis.counts_per_revolution;
    if (revolution <= 0) return axis.reference_position;  // a linear axis goes straight to it
    // A rotary axis turns in the direction of its velocity until the switch comes round.
    const double turns = (axis.position - axis.reference_position) / revolution;
    const double k = axis.velocity < 0 ? std::floor(turns) : std::ceil(turns);
    return axis.reference_position + k * revolution;
}

}  // namespace vantrel::sim
