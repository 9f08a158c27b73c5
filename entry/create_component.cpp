#include "entry/create_component.h"

#include <cstdlib>

#include "entry/component_main.h"
#include "motion/flex_library.h"
#include "platform/exception.h"
#include "selector/vantrel.h"

namespace vantrel {

std::unique_ptr<Component> create_component(const std::vector<std::string>& args) {
    auto component = create_component_of<Vantrel>(args);
    const char* path = std::getenv(kMotionLibraryVariable);
    // After the construction, so that a failure reaches the log too; nothing has used a board yet.
    use_motion_library(*component, path != nullptr ? path : "");
    return component;
}

void use_motion_library(Component& component, const std::string& path) {
    if (path.empty()) return;
    try {
        install_flex_library(load_flex_library(path));
    } catch (const Exception& e) {
        component.log_msg(e.message(), 0);
        throw;
    }
    component.log_msg("motion library " + path, 0);
}

}  // namespace vantrel
