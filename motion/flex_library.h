#pragma once
// The board library as a table of its functions (the contract is motion/flexmotion.h). Pci7344
// calls the board only through the table in use: by default the library linked into the program
// (the simulated boards); load_flex_library reads another one from a shared library at start.
//
// Lifetime: a loaded library stays loaded until the process ends, since board objects and
// threads may call into it until then.
// Thread safety: install_flex_library belongs to the start of the process, before any board
// object exists or any other thread runs; flex_library may then be called from any thread.

#include <string>

#include "motion/flexmotion.h"

namespace vantrel {

struct FlexLibrary {
    decltype(&::flex_set_stepper_loop_mode) flex_set_stepper_loop_mode;
    decltype(&::flex_load_acceleration) flex_load_acceleration;
    decltype(&::flex_load_target_pos) flex_load_target_pos;
    decltype(&::flex_load_velocity) flex_load_velocity;
    decltype(&::flex_reset_pos) flex_reset_pos;
    decltype(&::flex_set_op_mode) flex_set_op_mode;
    decltype(&::flex_check_move_complete_status) flex_check_move_complete_status;
    decltype(&::flex_load_scurve_time) flex_load_scurve_time;
    decltype(&::flex_start) flex_start;
    decltype(&::flex_stop_motion) flex_stop_motion;
    decltype(&::flex_find_reference) flex_find_reference;
    decltype(&::flex_read_reference_status_rtn) flex_read_reference_status_rtn;
    decltype(&::flex_begin_store) flex_begin_store;
    decltype(&::flex_end_store) flex_end_store;
    decltype(&::flex_load_var) flex_load_var;
    decltype(&::flex_read_var_rtn) flex_read_var_rtn;
    decltype(&::flex_flush_rdb) flex_flush_rdb;
    decltype(&::flex_read_pos_rtn) flex_read_pos_rtn;
    decltype(&::flex_get_error_description) flex_get_error_description;
};

// The library linked into the program.
FlexLibrary built_in_flex_library();

// Loads the shared library at `path` and returns its table. A path with a '/' must lead through
// directories and to a file that only root or this user can change (as ssh's StrictModes asks of
// its files); a bare name is looked for where the dynamic linker looks. Throws Exception naming
// the path: "motion library PATH cannot be loaded: CAUSE", "motion library PATH refused: CAUSE", or
// "motion library PATH lacks NAME[, NAME...]" listing every missing function.
FlexLibrary load_flex_library(const std::string& path);

// The table that board objects call from now on.
void install_flex_library(const FlexLibrary& library);
const FlexLibrary& flex_library();

}  // namespace vantrel
