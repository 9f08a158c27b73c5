// vantrel-sim: starts, stops and lists the simulated analyser. See usage() for the commands.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <string>

#include "tools/vantrel_sim.h"

namespace {

constexpr int kUsage = 64;

int usage(std::FILE* to) {
    std::fputs(
        "usage: vantrel-sim up [DIR]\n"
        "       vantrel-sim down [--grace S] [DIR]\n"
        "       vantrel-sim status [DIR]\n"
        "The simulated analyser: the stand-in log server, supervisor, board managers RotaryMC\n"
        "(board 1) and LinearMC (board 2), sipper, and the vantrel component under \"Vantrel\".\n"
        "  up      start them in DIR (default ./vantrel-sim), writing default configuration\n"
        "          files that are missing; each runs detached with its log in DIR\n"
        "  down    stop them, vantrel first: \"kill\", then SIGTERM, then SIGKILL after S\n"
        "          seconds each (default 10)\n"
        "  status  list them with their state (exit status 0 all answer, 1 some do not,\n"
        "          3 nothing is up)\n"
        "They run in the IPC scope of VANTREL_IPC_SCOPE at up; down and status use that scope.\n",
        to);
    return to == stdout ? 0 : kUsage;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return usage(stderr);
    const std::string command = argv[1];
    if (command == "--help" || command == "-h" || command == "help") return usage(stdout);
    long grace_ms = vantrel::simtool::kDefaultGraceMs;
    std::string dir;
    for (int i = 2; i < argc; ++i) {
        const std::string word = argv[i];
        if (word == "--grace" && (command != "down" || i + 1 == argc)) {
            std::fprintf(stderr, "vantrel-sim: --grace belongs to down and takes seconds\n\n");
            return usage(stderr);
        }
        if (word == "--grace") {
            char* end = nullptr;
            const double seconds = std::strtod(argv[++i], &end);
            if (*end != '\0' || !(seconds >= 0.0 && seconds <= 3600.0)) {
                std::fprintf(stderr,
                             "vantrel-sim: --grace takes seconds from 0 to 3600, not \"%s\"\n\n",
                             argv[i]);
                return usage(stderr);
            }
            grace_ms = static_cast<long>(seconds * 1000.0);
        } else if (!word.empty() && word[0] == '-') {
            std::fprintf(stderr, "vantrel-sim: unknown option \"%s\"\n\n", word.c_str());
            return usage(stderr);
        } else if (dir.empty()) {
            dir = word;
        } else {
            std::fprintf(stderr, "vantrel-sim: one directory only (\"%s\" and \"%s\")\n\n",
                         dir.c_str(), word.c_str());
            return usage(stderr);
        }
    }
    try {
        if (command == "up") return vantrel::simtool::up(dir, std::cout, std::cerr);
        if (command == "down") return vantrel::simtool::down(dir, grace_ms, std::cout, std::cerr);
        if (command == "status") return vantrel::simtool::status(dir, std::cout, std::cerr);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "vantrel-sim: %s\n", e.what());
        return 1;
    }
    std::fprintf(stderr, "vantrel-sim: unknown command \"%s\"\n\n", command.c_str());
    return usage(stderr);
}
