#pragma once
// VantrelTask: the thread that moves the column selector. Each start runs one motion request
// (home, go to a position index, release or clamp the gripper) read from VantrelParams, then the
// thread ends. It owns a board object for the rotor and one for the gripper (axis 4 of the boards
// handed out under "RotaryMC" and "LinearMC"), and clients of "Vantrel" (its log messages),
// "Sipper" (the kill switch) and the two board managers.
//
// What outlasts the process lives on the boards. The rotor board's variable 117 says whether the
// rotor is homed (its counter reads 0 at the reference). The gripper board's variable 118 holds
// the gripper's last commanded state, clamped or released, once its counter reads 0 at the
// clamped place and twice the (negative) half stroke at the released place; any other value means
// the gripper's place is unknown, and the rotor's place decides as a fallback (released at park,
// clamped anywhere else). A request that fails leaves the commanded state and the counter as they
// were, so the next request finishes what is left of a release or clamp instead of adding a stroke.
// The state sits on the gripper board because it vouches for that board's counter: a power cycle
// clears both together. Variable 118 is free: the homed marker is the system's only other board
// variable, and no program is ever stored on the boards that could use one.
//
// Thread safety: start/is_running/get_homed/get_current_pos are called from the component's main
// thread while a request may run; the boards serialise themselves, the settings are read one field
// per lock hold.

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "framework/thread.h"
#include "motion/pci7344.h"
#include "selector/vantrel_params.h"

namespace vantrel {

class ComponentInterface;

class VantrelTask : public Thread {
  public:
    static constexpr int kAxis = 4;
    static constexpr int kHomedVariable = 117;
    static constexpr unsigned kHomedValue = 0x88000001u;
    static constexpr unsigned kNotHomedValue = 0x88000000u;
    static constexpr int kGripperVariable = 118;
    static constexpr unsigned kGripperClampedValue = 0x88000001u;
    static constexpr unsigned kGripperReleasedValue = 0x88000002u;
    static constexpr int kTolerance = 7;
    // Each kill-switch poll waits at most this long for the sipper's answer.
    static constexpr std::int32_t kPollLimitMs = 100;

    // Builds the clients and both boards; throws Exception with the failing step's message.
    explicit VantrelTask(VantrelParams& params);
    ~VantrelTask() override;

    void thread_main() override;

    bool get_homed();
    // The position index 0..capacity the rotor stands at (within 7 units), or -1.
    int get_current_pos();

  private:
    // The gripper's counter when its place is known (the marker says so), else nullopt.
    using GripperPlace = std::optional<std::int32_t>;

    std::optional<std::string> connect();
    void run(int request);
    void home();
    void release_before_homing();
    bool find_reference();
    void back_off();
    void goto_position(int index);
    // Release unless already released, clamp unless already clamped; with the place unknown,
    // `assume_clamped` stands in for it.
    void release_if_needed(bool assume_clamped);
    void clamp_if_needed();
    void release_gripper(GripperPlace from);
    void clamp_gripper(GripperPlace from);
    GripperPlace gripper_place();
    std::int32_t command_gripper(GripperPlace from, std::int32_t assumed, unsigned command);
    void load_gripper_move(std::int32_t velocity);
    void move_gripper(std::int32_t distance);
    std::int32_t released_place();
    void buzz();
    void set_homed(bool homed);
    void wait_move(Pci7344& board, double limit, const char* late_message);
    bool move_complete(Pci7344& board);
    bool kill_switches_tripped();
    void task_log(const std::string& text);
    void load_rotor_positioning();
    template <typename T>
    T* client(const std::string& name);

    VantrelParams& params_;
    std::unique_ptr<Pci7344> rotor_board_;
    std::unique_ptr<Pci7344> gripper_board_;
    std::map<std::string, std::unique_ptr<ComponentInterface>> clients_;
    bool unanswered_poll_logged_ = false;  // task thread only
};

}  // namespace vantrel
