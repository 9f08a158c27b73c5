#include "selector/vantrel_task.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "framework/timer.h"
#include "interface/clients.h"
#include "platform/exception.h"

namespace vantrel {
namespace {

constexpr int kInputVector = 0xFF;
constexpr int kAbsolute = 0, kRelative = 1;
constexpr int kOpenLoop = 0, kClosedLoop = 1;
constexpr int kAccelAndDecel = 0, kAccelOnly = 1, kDecelOnly = 2;
constexpr int kHaltStop = 1, kKillStop = 2;
constexpr int kScurveTime = 10;
constexpr double kReferenceLimit = 60.0;
constexpr double kRotorLimit = 20.0;
constexpr double kBuzzReturnLimit = 2.0;
constexpr double kGripperLimit = 10.0;
constexpr long kPollMs = 100;
constexpr long kBuzzHalfPeriodMs = 80;
constexpr int kBuzzVelocity = 1000;
constexpr int kBuzzAccel = 30000;
constexpr int kBackOff = 1000;

}  // namespace

template <typename T>
T* VantrelTask::client(const std::string& name) {
    const auto it = clients_.find(name);
    return it == clients_.end() ? nullptr : dynamic_cast<T*>(it->second.get());
}

VantrelTask::VantrelTask(VantrelParams& params) : Thread("vantrel task", 0), params_(params) {
    try {
        clients_["Vantrel"] = std::make_unique<VantrelIF>("Vantrel");
        clients_["Sipper"] = std::make_unique<SipperIF>("Sipper");
        clients_["LinearMC"] = std::make_unique<NI7344IF>("LinearMC");
        clients_["RotaryMC"] = std::make_unique<NI7344IF>("RotaryMC");
        for (auto& [name, c] : clients_) c->open();

        int id = 0;
        if (client<NI7344IF>("LinearMC")->get_ID(id) != 0)
            throw Exception("VantrelTask: Failed to get linear mc board id");
        gripper_board_ = std::make_unique<Pci7344>(id);
        id = 0;
        if (client<NI7344IF>("RotaryMC")->get_ID(id) != 0)
            throw Exception("VantrelTask: Failed to get rotary mc board id");
        rotor_board_ = std::make_unique<Pci7344>(id);
    } catch (...) {
        std::string message = "SipperTask: unknown exception caught";
        try {
            throw;
        } catch (const Exception& e) {
            message = e.message();
        } catch (...) {
        }
        clients_.clear();
        gripper_board_.reset();
        rotor_board_.reset();
        throw Exception(message);
    }
    rotor_board_->set_stepper_loop_mode(kAxis, kClosedLoop);
    gripper_board_->set_stepper_loop_mode(kAxis, kOpenLoop);
}

VantrelTask::~VantrelTask() {
    // The body uses the boards and clients: it must have returned before they go.
    wait_for_body();
    clients_.clear();
    gripper_board_.reset();
    rotor_board_.reset();
}

void VantrelTask::thread_main() {
    const int request = params_.request();
    try {
        if (request >= 0 && request <= VantrelParams::kMaxColumns) {
            if (!get_homed()) throw Exception("Can't goto position, not homed");
            goto_position(request);
        } else if (request == VantrelParams::kRequestHome) {
            home(1);
        } else if (request == VantrelParams::kRequestRelease) {
            release_gripper();
        } else if (request == VantrelParams::kRequestClamp) {
            clamp_gripper();
        }
    } catch (const Exception& e) {
        task_log(e.message());
    } catch (...) {
        task_log("thread_main, Caught unknown exception");
    }
    // Whatever happened, both axes end halted. A board error here has nobody left to tell.
    try {
        rotor_board_->stop_motion(kAxis, kHaltStop, 0);
        gripper_board_->stop_motion(kAxis, kHaltStop, 0);
    } catch (const Exception& e) {
        task_log(e.message());
    }
}

void VantrelTask::load_rotor_positioning() {
    const int accel = params_.rotor_accel();
    const int velocity = params_.rotor_velocity();
    rotor_board_->set_op_mode(kAxis, kAbsolute);
    rotor_board_->set_stepper_loop_mode(kAxis, kClosedLoop);
    rotor_board_->load_velocity(kAxis, velocity, kInputVector);
    rotor_board_->load_acceleration(kAxis, kAccelAndDecel, accel, kInputVector);
    rotor_board_->load_scurve_time(kAxis, kScurveTime, kInputVector);
}

void VantrelTask::home(int attempt) {
    task_log("begin homing operation");
    set_homed(false);
    rotor_board_->set_stepper_loop_mode(kAxis, kOpenLoop);
    rotor_board_->stop_motion(kAxis, kKillStop, kInputVector);
    rotor_board_->stop_motion(kAxis, kHaltStop, kInputVector);
    if (attempt == 1 && get_current_pos() != 0) {
        // Count from the current place so the gripper can let go before the rotor turns.
        rotor_board_->reset_pos(kAxis, 0, 0, kInputVector);
        rotor_board_->load_target_pos(kAxis, 0, kInputVector);
        release_gripper();
    }
    load_rotor_positioning();
    rotor_board_->find_reference(kAxis, 0, 1);
    Timer timer;
    timer.start();
    for (;;) {
        std::uint16_t status = 0;
        rotor_board_->read_reference_rtn(kAxis, 0, 5, status);
        if (timer.elapsed() > kReferenceLimit) {
            if (status == 1) break;
            if (attempt != 1) throw Exception("home Failed");
            rotor_board_->set_op_mode(kAxis, kRelative);
            rotor_board_->load_target_pos(kAxis, kBackOff, kInputVector);
            rotor_board_->start(kAxis, 0);
            wait_rotor_move(kRotorLimit);
            home(2);
            // The retry ends clamped at position 1: clamping again here would drive the gripper a
            // whole stroke against a column it already holds.
            return;
        }
        if (kill_switches_tripped()) throw Exception("One of the kill switches has been tripped");
        sleep_ms(kPollMs);
        if (status == 1) break;
    }
    rotor_board_->reset_pos(kAxis, 0, 0, kInputVector);
    set_homed(true);

    task_log("going to position 1");
    load_rotor_positioning();
    const int target = params_.position(1);
    rotor_board_->load_target_pos(kAxis, target, kInputVector);
    rotor_board_->start(kAxis, 0);
    wait_rotor_move(kRotorLimit);
    clamp_gripper();
    task_log("at position 1");
    task_log("homing operation complete");
}

void VantrelTask::goto_position(int index) {
    task_log("going to position " + std::to_string(index));
    load_rotor_positioning();
    if (get_current_pos() != 0) release_gripper();
    const int target = params_.position(index);
    task_log("target pos = " + std::to_string(target));
    rotor_board_->load_target_pos(kAxis, target, kInputVector);
    rotor_board_->start(kAxis, 0);
    wait_rotor_move(kRotorLimit);
    if (index != 0) clamp_gripper();
    task_log("at position " + std::to_string(index));
}

void VantrelTask::release_gripper() {
    gripper_board_->set_op_mode(kAxis, kRelative);
    gripper_board_->load_acceleration(kAxis, kAccelAndDecel, params_.gripper_accel(), kInputVector);
    gripper_board_->load_scurve_time(kAxis, kScurveTime, kInputVector);
    gripper_board_->load_velocity(kAxis, -params_.gripper_velocity(), kInputVector);
    // Truncated toward zero: an odd stroke leaves the two halves one unit short.
    const int half = static_cast<int>(std::trunc(params_.gripper_stroke() * -0.5));
    gripper_board_->load_target_pos(kAxis, half, kInputVector);
    gripper_board_->start(kAxis, 0);
    wait_gripper_move(kGripperLimit);
    buzz();
    gripper_board_->load_target_pos(kAxis, half, kInputVector);
    gripper_board_->start(kAxis, 0);
    wait_gripper_move(kGripperLimit);
    gripper_board_->stop_motion(kAxis, kHaltStop, 0);
}

void VantrelTask::clamp_gripper() {
    gripper_board_->set_op_mode(kAxis, kRelative);
    gripper_board_->load_acceleration(kAxis, kAccelAndDecel, params_.gripper_accel(), kInputVector);
    gripper_board_->load_scurve_time(kAxis, kScurveTime, kInputVector);
    gripper_board_->load_velocity(kAxis, params_.gripper_velocity(), kInputVector);
    gripper_board_->load_target_pos(kAxis, params_.gripper_stroke(), kInputVector);
    gripper_board_->start(kAxis, 0);
    wait_gripper_move(kGripperLimit);
    gripper_board_->stop_motion(kAxis, kHaltStop, 0);
}

void VantrelTask::buzz() {
    const int amplitude = params_.buzz_amplitude();
    const double duration = params_.buzz_duration();
    task_log("Buzzzzz ");
    std::int32_t start = 0;
    rotor_board_->read_pos_rtn(kAxis, start);
    rotor_board_->set_op_mode(kAxis, kAbsolute);
    rotor_board_->load_velocity(kAxis, kBuzzVelocity, kInputVector);
    rotor_board_->load_acceleration(kAxis, kAccelOnly, kBuzzAccel, kInputVector);
    rotor_board_->load_acceleration(kAxis, kDecelOnly, kBuzzAccel, kInputVector);
    Timer timer;
    timer.start();
    while (timer.elapsed() < duration) {
        rotor_board_->stop_motion(kAxis, kHaltStop, 0);
        rotor_board_->load_target_pos(kAxis, start + amplitude, kInputVector);
        rotor_board_->start(kAxis, 0);
        sleep_ms(kBuzzHalfPeriodMs);
        rotor_board_->stop_motion(kAxis, kHaltStop, 0);
        rotor_board_->load_target_pos(kAxis, start - amplitude, kInputVector);
        rotor_board_->start(kAxis, 0);
        sleep_ms(kBuzzHalfPeriodMs);
    }
    load_rotor_positioning();
    rotor_board_->load_target_pos(kAxis, start, kInputVector);
    rotor_board_->start(kAxis, 0);
    wait_rotor_move(kBuzzReturnLimit);
    task_log("Buzzzzz done");
}

void VantrelTask::wait_rotor_move(double limit) {
    Timer timer;
    timer.start();
    for (;;) {
        std::uint16_t complete = 0;
        rotor_board_->check_move_complete_status(kAxis, 0, complete);
        if (complete != 0) return;
        sleep_ms(kPollMs);
        if (timer.elapsed() > limit)
            throw Exception("goto_position ERROR, failed to reach target column");
        if (kill_switches_tripped()) throw Exception("One of the kill switches has been tripped");
    }
}

void VantrelTask::wait_gripper_move(double limit) {
    Timer timer;
    timer.start();
    for (;;) {
        std::uint16_t complete = 0;
        gripper_board_->check_move_complete_status(kAxis, 0, complete);
        if (complete != 0) return;
        sleep_ms(kPollMs);
        if (timer.elapsed() > limit)
            throw Exception("goto_position ERROR, failed to reach target gripper pos");
        if (kill_switches_tripped()) throw Exception("One of the kill switches has been tripped");
    }
}

bool VantrelTask::kill_switches_tripped() {
    int state = 0;
    // A sipper that cannot be reached leaves the state 0: it never stops a motion.
    client<SipperIF>("Sipper")->get_inhibit_state(state);
    return state != 0;
}

void VantrelTask::set_homed(bool homed) {
    try {
        rotor_board_->load_var(static_cast<std::int32_t>(homed ? kHomedValue : kNotHomedValue),
                               kHomedVariable);
    } catch (const Exception& e) {
        task_log("set_homed ERROR : " + e.message());
    }
}

bool VantrelTask::get_homed() {
    try {
        std::int32_t value = 0;
        rotor_board_->read_var_rtn(kHomedVariable, value);
        const auto bits = static_cast<std::uint32_t>(value);
        return (bits >> 24) == 0x88 && (bits & 1u) != 0;
    } catch (const Exception& e) {
        task_log("get_homed ERROR : " + e.message());
        return false;
    }
}

int VantrelTask::get_current_pos() {
    try {
        std::int32_t p = 0;
        rotor_board_->read_pos_rtn(kAxis, p);
        const int capacity = params_.capacity();
        for (int i = 0; i <= capacity; ++i) {
            if (std::llabs(static_cast<long long>(params_.position(i)) - p) <= kTolerance) return i;
        }
        return -1;
    } catch (const Exception& e) {
        task_log("get_current_pos ERROR : " + e.message());
        return -1;
    }
}

void VantrelTask::task_log(const std::string& text) {
    client<VantrelIF>("Vantrel")->log_msg("VantrelTask :" + text, 0);
}

}  // namespace vantrel
