// Helper program for the multi-process tests of Pci7344. Reports on standard output line by line.
//
//   pci7344_child write BOARD VARIABLE VALUE   "calling", Pci7344::load_var, then "done"
//   pci7344_child lock NAME                    locks the named Mutex, "locked", holds it until
//                                              standard input closes
//   pci7344_child store BOARD                  begin_store(1), "storing", holds until standard
//                                              input closes, end_store(1), "stored"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "framework/mutex.h"
#include "motion/pci7344.h"

namespace {

void say(const char* line) {
    std::printf("%s\n", line);
    std::fflush(stdout);
}

void hold_until_stdin_closes() {
    char c;
    while (::read(STDIN_FILENO, &c, 1) > 0) {
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    const std::string command = argv[1];
    try {
        if (command == "write" && argc == 5) {
            vantrel::Pci7344 board(std::atoi(argv[2]));
            say("calling");
            board.load_var(std::atoi(argv[4]), static_cast<std::uint8_t>(std::atoi(argv[3])));
            say("done");
        } else if (command == "lock" && argc == 3) {
            vantrel::Mutex mutex(argv[2], false);
            if (!mutex.lock()) return 1;
            say("locked");
            hold_until_stdin_closes();
            mutex.unlock();
        } else if (command == "store" && argc == 3) {
            vantrel::Pci7344 board(std::atoi(argv[2]));
            board.begin_store(1);
            say("storing");
            hold_until_stdin_closes();
            board.end_store(1);
            say("stored");
        } else {
            return 2;
        }
    } catch (const vantrel::Exception& e) {
        std::printf("error %s\n", e.message().c_str());
        return 1;
    }
    return 0;
}
