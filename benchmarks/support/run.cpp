#include "benchmarks/support/run.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "platform/named_object.h"
#include "platform/object_name.h"

namespace vantrel::bench {

void fail(const std::string& what) {
    throw std::runtime_error(what);
}

std::optional<int> parse_command_line(CLI::App& app, int argc, char** argv) {
    for (CLI::Option* option : app.get_options()) {
        option->capture_default_str();                                  // for --help
        option->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);  // the last one counts
    }
    try {
        app.parse(argc, argv);
        return std::nullopt;
    } catch (const CLI::CallForHelp& help) {
        return app.exit(help);
    } catch (const CLI::ParseError& e) {
        std::fprintf(stderr, "%s: %s\n\n%s", app.get_name().c_str(), e.what(), app.help().c_str());
        return 1;
    }
}

int run_main(const char* program, const std::function<int()>& run) {
    try {
        return run();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: %s\n", program, e.what());
        return 1;
    }
}

RunScope::RunScope(const std::string& prefix) {
    ::setenv("VANTREL_IPC_SCOPE", (prefix + "-" + std::to_string(::getpid())).c_str(), 1);
}

RunScope::~RunScope() {
    try {
        platform::remove_unheld_objects(platform::ipc_scope());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "objects of the run's scope left behind: %s\n", e.what());
    }
}

ScratchDir::ScratchDir(const std::string& prefix) {
    std::string pattern = "/tmp/" + prefix + "-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) fail("mkdtemp failed");
    path_ = pattern;
}

ScratchDir::~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string own_dir() {
    return std::filesystem::read_symlink("/proc/self/exe").parent_path().string();
}

std::string text_of(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace vantrel::bench
