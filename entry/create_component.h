#pragma once
// The factory of this program's one component: the column selector.

#include <memory>
#include <string>
#include <vector>

#include "component/component.h"

namespace vantrel {

// The environment variable that names a board library to load instead of the built-in one.
inline constexpr const char* kMotionLibraryVariable = "VANTREL_MOTION_LIBRARY";

// Throws Exception("Must specify interface name, logfile, and config file") for fewer than four
// elements ("dummy" and three arguments); otherwise constructs Vantrel(interface name, log file,
// configuration file), passing on whatever its construction throws. Then, when
// VANTREL_MOTION_LIBRARY names a library, loads it for the boards (use_motion_library).
std::unique_ptr<Component> create_component(const std::vector<std::string>& args);

// Loads the board library at `path` (nothing to do for an empty path: the built-in one stays) and
// logs which one is used. A library that cannot be used is logged and thrown as Exception.
void use_motion_library(Component& component, const std::string& path);

}  // namespace vantrel
