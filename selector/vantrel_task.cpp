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
constexpr const char* kRotorLate = "goto_position ERROR, failed to reach target column";
constexpr const char* kGripperLate = "goto_position ERROR, failed to reach target gripper pos";
constexpr const char* kTripped = "One of the kill switches has been tripped";

// The part of `distance` that goes the way of `direction` (0 when it goes the other way).
std::int32_t toward(std::int32_t distance, std::int32_t direction) {
    return static_cast<long long>(distance) * direction > 0 ? distance : 0;
}

}  // namespace

template <typename T>
T* VantrelTask::client(const std::string& name) {
    const auto it = clients_.find(name);
    return it == clients_.end() ? nullptr : dynamic_cast<T*>(it->second.get());
}

VantrelTask::VantrelTask(VantrelParams& params) : Thread("vantrel task", 0), params_(params) {
    // What connect() made is freed by the members themselves when this throws.
    if (const auto failure = connect()) throw Exception(*failure);
    rotor_board_->set_stepper_loop_mode(kAxis, kClosedLoop);
    gripper_board_->set_stepper_loop_mode(kAxis, kOpenLoop);
}

// Creates and opens the clients and makes both boards; the message of the failure, if any.
std::optional<std::string> VantrelTask::connect() {
    try {
        clients_["Vantrel"] = std::make_unique<VantrelIF>("Vantrel");
        auto sipper = std::make_unique<SipperIF>("Sipper");
        // A hung sipper must not hold a wait beyond its poll period (and so beyond its limit).
        sipper->set_own_timeout(kPollLimitMs);
        clients_["Sipper"] = std::move(sipper);
        clients_["LinearMC"] = std::make_unique<NI7344IF>("LinearMC");
        clients_["RotaryMC"] = std::make_unique<NI7344IF>("RotaryMC");
        for (auto& [name, c] : clients_) c->open();

        int id = 0;
        if (client<NI7344IF>("LinearMC")->get_ID(id) != 0)
            return "VantrelTask: Failed to get linear mc board id";
        gripper_board_ = std::make_unique<Pci7344>(id);
        id = 0;
        if (client<NI7344IF>("RotaryMC")->get_ID(id) != 0)
            return "VantrelTask: Failed to get rotary mc board id";
        rotor_board_ = std::make_unique<Pci7344>(id);
        return std::nullopt;
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "SipperTask: unknown exception caught";
    }
}

VantrelTask::~VantrelTask() {
    // The body uses the boards and clients: it must have returned before they go.
    wait_for_body();
}

