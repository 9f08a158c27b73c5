#include "entry/create_component.h"

#include "entry/component_main.h"
#include "selector/vantrel.h"

namespace vantrel {

std::unique_ptr<Component> create_component(const std::vector<std::string>& args) {
    return create_component_of<Vantrel>(args);
}

}  // namespace vantrel
