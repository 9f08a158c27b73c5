#include "interface/operation_tables.h"

namespace vantrel {
namespace {

constexpr WireType I = WireType::integer;
constexpr WireType B = WireType::truth;
constexpr WireType R = WireType::real;
constexpr WireType T = WireType::text;

}  // namespace

ComponentOperations add_component_operations(InterfaceLayout& l) {
    // Slots first, in their wire order; the operations then refer to them.
    const Slot name = l.add_slot(T);
    const Slot state = l.add_slot(I);
    const Slot save = l.add_slot(I);
    const Slot del = l.add_slot(I);
    const Slot load = l.add_slot(I);
    const Slot version = l.add_slot(T);
    const Slot cfg_dir = l.add_slot(T);
    ComponentOperations ops;
    ops.run = l.add_one_way("run", 0, {});
    ops.stop = l.add_one_way("stop", 1, {});
    ops.reset = l.add_one_way("reset", 2, {});
    ops.kill = l.add_one_way("kill", 3, {});
    ops.get_name = l.add_two_way("get_name", 4, {}, {name});
    ops.get_state = l.add_two_way("get_state", 5, {}, {state});
    ops.save_config = l.add_two_way("save_config", 6, {T}, {save});
    ops.delete_config = l.add_two_way("delete_config", 7, {T}, {del});
    ops.load_config = l.add_two_way("load_config", 8, {T}, {load});
    ops.log_msg = l.add_one_way("log_msg", 9, {T, I});
    ops.get_component_version = l.add_two_way("get_component_version", 10, {}, {version});
    ops.get_cfg_dir = l.add_two_way("get_cfg_dir", 11, {}, {cfg_dir});
    return ops;
}

VantrelOperations add_vantrel_operations(InterfaceLayout& l) {
    const Slot present = l.add_slot(B);
    const Slot capacity = l.add_slot(I);
    const Slot column = l.add_slot(I);
    const Slot type = l.add_slot(T);
    const Slot count = l.add_slot(I);
    const Slot limit = l.add_slot(I);
    const Slot auto_switch = l.add_slot(B);
    const Slot p1 = l.add_slot(R);
    const Slot p3 = l.add_slot(R);
    const Slot homed = l.add_slot(B);
    const Slot busy = l.add_slot(B);
    const Slot rotor = l.add_slot(I);
    VantrelOperations ops;
    ops.device_present = l.add_two_way("device_present", 12, {}, {present});
    ops.get_capacity = l.add_two_way("get_capacity", 13, {}, {capacity});
    ops.get_current_column = l.add_two_way("get_current_column", 14, {}, {column});
    ops.set_current_column = l.add_one_way("set_current_column", 15, {I});
    ops.get_column_type = l.add_two_way("get_column_type", 16, {I}, {type});
    ops.set_column_type = l.add_one_way("set_column_type", 17, {I, T});
    ops.get_sample_count = l.add_two_way("get_sample_count", 18, {I}, {count});
    ops.get_sample_limit = l.add_two_way("get_sample_limit", 19, {}, {limit});
    ops.get_auto_column_switch = l.add_two_way("get_auto_column_switch", 20, {}, {auto_switch});
    ops.set_auto_column_switch = l.add_one_way("set_auto_column_switch", 21, {I});
    ops.get_pres_limits = l.add_two_way("get_pres_limits", 22, {}, {p1, p3});
    ops.set_pres_limits = l.add_one_way("set_pres_limits", 23, {R, R});
    ops.increment_sample_count = l.add_one_way("increment_sample_count", 24, {});
    ops.reset_sample_count = l.add_one_way("reset_sample_count", 25, {I});
    ops.set_sample_count = l.add_one_way("set_sample_count", 26, {I, I});
    ops.home = l.add_one_way("home", 27, {});
    ops.homed = l.add_two_way("homed", 28, {}, {homed});
    ops.is_busy = l.add_two_way("is_busy", 29, {}, {busy});
    ops.get_rotor_position = l.add_two_way("get_rotor_position", 30, {}, {rotor});
    return ops;
}

BoardManagerOperations add_board_manager_operations(InterfaceLayout& l) {
    const Slot id = l.add_slot(I);
    const Slot dir_var = l.add_slot(I);
    const Slot indir_var = l.add_slot(I);
    const Slot label = l.add_slot(I);
    const Slot prog = l.add_slot(I);
    BoardManagerOperations ops;
    ops.get_ID = l.add_two_way("get_ID", 12, {}, {id});
    ops.get_new_dir_var = l.add_two_way("get_new_dir_var", 13, {}, {dir_var});
    ops.get_new_indir_var = l.add_two_way("get_new_indir_var", 14, {}, {indir_var});
    ops.get_new_label = l.add_two_way("get_new_label", 15, {}, {label});
    ops.get_new_prog = l.add_two_way("get_new_prog", 16, {}, {prog});
    ops.free_dir_var = l.add_one_way("free_dir_var", 17, {I});
    ops.free_label = l.add_one_way("free_label", 18, {I});
    ops.free_prog = l.add_one_way("free_prog", 19, {I});
    return ops;
}

SipperOperations add_sipper_operations(InterfaceLayout& l) {
    // The sipper's slots, in wire order; the last one answers "get_inhibit_state".
    for (WireType t : {I, I, I, I, I, I, R, R, R, T, I, I, T, I, I, I, I}) l.add_slot(t);
    const Slot inhibit = l.add_slot(I);
    SipperOperations ops;
    ops.emergency = l.add_one_way("emergency", 23, {});
    ops.reset_error_state = l.add_one_way("reset_error_state", 24, {});
    ops.get_inhibit_state = l.add_two_way("get_inhibit_state", 37, {}, {inhibit});
    return ops;
}

LogServerOperations add_log_server_operations(InterfaceLayout& l) {
    l.add_slot(T);
    LogServerOperations ops;
    ops.add_log_msg = l.add_one_way("add_log_msg", 12, {T});
    return ops;
}

SupervisorOperations add_supervisor_operations(InterfaceLayout& l) {
    SupervisorOperations ops;
    ops.reset_all_components = l.add_one_way("reset_all_components", 12, {});
    ops.load_every_configuration = l.add_one_way("load_every_configuration", 13, {});
    ops.save_every_configuration = l.add_one_way("save_every_configuration", 14, {});
    return ops;
}

}  // namespace vantrel
