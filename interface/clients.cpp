#include "interface/clients.h"

namespace vantrel {

ComponentIF::ComponentIF(std::string name) : InterfaceClient(std::move(name)) {
    common_ = add_component_operations(layout());
    set_queue_size(kQueueSize);
}

int ComponentIF::run() {
    return call_one_way(common_.run, {});
}
int ComponentIF::stop() {
    return call_one_way(common_.stop, {});
}
int ComponentIF::reset() {
    return call_one_way(common_.reset, {});
}
int ComponentIF::kill() {
    return call_one_way(common_.kill, {});
}
int ComponentIF::get_name(std::string& name) {
    return call_two_way(common_.get_name, {}, {name});
}
int ComponentIF::get_state(std::int32_t& state) {
    return call_two_way(common_.get_state, {}, {state});
}
int ComponentIF::save_config(const std::string& file, std::int32_t& status) {
    return call_two_way(common_.save_config, {file}, {status});
}
int ComponentIF::delete_config(const std::string& file, std::int32_t& status) {
    return call_two_way(common_.delete_config, {file}, {status});
}
int ComponentIF::load_config(const std::string& file, std::int32_t& status) {
    return call_two_way(common_.load_config, {file}, {status});
}
int ComponentIF::log_msg(const std::string& message, std::int32_t level) {
    return call_one_way(common_.log_msg, {message, level});
}
int ComponentIF::get_component_version(std::string& version) {
    return call_two_way(common_.get_component_version, {}, {version});
}
int ComponentIF::get_cfg_dir(std::string& directory) {
    return call_two_way(common_.get_cfg_dir, {}, {directory});
}

NI7344IF::NI7344IF(std::string name) : ComponentIF(std::move(name)) {
    ops_ = add_board_manager_operations(layout());
}

int NI7344IF::get_ID(std::int32_t& id) {
    return call_two_way(ops_.get_ID, {}, {id});
}

VantrelIF::VantrelIF(std::string name) : ComponentIF(std::move(name)) {
    ops_ = add_vantrel_operations(layout());
}

int VantrelIF::device_present(bool& present) {
    return call_two_way(ops_.device_present, {}, {present});
}
int VantrelIF::get_capacity(std::int32_t& capacity) {
    return call_two_way(ops_.get_capacity, {}, {capacity});
}
int VantrelIF::get_current_column(std::int32_t& column) {
    return call_two_way(ops_.get_current_column, {}, {column});
}
int VantrelIF::set_current_column(std::int32_t column) {
    return call_one_way(ops_.set_current_column, {column});
}
int VantrelIF::get_column_type(std::int32_t column, std::string& type) {
    return call_two_way(ops_.get_column_type, {column}, {type});
}
int VantrelIF::set_column_type(std::int32_t column, const std::string& type) {
    return call_one_way(ops_.set_column_type, {column, type});
}
int VantrelIF::get_sample_count(std::int32_t column, std::int32_t& count) {
    return call_two_way(ops_.get_sample_count, {column}, {count});
}
int VantrelIF::get_sample_limit(std::int32_t& limit) {
    return call_two_way(ops_.get_sample_limit, {}, {limit});
}
int VantrelIF::get_auto_column_switch(bool& on) {
    return call_two_way(ops_.get_auto_column_switch, {}, {on});
}
int VantrelIF::set_auto_column_switch(std::int32_t value) {
    return call_one_way(ops_.set_auto_column_switch, {value});
}
int VantrelIF::get_pres_limits(double& p1, double& p3) {
    return call_two_way(ops_.get_pres_limits, {}, {p1, p3});
}
int VantrelIF::set_pres_limits(double p1, double p3) {
    return call_one_way(ops_.set_pres_limits, {p1, p3});
}
int VantrelIF::increment_sample_count() {
    return call_one_way(ops_.increment_sample_count, {});
}
int VantrelIF::reset_sample_count(std::int32_t column) {
    return call_one_way(ops_.reset_sample_count, {column});
}
int VantrelIF::set_sample_count(std::int32_t column, std::int32_t count) {
    return call_one_way(ops_.set_sample_count, {column, count});
}
int VantrelIF::home() {
    return call_one_way(ops_.home, {});
}
int VantrelIF::homed(bool& homed) {
    return call_two_way(ops_.homed, {}, {homed});
}
int VantrelIF::is_busy(bool& busy) {
    return call_two_way(ops_.is_busy, {}, {busy});
}
int VantrelIF::get_rotor_position(std::int32_t& position) {
    return call_two_way(ops_.get_rotor_position, {}, {position});
}

SipperIF::SipperIF(std::string name) : ComponentIF(std::move(name)) {
    ops_ = add_sipper_operations(layout());
}

int SipperIF::get_inhibit_state(std::int32_t& state) {
    return call_two_way(ops_.get_inhibit_state, {}, {state});
}
int SipperIF::emergency() {
    return call_one_way(ops_.emergency, {});
}
int SipperIF::reset_error_state() {
    return call_one_way(ops_.reset_error_state, {});
}

LogServerIF::LogServerIF(std::string name) : ComponentIF(std::move(name)) {
    ops_ = add_log_server_operations(layout());
}

int LogServerIF::add_log_msg(const std::string& message) {
    return call_one_way(ops_.add_log_msg, {message});
}

SupervisorIF::SupervisorIF(std::string name) : ComponentIF(std::move(name)) {
    ops_ = add_supervisor_operations(layout());
}

}  // namespace vantrel
