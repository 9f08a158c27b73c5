#include "selector/vantrel.h"

#include <climits>
#include <cstring>

#include "config/config_value.h"
#include "interface/clients.h"
#include "platform/exception.h"
#include "selector/vantrel_ifs.h"

namespace vantrel {
namespace {

constexpr const char* kNotPresent = " :  device not present";
constexpr std::size_t kColumnTypeLimit = 249;

}  // namespace

Vantrel::Vantrel(const std::string& interface_name, const std::string& log_file,
                 const std::string& config_file)
    : Component(interface_name, log_file, config_file),
      stats_(params_, [this](const std::string& text) { log_msg(text, 0); }) {
    int status = 0;
    load_config(config_file, status);
    if (status != 0)
        throw Exception("Vantrel Constructor -- Failed to load config file " + config_file);
    set_iserver(std::make_unique<VantrelIFS>(interface_name, this));
    log_msg("Vantrel constructor started iserver using interface name = " + interface_name, 0);
}

Vantrel::~Vantrel() {
    write_stats();
    task_.reset();
    rotor_board_.reset();
}

void Vantrel::load_config(const std::string& file_name, int& status) {
    Component::load_config(file_name, status);
    if (status != 0) {
        log_msg("failed to load cfg file " + file_name, 0);
        return;
    }
    try {
        std::string stats_name;
        get_cfg_value("COLUMNSTATS", stats_name);
        // An absolute name stands for itself: an installed service keeps its statistics apart
        // from its configuration.
        const std::string stats_path =
            stats_name.starts_with('/') ? stats_name : config().directory() + stats_name;
        log_msg("persistent data in " + stats_path, 0);
        params_.set_stats_path(stats_path);
        int value = 0;
        get_cfg_value("DEVICE_PRESENT", value);
        params_.set_device_present(value == 1);
        params_.set_capacity(6);
        get_position_from_config(0);
        get_position_from_config(1);
        get_cfg_value("GRIPPERSTROKE", value);
        params_.set_gripper_stroke(value);
        get_cfg_value("GRIPPERVELOCITY", value);
        params_.set_gripper_velocity(value);
        get_cfg_value("GRIPPERACCEL", value);
        params_.set_gripper_accel(value);
        get_cfg_value("ROTORVELOCITY", value);
        params_.set_rotor_velocity(value);
        get_cfg_value("ROTORACCEL", value);
        params_.set_rotor_accel(value);
        get_cfg_value("ROTORPATTERN", value);
        params_.set_rotor_pattern(value);
        params_.set_capacity(value == 440 ? 6 : 12);
        log_msg("ROTOR PATTERN = " + std::to_string(value), 0);
        double real = 0.0;
        get_cfg_value("BUZZDURATION", real);
        params_.set_buzz_duration(real);
        get_cfg_value("BUZZAMPLITUDE", value);
        params_.set_buzz_amplitude(value);
        get_cfg_value("AUTO_COLUMN_SWITCH", value);
        params_.set_auto_column_switch(value == 1);
        get_cfg_value("P1_PRES_LIMIT", real);
        params_.set_p1_pres_limit(real);
        get_cfg_value("P3_PRES_LIMIT", real);
        params_.set_p3_pres_limit(real);
        get_cfg_value("SAMPLE_LIMIT", value);
        params_.set_sample_limit(value);
        const int capacity = params_.capacity();
        const int pattern = params_.rotor_pattern();
        for (int i = 2; i <= capacity; ++i) {
            // Computed in 64 bits and clamped: large settings must not overflow into nonsense.
            const long long pos = static_cast<long long>(params_.position(1)) +
                                  static_cast<long long>(pattern) * (i - 1);
            const int clamped =
                static_cast<int>(std::max<long long>(INT_MIN, std::min<long long>(INT_MAX, pos)));
            params_.set_position(i, clamped);
            log_msg("POS" + std::to_string(i) + " = " + std::to_string(clamped), 0);
        }
    } catch (const Exception& e) {
        log_msg("load_config ERROR, " + e.message(), 0);
        status = -1;
    }
}

void Vantrel::get_position_from_config(int index) {
    if (!present()) {
        log_msg(std::string("Vantrel::get_position_from_config") + kNotPresent, 0);
        return;
    }
    const std::string key = "POS" + std::to_string(index);
    std::int32_t value = 0;
    if (!config().get(key, value))
        throw Exception("load_config ERROR, Missing " + key + " definition");
    params_.set_position(index, value);
    log_msg(key + " = " + std::to_string(value), 0);
}

bool Vantrel::initialize() {
    try {
        if (present()) {
            stats_.open();
            task_.reset();
            task_ = std::make_unique<VantrelTask>(params_);
            NI7344IF rotary("RotaryMC");
            rotary.open();
            int id = 0;
            if (rotary.get_ID(id) != 0) throw Exception("Failed to communicate with RotaryMC");
            rotor_board_ = std::make_unique<Pci7344>(id);
        } else {
            log_msg("device not present", 0);
        }
        const bool result = Component::initialize();
        log_msg("Done initializing", 0);
        return result;
    } catch (const Exception& e) {
        const std::string& cause = stats_.store().load_failure();
        log_msg("initialize_ failed: " + e.message() + (cause.empty() ? "" : ": " + cause), 0);
    } catch (...) {
        log_msg("initialize_ failed: caught unknown exception", 0);
    }
    return false;
}

void Vantrel::write_stats() {
    if (present()) stats_.write();
}

int Vantrel::device_present() {
    return present() ? 1 : 0;
}

int Vantrel::get_capacity() {
    return params_.capacity();
}

int Vantrel::get_current_column() {
    if (!present()) return -1;
    if (!initialised()) {
        log_msg("Can't get_current_column, component not initialized", 0);
        return -1;
    }
    return task_ ? task_->get_current_pos() : -1;
}

void Vantrel::set_current_column(int index) {
    if (!present()) {
        log_msg(std::string("Vantrel::set_current_column") + kNotPresent, 0);
        return;
    }
    if (!initialised()) {
        log_msg("Can't set_current_column, component not initialized", 0);
        return;
    }
    if (!task_) return;
    if (task_->is_running()) {
        log_msg("set_current_column Failed, task is busy", 0);
        return;
    }
    if (index < 0 || index > params_.capacity()) {
        log_msg("Invalid column position specified", 0);
        return;
    }
    params_.set_request(index);
    task_->start();
}

void Vantrel::get_column_type(int index, char* buffer, std::size_t size) {
    std::string text;
    if (!present()) {
        text = " ";
    } else if (!initialised()) {
        log_msg("Can't get_column_type, component not initialized", 0);
    } else {
        text = params_.column_type(index);
    }
    const std::size_t n = std::min({text.size(), kColumnTypeLimit, size > 0 ? size - 1 : 0});
    if (size == 0) return;
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
}

void Vantrel::set_column_type(int index, const std::string& type) {
    if (!present()) {
        log_msg(std::string("Vantrel::set_column_type") + kNotPresent, 0);
        return;
    }
    if (!initialised()) {
        log_msg("Can't set_column_type, component not initialized", 0);
        return;
    }
    if (!storable_string(type)) {
        // Written as it is, it would break the statistics file or add entries of its own.
        log_msg("Vantrel::set_column_type refused for column " + std::to_string(index) +
                    ": a type text holding a double quote or a byte below 0x03 cannot be kept in "
                    "the statistics file",
                0);
        return;
    }
    params_.set_column_type(index, type);
    write_stats();
}

int Vantrel::get_sample_count(int index) {
    if (!present()) return 0;
    if (!initialised()) {
        log_msg("Can't get_sample_count, component not initialized", 0);
        return 0;
    }
    return params_.sample_count(index);
}

int Vantrel::get_sample_limit() {
    return params_.sample_limit();
}

int Vantrel::get_auto_column_switch() {
    return params_.auto_column_switch() ? 1 : 0;
}

void Vantrel::set_auto_column_switch(int value) {
    params_.set_auto_column_switch(value == 1);
}

void Vantrel::get_pres_limits(double& p1, double& p3) {
    p1 = params_.p1_pres_limit();
    p3 = params_.p3_pres_limit();
}

void Vantrel::set_pres_limits(double p1, double p3) {
    params_.set_p1_pres_limit(p1);
    params_.set_p3_pres_limit(p3);
}

void Vantrel::increment_sample_count() {
    if (!present()) return;
    if (!initialised()) {
        log_msg("Can't increment_sample_count, component not initialized", 0);
        return;
    }
    if (!task_) return;
    const int index = task_->get_current_pos();
    if (index < 1 || index > params_.capacity()) return;
    const int count = params_.sample_count(index);
    // A count at the largest integer stays there rather than wrapping to a negative number.
    params_.set_sample_count(index, count == INT_MAX ? INT_MAX : count + 1);
    write_stats();
}

void Vantrel::reset_sample_count(int index) {
    store_sample_count(index, 0, "Vantrel::reset_sample_count",
                       "Can't reset_sample_count, component not initialized");
}

void Vantrel::set_sample_count(int index, int count) {
    store_sample_count(index, count, "Vantrel::set_sample_count",
                       "Can't set_sample_count, component not initialized");
}

void Vantrel::store_sample_count(int index, int count, const char* operation,
                                 const char* not_initialised) {
    if (!present()) {
        log_msg(std::string(operation) + kNotPresent, 0);
        return;
    }
    if (!initialised()) {
        log_msg(not_initialised, 0);
        return;
    }
    params_.set_sample_count(index, count < 0 ? 0 : count);
    write_stats();
}

void Vantrel::home() {
    if (!present()) {
        log_msg(std::string("Vantrel::home") + kNotPresent, 0);
        return;
    }
    if (!initialised()) {
        log_msg("Can't home, component not initialized", 0);
        return;
    }
    if (!task_) return;
    if (task_->is_running()) {
        log_msg("set_current_column Failed, task is busy", 0);
        return;
    }
    params_.set_request(VantrelParams::kRequestHome);
    task_->start();
}

int Vantrel::homed() {
    if (!present()) return 0;
    if (!initialised()) {
        log_msg("Can't tell if homed, component not initialized", 0);
        return 0;
    }
    return task_ && task_->get_homed() ? 1 : 0;
}

int Vantrel::is_busy() {
    if (!present()) return 0;
    if (!initialised()) {
        log_msg("Can't be busy, component not initialized", 0);
        return 0;
    }
    return task_ && task_->is_running() ? 1 : 0;
}

int Vantrel::get_rotor_position() {
    if (!rotor_board_) return 0;
    try {
        std::int32_t position = 0;
        rotor_board_->read_pos_rtn(VantrelTask::kAxis, position);
        return position;
    } catch (const Exception& e) {
        // One bad read must not take the selector off line: log it and answer 0.
        log_msg("Vantrel::get_rotor_position " + e.message(), 0);
        return 0;
    }
}

}  // namespace vantrel
