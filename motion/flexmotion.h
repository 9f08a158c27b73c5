/* The motion library interface that motion/ calls: nineteen functions addressing one motion board
 * by its 8-bit identifier. Every function returns a signed 32-bit status, 0 for success and a
 * negative status for failure; output arguments are written only on success.
 * flex_get_error_description gives a NUL-terminated text for any status.
 *
 * This is the contract a board library provides. Pci7344 calls it through a table of these
 * functions (motion/flex_library.h): the library linked into the program, or a shared library
 * loaded at start. The one built here is the simulator in sim/ (see sim/board.h), linked in and
 * also built as the shared library libvantrel-flexsim.so: there a board must be kept alive by
 * some process (a BoardHandle), otherwise every call answers FLEX_BOARD_NOT_PRESENT.
 *
 * Values understood by the simulator:
 *   axis                1..4; 0 means "the axes in the axis map" (bits 1..4) where a map is taken
 *   input vector        0xFF only (act at once)
 *   loop mode           0 open loop, 1 closed loop
 *   operation mode      0 absolute position, 1 relative position
 *   acceleration type   0 acceleration and deceleration, 1 acceleration only, 2 deceleration only
 *   stop type           0 decelerate to a stop at the loaded deceleration, 1 halt stop (at once,
 *                       holding the place), 2 kill stop (at once, drive switched off until the
 *                       next start)
 *   find type           1 search the reference switch
 *   reference attribute 5 found (1 once the search reached the switch, else 0)
 *   variables           0..127, 32 bits each
 *   program number      1..255
 * Units are counts, counts/s and counts/s^2; the s-curve time is in milliseconds. */
#ifndef VANTREL_SIM_FLEXMOTION_H
#define VANTREL_SIM_FLEXMOTION_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Statuses. */
#define FLEX_SUCCESS 0
#define FLEX_BOARD_NOT_PRESENT (-70001)
#define FLEX_INVALID_AXIS (-70002)
#define FLEX_INVALID_PARAMETER (-70003)
#define FLEX_INVALID_INPUT_VECTOR (-70004)
#define FLEX_INVALID_VARIABLE (-70005)
#define FLEX_NULL_POINTER (-70006)
#define FLEX_MOVE_NOT_POSSIBLE (-70007)
#define FLEX_PROGRAM_STORE_ERROR (-70008)
#define FLEX_BUFFER_TOO_SMALL (-70009)
#define FLEX_BOARD_ACCESS_FAILED (-70010)
#define FLEX_READ_BUFFER_NOT_EMPTY (-70025)

#define FLEX_IMMEDIATE 0xFF
#define FLEX_AXIS_COUNT 4
#define FLEX_VARIABLE_COUNT 128

int32_t flex_set_stepper_loop_mode(uint8_t board, uint8_t axis, uint16_t loop_mode);
int32_t flex_load_acceleration(uint8_t board, uint8_t axis, uint16_t acceleration_type,
                               uint32_t acceleration, uint8_t input_vector);
int32_t flex_load_target_pos(uint8_t board, uint8_t axis, int32_t target_position,
                             uint8_t input_vector);
/* The sign of the velocity sets the search direction of a rotary reference search; position
 * moves use its magnitude. */
int32_t flex_load_velocity(uint8_t board, uint8_t axis, int32_t velocity, uint8_t input_vector);
int32_t flex_reset_pos(uint8_t board, uint8_t axis, int32_t position1, int32_t position2,
                       uint8_t input_vector);
int32_t flex_set_op_mode(uint8_t board, uint8_t axis, uint16_t operation_mode);
int32_t flex_check_move_complete_status(uint8_t board, uint8_t axis, uint16_t axis_map,
                                        uint16_t* move_complete);
int32_t flex_load_scurve_time(uint8_t board, uint8_t axis, uint16_t scurve_time,
                              uint8_t input_vector);
int32_t flex_start(uint8_t board, uint8_t axis, uint16_t axis_map);
int32_t flex_stop_motion(uint8_t board, uint8_t axis, uint16_t stop_type, uint16_t axis_map);
int32_t flex_find_reference(uint8_t board, uint8_t axis, uint16_t axis_map, uint8_t find_type);
int32_t flex_read_reference_status_rtn(uint8_t board, uint8_t axis, uint16_t axis_map,
                                       uint16_t attribute, uint16_t* status);
int32_t flex_begin_store(uint8_t board, uint8_t program);
int32_t flex_end_store(uint8_t board, uint8_t program);
int32_t flex_load_var(uint8_t board, int32_t value, uint8_t variable);
int32_t flex_read_var_rtn(uint8_t board, uint8_t variable, int32_t* value);
int32_t flex_flush_rdb(uint8_t board);
int32_t flex_read_pos_rtn(uint8_t board, uint8_t axis, int32_t* position);

/* Writes the text of `status` into `buffer`, NUL-terminated and cut to *size bytes; *size then
 * holds the length of the whole text. Description type 0 is the only one. Returns
 * FLEX_BUFFER_TOO_SMALL when the text had to be cut. */
int32_t flex_get_error_description(uint16_t description_type, int32_t status, uint16_t command_id,
                                   uint16_t resource_id, char* buffer, uint32_t* size);

#ifdef __cplusplus
}
#endif

#endif
