// A small component for the framework's tests, run as its own process:
//   component_child INTERFACE LOGFILE CONFIGFILE
// It counts its updates, and its "load_config" of the file name "throw" throws an Exception, so
// that a test can see an exception from an operation end the main loop.
#include "component/component_ifs.h"
#include "entry/command_line.h"
#include "entry/component_main.h"
#include "platform/exception.h"

namespace {

class ChildComponent : public vantrel::Component {
  public:
    ChildComponent(const std::string& name, const std::string& log, const std::string& cfg)
        : Component(name, log, cfg) {
        int status = 0;
        load_config(cfg, status);
        set_iserver(std::make_unique<vantrel::ComponentIFS>(name, this));
    }
    void update() override { log_msg("update", 2); }
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
