#pragma once
// The factory of this program's one component: the column selector.

#include <memory>
#include <string>
#include <vector>

#include "component/component.h"

namespace vantrel {

// Throws Exception("Must specify interface name, logfile, and config file") for fewer than four
// elements ("dummy" and three arguments); otherwise constructs Vantrel(interface name, log file,
// configuration file), passing on whatever its construction throws.
std::unique_ptr<Component> create_component(const std::vector<std::string>& args);

}  // namespace vantrel
