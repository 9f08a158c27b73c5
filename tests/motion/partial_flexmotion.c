/* A board library that lacks flex_flush_rdb: every other function is there and answers that no
 * board is present. */
#include "motion/flexmotion.h"

int32_t flex_set_stepper_loop_mode(uint8_t b, uint8_t a, uint16_t m) {
    (void)b, (void)a, (void)m;
    return FLEX_BOARD_NOT_PRESENT;
}
int32_t flex_load_acceleration(uint8_t b, uint8_t a, uint16_t t, uint32_t v, uint8_t i) {
    (void)b, (void)a, (void)t, (void)v, (void)i;
    return FLEX_BOARD_NOT_PRESENT;
}
int32_t flex_load_target_pos(uint8_t b, uint8_t a, int32_t p, uint8_t i) {
    (void)b, (void)a, (void)p, (void)i;
    return FLEX_BOARD_NOT_PRESENT;
}
int32_t flex_load_velocity(uint8_t b, uint8_t a, int32_t v, uint8_t i) {
    (void)b, (void)a, (void)v, (void)i;
    return FLEX_BOARD_NOT_PRESENT;
}
int32_t flex_reset_pos(uint8_t b, uint8_t a, int32_t p1, int32_t p2, uint8_t i) {
    (void)b, (void)a, (void)p1, (void)p2, (void)i;
    return FLEX_BOARD_NOT_PRESENT;
}
int32_t flex_set_op_mode(uint8_t b, uint8_t a, uint16_t m) {
    (void)b, (void)a, (void)m;
    return FLEX_BOARD_NOT_PRESENT;
}
int32_t flex_check_move_complete_status(uint8_t b, uint8_t a, uint16_t m, uint16_t* c) {
    (void)b, (void)a, (void)m, (void)c;
    return FLEX_BOARD_NOT_PRESENT;
}
int32_t flex_load_scurve_time(uint8_t b, uint8_t a, uint16_t t, uint8_t i) {
    (void)b, (void)a, (void)t, (void)i;
    return FLEX_BOARD_NOT_PRESENT;
}
int32_t flex_start(uint8_t b, uint8_t a, uint16_t m) {
    (void)b, (void)a, (void)m;
    return FLEX_BOARD_NOT_PRESENT;
}
int32_t flex_stop_motion(uint8_t b, uint8_t a, uint16_t t, uint16_t m) {
    (void)b, (void)a, (void)t, (void)m;
    return FLEX_BOARD_NOT_PRESENT;
}
int32_t flex_find_reference(uint8_t b, uint8_t a, uint16_t m, uint8_t t) {
    (void)b, (void)a, (void)m, (void)t;
    return FLEX_BOARD_NOT_PRESENT;
}
int32_t flex_read_reference_status_rtn(uint8_t b, uint8_t a, uint16_t m, uint16_t t, uint16_t* s) {
    (void)b, (void)a, (void)m, (void)t, (void)s;
    return FLEX_BOARD_NOT_PRESENT;
}
int32_t flex_begin_store(uint8_t b, uint8_t p) {
    (void)b, (void)p;
    return FLEX_BOARD_NOT_PRESENT;
}
int32_t flex_end_store(uint8_t b, uint8_t p) {
    (void)b, (void)p;
    return FLEX_BOARD_NOT_PRESENT;
}
int32_t flex_load_var(uint8_t b, int32_t v, uint8_t n) {
    (void)b, (void)v, (void)n;
    return FLEX_BOARD_NOT_PRESENT;
}
int32_t flex_read_var_rtn(uint8_t b, uint8_t n, int32_t* v) {
    (void)b, (void)n, (void)v;
    return FLEX_BOARD_NOT_PRESENT;
}
int32_t flex_read_pos_rtn(uint8_t b, uint8_t a, int32_t* p) {
    (void)b, (void)a, (void)p;
    return FLEX_BOARD_NOT_PRESENT;
}
int32_t flex_get_error_description(uint16_t t, int32_t s, uint16_t c, uint16_t r, char* buffer,
                                   uint32_t* size) {
    (void)t, (void)s, (void)c, (void)r;
    if (buffer == 0 || size == 0 || *size == 0) return FLEX_NULL_POINTER;
    buffer[0] = '\0';
    *size = 0;
    return FLEX_SUCCESS;
}
