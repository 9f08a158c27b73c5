#pragma once
// In-process stand-ins for the selector's peers, each served by a thread of its own: the two
// board managers (keeping simulated boards 1 and 2 alive), the sipper, and a recorder serving
// "Vantrel" that keeps the motion task's log messages in order.

#include <atomic>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "component/component.h"
#include "component/component_ifs.h"
#include "interface/interface_server.h"
#include "sim/peers/peers.h"

namespace vantrel::test {

// Serves a component's interface from a thread until destroyed.
class ServingThread {
  public:
    explicit ServingThread(Component& component)
        : thread_([this, &component] {
              while (!stop_.load()) component.server()->service();
          }) {}
    ~ServingThread() {
        stop_ = true;
        thread_.join();
    }

  private:
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// Serves "Vantrel" and records the messages that arrive as "log_msg".
class Recorder : public Component {
  public:
    Recorder(const std::string& dir, const std::string& name)
        : Component(name, dir + "/" + name + ".log", "") {
        set_iserver(std::make_unique<ComponentIFS>(name, this));
    }
    void update() override {}
    void log_msg(const char* message, int level) override {
        {
            std::lock_guard<std::mutex> guard(mutex_);
            lines_.emplace_back(message);
        }
        Component::log_msg(message, level);
    }
    using Component::log_msg;
    std::vector<std::string> lines() {
        std::lock_guard<std::mutex> guard(mutex_);
        return lines_;
    }
    void clear() {
        std::lock_guard<std::mutex> guard(mutex_);
        lines_.clear();
    }

  private:
    std::mutex mutex_;
    std::vector<std::string> lines_;
};

inline std::string write_file(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

// The peers of the selector: boards 1 (rotor, "RotaryMC") and 2 (gripper, "LinearMC").
class Peers {
  public:
    static constexpr int kRotorBoard = 1;
    static constexpr int kGripperBoard = 2;

    Peers(const std::string& dir, bool with_sipper = true) {
        const std::string common = "FREQ = 1;\nLOGSERVERIF = \"NoLogServer\";\n";
        rotary_ = std::make_unique<sim::BoardManager>(
            "RotaryMC", dir + "/rotary.log",
            write_file(dir + "/rotary.cfg",
                       common + "BOARD_ID = 1;\nREFERENCE_POSITION = -500.0;\n"));
        linear_ = std::make_unique<sim::BoardManager>(
            "LinearMC", dir + "/linear.log",
            write_file(dir + "/linear.cfg", common + "BOARD_ID = 2;\n"));
        recorder_ = std::make_unique<Recorder>(dir, "Vantrel");
        serving_.push_back(std::make_unique<ServingThread>(*rotary_));
        serving_.push_back(std::make_unique<ServingThread>(*linear_));
        serving_.push_back(std::make_unique<ServingThread>(*recorder_));
        if (with_sipper) {
            sipper_ = std::make_unique<sim::Sipper>("Sipper", dir + "/sipper.log",
                                                    write_file(dir + "/sipper.cfg", common));
            serving_.push_back(std::make_unique<ServingThread>(*sipper_));
        }
    }
    ~Peers() { serving_.clear(); }

    Recorder& recorder() { return *recorder_; }
    sim::Sipper* sipper() { return sipper_.get(); }
    // The task's messages without their prefix, in the order they arrived.
    std::vector<std::string> task_lines() {
        std::vector<std::string> out;
        const std::string prefix = "VantrelTask :";
        for (const auto& line : recorder_->lines())
            if (line.rfind(prefix, 0) == 0) out.push_back(line.substr(prefix.size()));
        return out;
    }

  private:
    std::unique_ptr<sim::BoardManager> rotary_, linear_;
    std::unique_ptr<sim::Sipper> sipper_;
    std::unique_ptr<Recorder> recorder_;
    std::vector<std::unique_ptr<ServingThread>> serving_;
};

}  // namespace vantrel::test
