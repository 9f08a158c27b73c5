// Helper program for the multi-process tests of the named objects. Runs one command, reports on
// standard output line by line, and then holds its objects until its standard input closes (or it
// is killed).
//
//   object_child shm NAME SIZE FILL        open, report "created=C size=S first=F", fill with FILL
//   object_child lock NAME                 lock the named mutex, report "locked", hold
//   object_child trylock NAME MS           report "obtained" or "timeout", hold
//   object_child release NAME INIT MAX     release the semaphore once, report "ok" or "full"
//   object_child wait NAME MS              wait on the semaphore, report "taken" or "timeout"
//   object_child gate PATH                 hold the gate lock byte of the file PATH, report "held"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "platform/futex_semaphore.h"
#include "platform/named_object.h"
#include "platform/robust_mutex.h"

using namespace vantrel::platform;

namespace {

void say(const std::string& line) {
    std::printf("%s\n", line.c_str());
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
    const std::string cmd = argv[1];
    const std::string name = argv[2];
    try {
        if (cmd == "shm" && argc == 5) {
            NamedObject object(ObjectKind::shared_memory, name, std::strtoul(argv[3], nullptr, 10),
                               OpenMode::create_or_open);
            auto* bytes = static_cast<unsigned char*>(object.data());
            const int first = bytes[0];
            std::memset(bytes, std::atoi(argv[4]),
                        object.size());  // before reporting, so the fill is seen
            say("created=" + std::to_string(object.created()) +
                " size=" + std::to_string(object.size()) + " first=" + std::to_string(first));
            hold_until_stdin_closes();
        } else if (cmd == "lock") {
            RobustMutex mutex(name, OpenMode::create_or_open);
            mutex.lock();
            say("locked");
            hold_until_stdin_closes();
        } else if (cmd == "trylock" && argc == 4) {
            RobustMutex mutex(name, OpenMode::create_or_open);
            say(mutex.try_lock(std::atol(argv[3])) ? "obtained" : "timeout");
            hold_until_stdin_closes();
        } else if (cmd == "release" && argc == 5) {
            FutexSemaphore sem(name, std::atoi(argv[3]), std::atoi(argv[4]),
                               OpenMode::create_or_open);
            say(sem.release() ? "ok" : "full");
            hold_until_stdin_closes();
        } else if (cmd == "wait" && argc == 4) {
            FutexSemaphore sem(name, 0, 1, OpenMode::create_or_open);
            say(sem.wait(std::atol(argv[3])) ? "taken" : "timeout");
            hold_until_stdin_closes();
        } else if (cmd == "gate") {
            // As a stuck peer or a hostile user would: the lock taken, never given back.
            const int fd = ::open(name.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK);
            struct flock fl {};
            fl.l_type = F_WRLCK;
            fl.l_whence = SEEK_SET;
            fl.l_start = kGateLockByte;
            fl.l_len = 1;
            say(fd >= 0 && ::fcntl(fd, F_OFD_SETLK, &fl) == 0 ? "held" : "not held");
            hold_until_stdin_closes();
        } else {
            return 2;
        }
    } catch (const std::exception& e) {
        say(std::string("error ") + e.what());
        return 1;
    }
    return 0;
}
