// The flex_* functions over the simulated boards of sim/board.h. Each call opens its board, checks
// its arguments, and changes or reads the board state under the board's lock.

#include "motion/flexmotion.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <optional>

#include "platform/error.h"
#include "sim/board.h"

namespace {

using vantrel::sim::AxisState;
using vantrel::sim::BoardHandle;
using vantrel::sim::BoardState;
using vantrel::sim::Function;
using vantrel::sim::Motion;

// Opens the board for one call and runs it. Never throws: the caller is C.
int32_t run(uint8_t board, Function function, const BoardHandle::Body& body) noexcept {
    try {
        std::optional<BoardHandle> handle;
        try {
            handle.emplace(board, vantrel::platform::OpenMode::open_existing);
        } catch (const vantrel::platform::PlatformError& e) {
            return e.code() == vantrel::platform::PlatformErrc::not_found
                       ? FLEX_BOARD_NOT_PRESENT
                       : FLEX_BOARD_ACCESS_FAILED;
        }
        return handle->call(function, body);
    } catch (...) {
        return FLEX_BOARD_ACCESS_FAILED;
    }
}

bool valid_axis(uint8_t axis) {
    return axis >= 1 && axis <= FLEX_AXIS_COUNT;
}

// The axes a call addresses as a bit set (bit n for axis n): the axis itself, or with axis 0 the
// axes of the map. 0 when nothing valid is addressed.
unsigned axis_set(uint8_t axis, uint16_t axis_map) {
    if (valid_axis(axis)) return 1u << axis;
    if (axis != 0) return 0;
    const unsigned all = ((1u << FLEX_AXIS_COUNT) - 1) << 1;
    if ((axis_map & ~all) != 0) return 0;
    return axis_map & all;
}

template <class F>
void for_each_axis(BoardState& s, unsigned set, F&& f) {
    for (int n = 1; n <= FLEX_AXIS_COUNT; ++n)
        if (set & (1u << n)) f(s.axes[n - 1]);
}

bool can_move(const AxisState& a) {
    return a.velocity != 0 && a.acceleration != 0 && a.deceleration != 0;
}

double speed(const AxisState& a) {
    return std::abs(static_cast<double>(a.velocity));
}

void stand_still(AxisState& a, std::int64_t now) {
    a.motion = Motion::idle;
    a.velocity_now = 0;
    a.profile = vantrel::sim::plan_rest(now, a.position);
}

// A move along `profile`; a stalled axis holds its place and never finishes.
void set_moving(AxisState& a, Motion motion, const vantrel::sim::Profile& profile,
                std::int64_t now) {
    a.killed = false;
    a.motion = motion;
    a.profile = a.stalled ? vantrel::sim::plan_rest(now, a.position) : profile;
}

// The common frame of the functions that address one axis 1..4 (no map).
template <class F>
int32_t on_axis(uint8_t board, Function function, uint8_t axis, F&& f) {
    return run(board, function, [&](BoardState& s, std::int64_t now) -> int32_t {
        if (!valid_axis(axis)) return FLEX_INVALID_AXIS;
        return f(s.axes[axis - 1], now);
    });
}

const char* description(int32_t status) {
    switch (status) {
        case FLEX_SUCCESS:
            return "No error.";
        case FLEX_BOARD_NOT_PRESENT:
            return "Board not present: no board with this identifier is running.";
        case FLEX_INVALID_AXIS:
            return "Invalid axis: axes are 1 to 4, or 0 together with an axis map selecting some "
                   "of them.";
        case FLEX_INVALID_PARAMETER:
            return "Invalid parameter: a mode, type, attribute or value outside its range.";
        case FLEX_INVALID_INPUT_VECTOR:
            return "Invalid input vector: only 0xFF (act at once) is supported.";
        case FLEX_INVALID_VARIABLE:
            return "Invalid variable number: variables are 0 to 127.";
        case FLEX_NULL_POINTER:
            return "Null pointer given for a return value.";
        case FLEX_MOVE_NOT_POSSIBLE:
            return "Move not possible: load a non-zero velocity, acceleration and deceleration "
                   "first.";
        case FLEX_PROGRAM_STORE_ERROR:
            return "Program store error: begin_store while a store is open, or end_store without "
                   "a matching begin_store.";
        case FLEX_BUFFER_TOO_SMALL:
            return "Buffer too small: the text was cut.";
        case FLEX_BOARD_ACCESS_FAILED:
            return "Board access failed: the board's shared state could not be opened.";
        case FLEX_READ_BUFFER_NOT_EMPTY:
            return "Read data buffer not empty: an earlier read left data behind; flush the "
                   "buffer and read again.";
        default:
            return nullptr;
    }
}

}  // namespace

