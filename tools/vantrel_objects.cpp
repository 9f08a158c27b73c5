// vantrel-objects: creates, shows and lists the named objects of an IPC scope.
//
//   vantrel-objects hold NAME TEXT   create (or open) shared memory NAME, write TEXT, hold it until
//                                    standard input closes or the process is ended
//   vantrel-objects show NAME        print the text held in shared memory NAME by another process
//   vantrel-objects list             list the object files of this scope (VANTREL_IPC_SCOPE)

#include <dirent.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/error.h"
#include "platform/named_object.h"

using namespace vantrel::platform;

namespace {

constexpr std::size_t kTextSize = 4096;

int usage() {
    std::fprintf(stderr,
                 "usage: vantrel-objects hold NAME TEXT | show NAME | list\n"
                 "Named objects live in %s; VANTREL_IPC_SCOPE selects the scope.\n",
                 kObjectDirectory);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return usage();
    const std::string command = argv[1];
    try {
        if (command == "hold" && argc == 4) {
            NamedObject object(ObjectKind::shared_memory, argv[2], kTextSize,
                               OpenMode::create_or_open);
            std::snprintf(static_cast<char*>(object.data()), object.size(), "%s", argv[3]);
            std::printf("%s \"%s\" in %s, holding (pid %d)\n",
                        object.created() ? "created" : "opened", argv[2], object.path().c_str(),
                        static_cast<int>(::getpid()));
            std::fflush(stdout);
            char c;
            while (::read(STDIN_FILENO, &c, 1) > 0) {
            }
            return 0;
        }
        if (command == "show" && argc == 3) {
            NamedObject object(ObjectKind::shared_memory, argv[2], kTextSize,
                               OpenMode::open_existing);
            const auto* text = static_cast<const char*>(object.data());
            std::printf("\"%s\" (created by pid %d, %zu bytes): %.*s\n", argv[2],
                        object.creator_pid(), object.size(),
                        static_cast<int>(strnlen(text, object.size())), text);
            return 0;
        }
        if (command == "list" && argc == 2) {
            const std::string prefix = "vantrel." + encode_name(ipc_scope()) + ".";
            DIR* dir = ::opendir(kObjectDirectory);
            if (dir == nullptr) return 1;
            while (const dirent* e = ::readdir(dir))
                if (std::strncmp(e->d_name, prefix.c_str(), prefix.size()) == 0)
                    std::printf("%s\n", e->d_name);
            ::closedir(dir);
            return 0;
        }
    } catch (const PlatformError& e) {
        std::fprintf(stderr, "vantrel-objects: %s\n", e.what());
        return 1;
    }
    return usage();
}
