// Helper of the crash test: saves one large store over and over, a new version each time, until
// it is killed.
//   config_save_loop FILE KEYS
// Each version v holds VERSION=v first, KEY0..KEY<KEYS-1> with KEYk=k, PAD (a string whose length
// depends on v) and CHECK=v last, so a file mixing two versions or cut short cannot pass for a
// complete one. Prints "ready" once the first version is on disk, then nothing more (so it never
// blocks on a full pipe while the test decides when to kill it).

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "config/configuration_file.h"

namespace {

std::string pad_for(int version) {
    return std::string(static_cast<std::size_t>(version % 97), 'p');
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: config_save_loop FILE KEYS\n");
        return 2;
    }
    const std::string file = argv[1];
    const int keys = std::atoi(argv[2]);
    vantrel::ConfigurationFile store;
    if (store.load_config(file) != 0) {
        // First run: build version 0 as text, since adding keys one by one scans the store.
        std::ofstream out(file);
        out << "VERSION=0;\n";
        for (int k = 0; k < keys; ++k) out << "KEY" << k << '=' << k << ";\n";
        out << "PAD=\"" << pad_for(0) << "\";\nCHECK=0;\n";
        out.close();
        if (store.load_config(file) != 0) return 1;
    }
    int version = 0;
    store.get("VERSION", version);
    for (bool first = true;; first = false) {
        ++version;
        store.set("VERSION", version);
        store.set("PAD", pad_for(version));
        store.set("CHECK", version);
        if (store.save() != 0) return 1;
        if (first) {
            std::printf("ready\n");
            std::fflush(stdout);
        }
    }
}
