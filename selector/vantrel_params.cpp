#include "selector/vantrel_params.h"

#include "platform/exception.h"

namespace vantrel {

VantrelParams::VantrelParams() {
    for (int i = 1; i <= kMaxColumns; ++i) {
        column_types_[i] = "";
        sample_counts_[i] = 0;
    }
}

VantrelParams::~VantrelParams() {
    lock_.close();
}

std::string VantrelParams::column_type(int index) {
    MutexLock guard(lock_);
    return is_column(index) ? column_types_[index] : std::string();
}

void VantrelParams::set_column_type(int index, const std::string& type) {
    MutexLock guard(lock_);
    if (is_column(index)) column_types_[index] = type;
}

int VantrelParams::sample_count(int index) {
    MutexLock guard(lock_);
    return is_column(index) ? sample_counts_[index] : 0;
}

void VantrelParams::set_sample_count(int index, int count) {
    MutexLock guard(lock_);
    if (is_column(index)) sample_counts_[index] = count;
}

int VantrelParams::position(int index) {
    {
        MutexLock guard(lock_);
        if (index >= 0 && index <= capacity_) {
            const auto it = positions_.find(index);
            return it == positions_.end() ? 0 : it->second;
        }
    }
    throw Exception("VantrelParams::position ERROR, invalid position index");
}

void VantrelParams::set_position(int index, int value) {
    MutexLock guard(lock_);
    if (index >= 0 && index <= capacity_) positions_[index] = value;
}

std::string VantrelParams::stats_path() {
    return get(stats_path_);
}
void VantrelParams::set_stats_path(const std::string& path) {
    put(stats_path_, path);
}
int VantrelParams::request() {
    return get(request_);
}
void VantrelParams::set_request(int code) {
    put(request_, code);
}
bool VantrelParams::device_present() {
    return get(device_present_);
}
void VantrelParams::set_device_present(bool present) {
    put(device_present_, present);
}
int VantrelParams::capacity() {
    return get(capacity_);
}
void VantrelParams::set_capacity(int capacity) {
    put(capacity_, capacity);
}
int VantrelParams::gripper_velocity() {
    return get(gripper_velocity_);
}
void VantrelParams::set_gripper_velocity(int value) {
    put(gripper_velocity_, value);
}
int VantrelParams::gripper_accel() {
    return get(gripper_accel_);
}
void VantrelParams::set_gripper_accel(int value) {
    put(gripper_accel_, value);
}
int VantrelParams::gripper_stroke() {
    return get(gripper_stroke_);
}
void VantrelParams::set_gripper_stroke(int value) {
    put(gripper_stroke_, value);
}
int VantrelParams::rotor_velocity() {
    return get(rotor_velocity_);
}
void VantrelParams::set_rotor_velocity(int value) {
    put(rotor_velocity_, value);
}
int VantrelParams::rotor_accel() {
    return get(rotor_accel_);
}
void VantrelParams::set_rotor_accel(int value) {
    put(rotor_accel_, value);
}
int VantrelParams::rotor_pattern() {
    return get(rotor_pattern_);
}
void VantrelParams::set_rotor_pattern(int value) {
    put(rotor_pattern_, value);
}
int VantrelParams::buzz_amplitude() {
    return get(buzz_amplitude_);
}
void VantrelParams::set_buzz_amplitude(int value) {
    put(buzz_amplitude_, value);
}
int VantrelParams::sample_limit() {
    return get(sample_limit_);
}
void VantrelParams::set_sample_limit(int value) {
    put(sample_limit_, value);
}
double VantrelParams::buzz_duration() {
    return get(buzz_duration_);
}
void VantrelParams::set_buzz_duration(double value) {
    put(buzz_duration_, value);
}
bool VantrelParams::auto_column_switch() {
    return get(auto_column_switch_);
}
void VantrelParams::set_auto_column_switch(bool value) {
    put(auto_column_switch_, value);
}
double VantrelParams::p1_pres_limit() {
    return get(p1_pres_limit_);
}
void VantrelParams::set_p1_pres_limit(double value) {
    put(p1_pres_limit_, value);
}
double VantrelParams::p3_pres_limit() {
    return get(p3_pres_limit_);
}
void VantrelParams::set_p3_pres_limit(double value) {
    put(p3_pres_limit_, value);
}

}  // namespace vantrel
