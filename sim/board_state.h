#pragma once
// The state of one simulated motion board: plain data in a shared segment, seen alike by every
// process that addresses the board. Positions are not stored as they change: each axis keeps the
// profile of its current motion, and advance() brings the state up to a given time. Everything a
// caller reads (position, move complete, reference found) is derived from the advanced state.

#include <cstdint>

#include "motion/flexmotion.h"
#include "sim/profile.h"

namespace vantrel::sim {

// The board functions, for faults and call counts.
enum class Function : int {
    set_stepper_loop_mode,
    load_acceleration,
    load_target_pos,
    load_velocity,
    reset_pos,
    set_op_mode,
    check_move_complete_status,
    load_scurve_time,
    start,
    stop_motion,
    find_reference,
    read_reference_status_rtn,
    begin_store,
    end_store,
    load_var,
    read_var_rtn,
    flush_rdb,
    read_pos_rtn,
};
inline constexpr int kFunctionCount = 18;

// "flex_start" for Function::start.
const char* function_name(Function function);
// Accepts "flex_start" and "start"; false for any other text.
bool parse_function(const char* text, Function& function);

enum class Motion : std::int32_t { idle, moving, searching };

struct AxisState {
    // Loaded values.
    std::int32_t velocity;
    std::uint32_t acceleration;
    std::uint32_t deceleration;
    std::uint16_t scurve_time;
    std::uint16_t op_mode;
    std::uint16_t loop_mode;
    std::int32_t target;
    // Physical state. `position` is the physical place in counts; the position counter reads
    // position - counter_offset.
    double position;
    double velocity_now;
    double counter_offset;
    Motion motion;
    Profile profile;
    bool killed;
    bool reference_found;
    // The lowest and highest places the axis passed through since the board was made, the axis
    // was placed by hand, or the record was reset.
    double travel_low;
    double travel_high;
    // Configuration: where the reference switch is (physical place), and for a rotary axis the
    // counts of one revolution (0: a linear axis), after which the switch comes round again.
    double reference_position;
    std::int32_t counts_per_revolution;
    // Faults.
    bool reference_missing;  // the switch never triggers
    bool stalled;            // the axis does not move; its motion never completes
};

struct FunctionFault {
    std::int32_t failures_left;  // the next calls that fail with `status`
    std::int32_t status;
    std::int32_t delay_ms;  // each call takes this long before it acts
};

struct BoardState {
    std::int32_t id;
    AxisState axes[FLEX_AXIS_COUNT];
    std::int32_t variables[FLEX_VARIABLE_COUNT];
    bool storing;
    std::uint8_t store_program;
    bool read_buffer_stale;  // read_pos_rtn answers FLEX_READ_BUFFER_NOT_EMPTY until flushed
    FunctionFault faults[kFunctionCount];
    std::uint64_t calls[kFunctionCount];
    std::int32_t calls_in_progress;
};

// Brings every axis to time `now_ns`: positions follow their profiles, finished motions end.
void advance(BoardState& board, std::int64_t now_ns);
void advance(AxisState& axis, std::int64_t now_ns);

// The position counter of an axis (wraps like a 32-bit counter).
std::int32_t counter(const AxisState& axis);

// Where the next reference switch lies for a search from the axis's place (physical place).
double reference_ahead(const AxisState& axis);

}  // namespace vantrel::sim
