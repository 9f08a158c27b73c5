#pragma once
// The process entry of a component: argument vector to running component, with the last-resort
// report of whatever ends the process on the standard error stream. The exit code is always 0.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "component/component.h"

namespace vantrel {

// Builds the program's one component from the argument vector ("dummy", interface name, log
// file, configuration file, ...). Throws Exception when arguments are missing.
using ComponentFactory = std::function<std::unique_ptr<Component>(const std::vector<std::string>&)>;

// Throws Exception("Must specify interface name, logfile, and config file") for fewer than four
// elements; otherwise returns make(interface name, log file, configuration file).
template <typename ComponentType>
std::unique_ptr<Component> create_component_of(const std::vector<std::string>& args);

// Creates the component, runs its main loop and destroys it. SIGTERM and SIGINT end the loop the
// way a "kill" request does. Reports "<process name> caught exception: <message>\n" (or
// " caught unknown exception.\n") on the standard error stream. Returns 0.
int component_main(int argc, char** argv, const ComponentFactory& create);

// Splits the command-line text into the argument vector and runs component_main with it.
int split_command_line(const std::string& text, const ComponentFactory& create);

void throw_if_arguments_missing(const std::vector<std::string>& args);

template <typename ComponentType>
std::unique_ptr<Component> create_component_of(const std::vector<std::string>& args) {
    throw_if_arguments_missing(args);
    return std::make_unique<ComponentType>(args[1], args[2], args[3]);
}

}  // namespace vantrel
