// Helper program for the multi-process tests of the simulated boards: one flex_* call per run,
// its result on standard output.
//
//   flex_child write BOARD VARIABLE VALUE   flex_load_var; prints the status
//   flex_child read BOARD VARIABLE          flex_read_var_rtn; prints "STATUS VALUE"
//   flex_child move BOARD AXIS TARGET       loads 1000 counts/s, 1000 counts/s^2 and starts an
//                                           absolute move; prints the status

#include <cstdio>
#include <cstdlib>
#include <string>

#include "motion/flexmotion.h"

int main(int argc, char** argv) {
    if (argc < 4) return 2;
    const std::string command = argv[1];
    const auto board = static_cast<std::uint8_t>(std::atoi(argv[2]));
    const auto number = static_cast<std::uint8_t>(std::atoi(argv[3]));
    if (command == "write" && argc == 5) {
        const auto value = static_cast<std::int32_t>(std::strtoul(argv[4], nullptr, 0));
        std::printf("%d\n", flex_load_var(board, value, number));
    } else if (command == "read" && argc == 4) {
        std::int32_t value = 0;
        const std::int32_t status = flex_read_var_rtn(board, number, &value);
        std::printf("%d %d\n", status, value);
    } else if (command == "move" && argc == 5) {
        std::int32_t status = flex_load_velocity(board, number, 1000, FLEX_IMMEDIATE);
        if (status == 0) status = flex_load_acceleration(board, number, 0, 1000, FLEX_IMMEDIATE);
        if (status == 0) status = flex_set_op_mode(board, number, 0);
        if (status == 0)
            status = flex_load_target_pos(board, number, std::atoi(argv[4]), FLEX_IMMEDIATE);
        if (status == 0) status = flex_start(board, number, 0);
        std::printf("%d\n", status);
    } else {
        return 2;
    }
    return 0;
}
