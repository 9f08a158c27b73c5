// config_load_bench: the memory and time of loading configuration files at the size limit, in the
// shapes that cost the most per byte. Each load runs in a child process of its own, whose peak
// resident memory is reset before the load; the figure is the growth of that peak during the
// load, and its ratio to the file's size.
//
// Run: build/default/bin/config_load_bench [--bytes N]   (default: the size limit)

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "config/config_error.h"
#include "config/config_reader.h"
#include "config/configuration_file.h"

namespace {

// A field of /proc/self/status in kB.
long status_kb(const char* field) {
    std::ifstream in("/proc/self/status");
    const std::size_t length = std::strlen(field);
    for (std::string line; std::getline(in, line);)
        if (line.compare(0, length, field) == 0 && line[length] == ':')
            return std::atol(line.c_str() + length + 1);
    return -1;
}

std::string repeated(const std::string& unit, std::size_t count) {
    std::string text;
    for (std::size_t i = 0; i < count; ++i) text += unit;
    return text;
}

struct Shape {
    const char* name;
    std::string head, unit, tail;
};

// `head`, then `unit` as often as fits, then `tail`: at most `bytes` in all.
void write_file(const std::string& path, const Shape& shape, std::size_t bytes) {
    std::ofstream out(path, std::ios::binary);
    out << shape.head;
    std::size_t size = shape.head.size() + shape.tail.size();
    for (; size + shape.unit.size() <= bytes; size += shape.unit.size()) out << shape.unit;
    out << shape.tail;
}

// In a child: loads the file and prints one line of figures.
void measure(const std::string& path, const Shape& shape) {
    std::ofstream("/proc/self/clear_refs") << "5";  // the peak starts again from here
    const long base_kb = status_kb("VmRSS");
    const auto start = std::chrono::steady_clock::now();
    vantrel::ConfigurationFile store;
    std::string outcome;
    try {
        const int result = store.load_config(path);
        outcome = result == 0 ? "loaded" : "refused: " + store.load_failure();
    } catch (const vantrel::ConfigError& e) {
        outcome = std::string("refused:") + e.what();
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const long grown_kb = status_kb("VmHWM") - base_kb;
    const auto bytes = static_cast<double>(std::filesystem::file_size(path));
    std::printf("%-20s %9.0f bytes  %8zu entries  peak +%7ld kB  x%5.1f  %6.2f s  %s\n", shape.name,
                bytes, store.entries().size(), grown_kb, grown_kb * 1024.0 / bytes, seconds,
                outcome.c_str());
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    std::size_t bytes = vantrel::ConfigurationFile::kMaxFileBytes;
    if (argc == 3 && std::strcmp(argv[1], "--bytes") == 0)
        bytes = std::strtoull(argv[2], nullptr, 10);
    char dir[] = "/tmp/vantrel-load-bench-XXXXXX";
    if (::mkdtemp(dir) == nullptr) return 1;
    const std::string path = std::string(dir) + "/bench.cfg";
    const Shape shapes[] = {
        {"one long text", "NOTE = \"", "x", "\";\n"},
        {"selector lines", "", "ROTORVELOCITY = 1000;\n", ""},
        {"commented lines", "", "COL12TYPE = \"C18 guard\";  // the guard column of the rotor\n",
         ""},
        {"tiny entries", "", "A=1;", ""},
        {"one array of ints", "A = [", "1,", "1];\n"},
        // As many values as are taken, then one text as long as the rest of the file.
        {"values, then a text", repeated("A=1;", vantrel::kMaxConfigValues - 1) + "NOTE = \"", "x",
         "\";\n"},
    };
    for (const Shape& shape : shapes) {
        write_file(path, shape, bytes);
        const pid_t pid = ::fork();
        if (pid == 0) {
            measure(path, shape);
            ::_exit(0);
        }
        ::waitpid(pid, nullptr, 0);
    }
    std::filesystem::remove_all(dir);
    return 0;
}