void VantrelTask::thread_main() {
    const int request = params_.request();
    unanswered_poll_logged_ = false;
    try {
        run(request);
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

void VantrelTask::run(int request) {
    if (request >= 0 && request <= VantrelParams::kMaxColumns) {
        if (!get_homed()) throw Exception("Can't goto position, not homed");
        goto_position(request);
    } else if (request == VantrelParams::kRequestHome) {
        home();
    } else if (request == VantrelParams::kRequestRelease) {
        release_if_needed(true);
    } else if (request == VantrelParams::kRequestClamp) {
        clamp_if_needed();
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

void VantrelTask::home() {
    // Two attempts; the second starts from the back-off move, without releasing again.
    for (int attempt = 1;; ++attempt) {
        task_log("begin homing operation");
        set_homed(false);
        rotor_board_->set_stepper_loop_mode(kAxis, kOpenLoop);
        rotor_board_->stop_motion(kAxis, kKillStop, kInputVector);
        rotor_board_->stop_motion(kAxis, kHaltStop, kInputVector);
        if (attempt == 1) release_before_homing();
        load_rotor_positioning();
        if (find_reference()) break;
        if (attempt == 2) throw Exception("home Failed");
        back_off();
    }
    rotor_board_->reset_pos(kAxis, 0, 0, kInputVector);
    set_homed(true);

    task_log("going to position 1");
    load_rotor_positioning();
    const int target = params_.position(1);
    rotor_board_->load_target_pos(kAxis, target, kInputVector);
    rotor_board_->start(kAxis, 0);
    wait_move(*rotor_board_, kRotorLimit, kRotorLate);
    clamp_if_needed();
    task_log("at position 1");
    task_log("homing operation complete");
}

void VantrelTask::release_before_homing() {
    const GripperPlace place = gripper_place();
    if (place ? *place == released_place() : get_current_pos() == 0) return;
    // Count from the current place so the gripper can let go before the rotor turns.
    rotor_board_->reset_pos(kAxis, 0, 0, kInputVector);
    rotor_board_->load_target_pos(kAxis, 0, kInputVector);
    release_gripper(place);
}

// Runs the reference search; true once the switch is found. After the search limit only the
// switch decides, read once more after the limit has passed.
bool VantrelTask::find_reference() {
    rotor_board_->find_reference(kAxis, 0, 1);
    Timer timer;
    timer.start();
    for (;;) {
        const bool late = timer.elapsed() > kReferenceLimit;
        std::uint16_t status = 0;
        rotor_board_->read_reference_rtn(kAxis, 0, 5, status);
        if (late) return status == 1;
        if (kill_switches_tripped()) throw Exception(kTripped);
        sleep_ms(kPollMs);
        if (status == 1) return true;
    }
}

void VantrelTask::back_off() {
    rotor_board_->set_op_mode(kAxis, kRelative);
    rotor_board_->load_target_pos(kAxis, kBackOff, kInputVector);
    rotor_board_->start(kAxis, 0);
    wait_move(*rotor_board_, kRotorLimit, kRotorLate);
}

void VantrelTask::goto_position(int index) {
    task_log("going to position " + std::to_string(index));
    load_rotor_positioning();
    // Fallback for an unknown gripper: at park it is already released, elsewhere clamped.
    release_if_needed(false);
    const int target = params_.position(index);
    task_log("target pos = " + std::to_string(target));
    rotor_board_->load_target_pos(kAxis, target, kInputVector);
    rotor_board_->start(kAxis, 0);
    wait_move(*rotor_board_, kRotorLimit, kRotorLate);
    if (index != 0) clamp_if_needed();
    task_log("at position " + std::to_string(index));
}

void VantrelTask::release_if_needed(bool assume_clamped) {
    const GripperPlace place = gripper_place();
    const bool needed =
        place ? *place != released_place() : assume_clamped || get_current_pos() != 0;
    if (needed) release_gripper(place);
}

void VantrelTask::clamp_if_needed() {
    // An unknown gripper is taken to be released: that is where every clamp starts.
    const GripperPlace place = gripper_place();
    if (!place || *place != 0) clamp_gripper(place);
}

VantrelTask::GripperPlace VantrelTask::gripper_place() {
    std::int32_t marker = 0;
    gripper_board_->read_var_rtn(kGripperVariable, marker);
    const auto value = static_cast<std::uint32_t>(marker);
    if (value != kGripperClampedValue && value != kGripperReleasedValue) return std::nullopt;
    std::int32_t counter = 0;
    gripper_board_->read_pos_rtn(kAxis, counter);
    return counter;
}

// Makes the gripper's place known (an unknown gripper is taken to stand at `assumed`, and its
// counter is set to read that), records `command`, and gives the place the move starts from.
std::int32_t VantrelTask::command_gripper(GripperPlace from, std::int32_t assumed,
                                          unsigned command) {
    if (!from) {
        gripper_board_->reset_pos(kAxis, assumed, assumed, kInputVector);
        from = assumed;
    }
    gripper_board_->load_var(static_cast<std::int32_t>(command), kGripperVariable);
    return *from;
}

std::int32_t VantrelTask::released_place() {
    // Truncated toward zero: an odd stroke opens one unit short, in two equal halves.
    return 2 * static_cast<std::int32_t>(std::trunc(params_.gripper_stroke() * -0.5));
}

void VantrelTask::load_gripper_move(std::int32_t velocity) {
    gripper_board_->set_op_mode(kAxis, kRelative);
    gripper_board_->load_acceleration(kAxis, kAccelAndDecel, params_.gripper_accel(), kInputVector);
    gripper_board_->load_scurve_time(kAxis, kScurveTime, kInputVector);
    gripper_board_->load_velocity(kAxis, velocity, kInputVector);
}

void VantrelTask::move_gripper(std::int32_t distance) {
    gripper_board_->load_target_pos(kAxis, distance, kInputVector);
    gripper_board_->start(kAxis, 0);
    wait_move(*gripper_board_, kGripperLimit, kGripperLate);
}

// Opens the gripper in two halves with the buzz between them. From the clamped place each half is
// half the stroke; from a release or clamp cut short, the moves take it to the same places.
void VantrelTask::release_gripper(GripperPlace from) {
    const std::int32_t released = released_place();
    const std::int32_t half = released / 2;
    const std::int32_t place = command_gripper(from, 0, kGripperReleasedValue);
    load_gripper_move(-params_.gripper_velocity());
    const std::int32_t first = toward(half - place, half);
    move_gripper(first);
    buzz();
    move_gripper(released - (place + first));
    gripper_board_->stop_motion(kAxis, kHaltStop, 0);
}

void VantrelTask::clamp_gripper(GripperPlace from) {
    const std::int32_t place = command_gripper(from, released_place(), kGripperClampedValue);
    load_gripper_move(params_.gripper_velocity());
    move_gripper(-place);
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
    wait_move(*rotor_board_, kBuzzReturnLimit, kRotorLate);
    task_log("Buzzzzz done");
}

bool VantrelTask::move_complete(Pci7344& board) {
    std::uint16_t complete = 0;
    board.check_move_complete_status(kAxis, 0, complete);
    return complete != 0;
}

void VantrelTask::wait_move(Pci7344& board, double limit, const char* late_message) {
    Timer timer;
    timer.start();
    for (;;) {
        if (move_complete(board)) return;
        sleep_ms(kPollMs);
        // The clock alone fails nothing: the process may have stood still while the axis went
        // on, so the axis gets one last look.
        if (timer.elapsed() > limit) {
            if (move_complete(board)) return;
            throw Exception(late_message);
        }
        if (kill_switches_tripped()) throw Exception(kTripped);
    }
}

bool VantrelTask::kill_switches_tripped() {
    std::int32_t state = 0;
    // A sipper that does not answer leaves the state 0: it never stops a motion.
    const int result = client<SipperIF>("Sipper")->get_inhibit_state(state);
    if (result != kCallDone && !unanswered_poll_logged_) {
        unanswered_poll_logged_ = true;
        task_log(std::string("kill switch poll not answered by Sipper (") +
                 describe_call_result(result) + "), taken as not tripped");
    }
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
