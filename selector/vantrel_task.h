#pragma once
// VantrelTask: the thread that moves the column selector. Each start runs one motion request
// (home, go to a position index, release or clamp the gripper) read from VantrelParams, then the
// thread ends. It owns a board object for the rotor and one for the gripper (axis 4 of the boards
// handed out under "RotaryMC" and "LinearMC"), and clients of "Vantrel" (its log messages),
// "Sipper" (the kill switch) and the two board managers.
//
// Thread safety: start/is_running/get_homed/get_current_pos are called from the component's main
// thread while a request may run; the boards serialise themselves, the settings are read one field
// per lock hold.

#include <map>
#include <memory>
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
    static constexpr int kTolerance = 7;

    // Builds the clients and both boards; throws Exception with the failing step's message.
    explicit VantrelTask(VantrelParams& params);
    ~VantrelTask() override;

    void thread_main() override;

    bool get_homed();
    // The position index 0..capacity the rotor stands at (within 7 units), or -1.
    int get_current_pos();

  private:
    void home(int attempt);
    void goto_position(int index);
    void release_gripper();
    void clamp_gripper();
    void buzz();
    void set_homed(bool homed);
    void wait_rotor_move(double limit);
    void wait_gripper_move(double limit);
    bool kill_switches_tripped();
    void task_log(const std::string& text);
    void load_rotor_positioning();
    template <typename T>
    T* client(const std::string& name);

    VantrelParams& params_;
    std::unique_ptr<Pci7344> rotor_board_;
    std::unique_ptr<Pci7344> gripper_board_;
    std::map<std::string, std::unique_ptr<ComponentInterface>> clients_;
};

}  // namespace vantrel
