#pragma once
// The operation tables of the system's interfaces: names, codes, argument types and result slots.
// Client and server of one component kind enter the same table, so they agree on every record
// length, argument offset and slot offset. Each function enters its operations into `layout`
// from its current properties size on.
//
// Properties sizes that follow (a table's slots after the 12316 bytes of the common ones):
//   component 12316, board manager 12336, column selector 16464, sipper 20584,
//   log server 16412, supervisor 12316.

#include "interface/operation.h"

namespace vantrel {

// Codes 0 to 11, offered by every component.
struct ComponentOperations {
    Operation run, stop, reset, kill, get_name, get_state, save_config, delete_config, load_config,
        log_msg, get_component_version, get_cfg_dir;
};
ComponentOperations add_component_operations(InterfaceLayout& layout);

// Codes 12 to 30 of the column selector.
struct VantrelOperations {
    Operation device_present, get_capacity, get_current_column, set_current_column, get_column_type,
        set_column_type, get_sample_count, get_sample_limit, get_auto_column_switch,
        set_auto_column_switch, get_pres_limits, set_pres_limits, increment_sample_count,
        reset_sample_count, set_sample_count, home, homed, is_busy, get_rotor_position;
};
VantrelOperations add_vantrel_operations(InterfaceLayout& layout);

// Codes 12 to 19 of the motion-board manager.
struct BoardManagerOperations {
    Operation get_ID, get_new_dir_var, get_new_indir_var, get_new_label, get_new_prog, free_dir_var,
        free_label, free_prog;
};
BoardManagerOperations add_board_manager_operations(InterfaceLayout& layout);

// Codes 12 to 39 of the sipper; only the ones this system uses are entered: the inhibit state
// (the kill switch), and "emergency" / "reset_error_state", which trip and clear it.
struct SipperOperations {
    Operation emergency, reset_error_state, get_inhibit_state;
};
SipperOperations add_sipper_operations(InterfaceLayout& layout);

// Codes 12 to 18 of the log server; only "add_log_msg" is entered.
struct LogServerOperations {
    Operation add_log_msg;
};
LogServerOperations add_log_server_operations(InterfaceLayout& layout);

// Codes 12 to 14 of the supervisor, all one-way and without arguments here.
struct SupervisorOperations {
    Operation reset_all_components, load_every_configuration, save_every_configuration;
};
SupervisorOperations add_supervisor_operations(InterfaceLayout& layout);

}  // namespace vantrel
