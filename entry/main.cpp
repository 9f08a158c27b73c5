// vantrel INTERFACE LOGFILE CONFIGFILE: the column selector component process.
#include "entry/command_line.h"
#include "entry/component_main.h"
#include "entry/create_component.h"

int main(int argc, char** argv) {
    return vantrel::split_command_line(vantrel::join_arguments(argc, argv),
                                       vantrel::create_component);
}
