// One program for the stand-in peers; the first argument picks which:
//   vantrel-peer boardmgr|sipper|logserver|supervisor INTERFACE LOGFILE CONFIGFILE
#include <cstdio>
#include <cstring>

#include "entry/command_line.h"
#include "entry/component_main.h"
#include "sim/peers/peers.h"

using namespace vantrel;

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr,
                     "usage: vantrel-peer boardmgr|sipper|logserver|supervisor INTERFACE LOGFILE "
                     "CONFIGFILE\n");
        return 2;
    }
    const std::string kind = argv[1];
    ComponentFactory create;
    if (kind == "boardmgr")
        create = create_component_of<sim::BoardManager>;
    else if (kind == "sipper")
        create = create_component_of<sim::Sipper>;
    else if (kind == "logserver")
        create = create_component_of<sim::LogServer>;
    else if (kind == "supervisor")
        create = create_component_of<sim::Supervisor>;
    else {
        std::fprintf(stderr, "vantrel-peer: unknown peer \"%s\"\n", argv[1]);
        return 2;
    }
    return split_command_line(join_arguments(argc - 1, argv + 1), create);
}
