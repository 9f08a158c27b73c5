// A small component for the framework's tests, run as its own process:
//   component_child INTERFACE LOGFILE CONFIGFILE
// It logs each update at level 2 as "update " and the loop's time of it in seconds, and its
// "load_config" of the file name "throw" throws an Exception, so that a test can see an exception
// from an operation end the main loop. Two optional keys of its configuration serve the tests of
// the loop's waits: IDLE_WAIT_MS sets the idle bound of the loop's wait, and SIGNALS_ELSEWHERE = 1
// has SIGTERM and SIGINT delivered to a thread of their own, never to the thread that runs the
// loop.
#include <pthread.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <thread>

#include "component/component_ifs.h"
#include "entry/command_line.h"
#include "entry/component_main.h"
#include "platform/exception.h"

namespace {

void take_signals_on_another_thread() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    std::thread([set] {
        pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
        for (;;) ::pause();
    }).detach();
}

class ChildComponent : public vantrel::Component {
  public:
    ChildComponent(const std::string& name, const std::string& log, const std::string& cfg)
        : Component(name, log, cfg) {
        int status = 0;
        load_config(cfg, status);
        std::int32_t value = 0;
        if (config().get("IDLE_WAIT_MS", value)) set_idle_wait_ms(value);
        if (config().get("SIGNALS_ELSEWHERE", value) && value == 1)
            take_signals_on_another_thread();
        set_iserver(std::make_unique<vantrel::ComponentIFS>(name, this));
    }
    void update() override {
        char text[64];
        std::snprintf(text, sizeof text, "update %.9f", last_update_);
        log_msg(text, 2);
    }
    void load_config(const std::string& file, int& status) override {
        if (file == "throw") throw vantrel::Exception("load_config was told to throw");
        Component::load_config(file, status);
    }
};

}  // namespace

int main(int argc, char** argv) {
    return vantrel::split_command_line(vantrel::join_arguments(argc, argv),
                                       vantrel::create_component_of<ChildComponent>);
}
