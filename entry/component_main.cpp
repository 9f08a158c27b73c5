#include "entry/component_main.h"

#include <cstdio>

#include "entry/command_line.h"
#include "platform/exception.h"
#include "platform/termination.h"

namespace vantrel {

void throw_if_arguments_missing(const std::vector<std::string>& args) {
    if (args.size() < 4) throw Exception("Must specify interface name, logfile, and config file");
}

int component_main(int argc, char** argv, const ComponentFactory& create) {
    std::vector<std::string> args;
    for (int i = 0; i < argc; ++i) args.emplace_back(argv[i]);
    const std::string process = argc > 0 ? args[0] : "component";

    platform::install_termination_handler();
    std::unique_ptr<Component> component;
    try {
        component = create(args);
        component->main();
    } catch (const Exception& e) {
        std::fprintf(stderr, "%s caught exception: %s\n", process.c_str(), e.message().c_str());
    } catch (...) {
        std::fprintf(stderr, "%s caught unknown exception.\n", process.c_str());
    }
    component.reset();
    return 0;
}

int split_command_line(const std::string& text, const ComponentFactory& create) {
    std::vector<std::string> list = split_arguments(text);
    std::vector<char*> argv;
    for (auto& a : list) argv.push_back(a.data());
    argv.push_back(nullptr);
    return component_main(static_cast<int>(list.size()), argv.data(), create);
}

}  // namespace vantrel