extern "C" {

int32_t flex_set_stepper_loop_mode(uint8_t board, uint8_t axis, uint16_t loop_mode) {
    return on_axis(board, Function::set_stepper_loop_mode, axis,
                   [&](AxisState& a, std::int64_t) -> int32_t {
                       if (loop_mode > 1) return FLEX_INVALID_PARAMETER;
                       a.loop_mode = loop_mode;
                       return FLEX_SUCCESS;
                   });
}

int32_t flex_load_acceleration(uint8_t board, uint8_t axis, uint16_t acceleration_type,
                               uint32_t acceleration, uint8_t input_vector) {
    return on_axis(board, Function::load_acceleration, axis,
                   [&](AxisState& a, std::int64_t) -> int32_t {
                       if (input_vector != FLEX_IMMEDIATE) return FLEX_INVALID_INPUT_VECTOR;
                       if (acceleration_type > 2 || acceleration == 0)
                           return FLEX_INVALID_PARAMETER;
                       if (acceleration_type != 2) a.acceleration = acceleration;
                       if (acceleration_type != 1) a.deceleration = acceleration;
                       return FLEX_SUCCESS;
                   });
}

int32_t flex_load_target_pos(uint8_t board, uint8_t axis, int32_t target_position,
                             uint8_t input_vector) {
    return on_axis(board, Function::load_target_pos, axis,
                   [&](AxisState& a, std::int64_t) -> int32_t {
                       if (input_vector != FLEX_IMMEDIATE) return FLEX_INVALID_INPUT_VECTOR;
                       a.target = target_position;
                       return FLEX_SUCCESS;
                   });
}

int32_t flex_load_velocity(uint8_t board, uint8_t axis, int32_t velocity, uint8_t input_vector) {
    return on_axis(board, Function::load_velocity, axis,
                   [&](AxisState& a, std::int64_t) -> int32_t {
                       if (input_vector != FLEX_IMMEDIATE) return FLEX_INVALID_INPUT_VECTOR;
                       a.velocity = velocity;
                       return FLEX_SUCCESS;
                   });
}

int32_t flex_reset_pos(uint8_t board, uint8_t axis, int32_t position1, int32_t /*position2*/,
                       uint8_t input_vector) {
    // The second position belongs to a secondary feedback counter, which these boards lack.
    return on_axis(board, Function::reset_pos, axis, [&](AxisState& a, std::int64_t) -> int32_t {
        if (input_vector != FLEX_IMMEDIATE) return FLEX_INVALID_INPUT_VECTOR;
        a.counter_offset = a.position - position1;
        return FLEX_SUCCESS;
    });
}

int32_t flex_set_op_mode(uint8_t board, uint8_t axis, uint16_t operation_mode) {
    return on_axis(board, Function::set_op_mode, axis, [&](AxisState& a, std::int64_t) -> int32_t {
        if (operation_mode > 1) return FLEX_INVALID_PARAMETER;
        a.op_mode = operation_mode;
        return FLEX_SUCCESS;
    });
}

int32_t flex_check_move_complete_status(uint8_t board, uint8_t axis, uint16_t axis_map,
                                        uint16_t* move_complete) {
    return run(
        board, Function::check_move_complete_status, [&](BoardState& s, std::int64_t) -> int32_t {
            const unsigned set = axis_set(axis, axis_map);
            if (set == 0) return FLEX_INVALID_AXIS;
            if (move_complete == nullptr) return FLEX_NULL_POINTER;
            bool complete = true;
            for_each_axis(s, set,
                          [&](AxisState& a) { complete = complete && a.motion == Motion::idle; });
            *move_complete = complete ? 1 : 0;
            return FLEX_SUCCESS;
        });
}

int32_t flex_load_scurve_time(uint8_t board, uint8_t axis, uint16_t scurve_time,
                              uint8_t input_vector) {
    // Stored and shown; the profiles stay trapezoidal, so move times are exact to reason about.
    return on_axis(board, Function::load_scurve_time, axis,
                   [&](AxisState& a, std::int64_t) -> int32_t {
                       if (input_vector != FLEX_IMMEDIATE) return FLEX_INVALID_INPUT_VECTOR;
                       a.scurve_time = scurve_time;
                       return FLEX_SUCCESS;
                   });
}

int32_t flex_start(uint8_t board, uint8_t axis, uint16_t axis_map) {
    return run(board, Function::start, [&](BoardState& s, std::int64_t now) -> int32_t {
        const unsigned set = axis_set(axis, axis_map);
        if (set == 0) return FLEX_INVALID_AXIS;
        bool possible = true;
        for_each_axis(s, set, [&](AxisState& a) { possible = possible && can_move(a); });
        if (!possible) return FLEX_MOVE_NOT_POSSIBLE;
        for_each_axis(s, set, [&](AxisState& a) {
            // Absolute targets are counter readings; relative ones count from where the axis is.
            const double target =
                a.op_mode == 0 ? a.target + a.counter_offset : a.position + a.target;
            set_moving(a, Motion::moving,
                       vantrel::sim::plan_move(now, a.position, a.velocity_now, target, speed(a),
                                               a.acceleration, a.deceleration),
                       now);
        });
        return FLEX_SUCCESS;
    });
}

int32_t flex_stop_motion(uint8_t board, uint8_t axis, uint16_t stop_type, uint16_t axis_map) {
    return run(board, Function::stop_motion, [&](BoardState& s, std::int64_t now) -> int32_t {
        const unsigned set = axis_set(axis, axis_map);
        if (set == 0) return FLEX_INVALID_AXIS;
        if (stop_type > 2) return FLEX_INVALID_PARAMETER;
        for_each_axis(s, set, [&](AxisState& a) {
            if (stop_type == 0 && a.motion != Motion::idle && !a.stalled && a.deceleration != 0) {
                // A search that is stopped has not found anything.
                a.motion = Motion::moving;
                a.profile =
                    vantrel::sim::plan_stop(now, a.position, a.velocity_now, a.deceleration);
                return;
            }
            stand_still(a, now);
            if (stop_type == 2) a.killed = true;
        });
        return FLEX_SUCCESS;
    });
}

int32_t flex_find_reference(uint8_t board, uint8_t axis, uint16_t /*axis_map*/, uint8_t find_type) {
    return on_axis(board, Function::find_reference, axis,
                   [&](AxisState& a, std::int64_t now) -> int32_t {
                       if (find_type != 1) return FLEX_INVALID_PARAMETER;
                       if (!can_move(a)) return FLEX_MOVE_NOT_POSSIBLE;
                       // Without a switch the search ends where it should have been, as at the
                       // end of the travel.
                       a.reference_found = false;
                       set_moving(a, Motion::searching,
                                  vantrel::sim::plan_move(now, a.position, a.velocity_now,
                                                          vantrel::sim::reference_ahead(a),
                                                          speed(a), a.acceleration, a.deceleration),
                                  now);
                       return FLEX_SUCCESS;
                   });
}

int32_t flex_read_reference_status_rtn(uint8_t board, uint8_t axis, uint16_t /*axis_map*/,
                                       uint16_t attribute, uint16_t* status) {
    return on_axis(board, Function::read_reference_status_rtn, axis,
                   [&](AxisState& a, std::int64_t) -> int32_t {
                       if (attribute != 5) return FLEX_INVALID_PARAMETER;
                       if (status == nullptr) return FLEX_NULL_POINTER;
                       *status = a.reference_found ? 1 : 0;
                       return FLEX_SUCCESS;
                   });
}

int32_t flex_begin_store(uint8_t board, uint8_t program) {
    return run(board, Function::begin_store, [&](BoardState& s, std::int64_t) -> int32_t {
        if (program == 0) return FLEX_INVALID_PARAMETER;
        if (s.storing) return FLEX_PROGRAM_STORE_ERROR;
        s.storing = true;
        s.store_program = program;
        return FLEX_SUCCESS;
    });
}

int32_t flex_end_store(uint8_t board, uint8_t program) {
    return run(board, Function::end_store, [&](BoardState& s, std::int64_t) -> int32_t {
        if (!s.storing || s.store_program != program) return FLEX_PROGRAM_STORE_ERROR;
        s.storing = false;
        return FLEX_SUCCESS;
    });
}

int32_t flex_load_var(uint8_t board, int32_t value, uint8_t variable) {
    return run(board, Function::load_var, [&](BoardState& s, std::int64_t) -> int32_t {
        if (variable >= FLEX_VARIABLE_COUNT) return FLEX_INVALID_VARIABLE;
        s.variables[variable] = value;
        return FLEX_SUCCESS;
    });
}

int32_t flex_read_var_rtn(uint8_t board, uint8_t variable, int32_t* value) {
    return run(board, Function::read_var_rtn, [&](BoardState& s, std::int64_t) -> int32_t {
        if (variable >= FLEX_VARIABLE_COUNT) return FLEX_INVALID_VARIABLE;
        if (value == nullptr) return FLEX_NULL_POINTER;
        *value = s.variables[variable];
        return FLEX_SUCCESS;
    });
}

int32_t flex_flush_rdb(uint8_t board) {
    return run(board, Function::flush_rdb, [&](BoardState& s, std::int64_t) -> int32_t {
        s.read_buffer_stale = false;
        return FLEX_SUCCESS;
    });
}

int32_t flex_read_pos_rtn(uint8_t board, uint8_t axis, int32_t* position) {
    return run(board, Function::read_pos_rtn, [&](BoardState& s, std::int64_t) -> int32_t {
        if (!valid_axis(axis)) return FLEX_INVALID_AXIS;
        if (position == nullptr) return FLEX_NULL_POINTER;
        if (s.read_buffer_stale) return FLEX_READ_BUFFER_NOT_EMPTY;
        *position = vantrel::sim::counter(s.axes[axis - 1]);
        return FLEX_SUCCESS;
    });
}

int32_t flex_get_error_description(uint16_t description_type, int32_t status,
                                   uint16_t /*command_id*/, uint16_t /*resource_id*/, char* buffer,
                                   uint32_t* size) {
    if (buffer == nullptr || size == nullptr) return FLEX_NULL_POINTER;
    if (*size == 0) return FLEX_BUFFER_TOO_SMALL;
    if (description_type != 0) {
        buffer[0] = '\0';
        *size = 0;
        return FLEX_INVALID_PARAMETER;
    }
    char unknown[64];
    const char* text = description(status);
    if (text == nullptr) {
        std::snprintf(unknown, sizeof unknown, "Unknown status %d.", static_cast<int>(status));
        text = unknown;
    }
    const std::size_t length = std::strlen(text);
    const std::size_t room = *size - 1;
    const std::size_t n = length < room ? length : room;
    std::memcpy(buffer, text, n);
    buffer[n] = '\0';
    *size = static_cast<uint32_t>(length);
    return length <= room ? FLEX_SUCCESS : FLEX_BUFFER_TOO_SMALL;
}

}  // extern "C"
