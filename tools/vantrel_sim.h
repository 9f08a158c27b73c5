#pragma once
// vantrel-sim: the whole simulated analyser in one working directory. "up" starts the stand-in
// log server, supervisor, the two board managers (simulated boards 1 and 2), the sipper and the
// vantrel component, each a detached process with its own log, after writing default
// configuration files that are missing; "down" stops them in the reverse order; "status" lists
// them. The processes are recorded in DIR/vantrel-sim.pids with the IPC scope they run in, so
// down and status reach them whatever the caller's VANTREL_IPC_SCOPE.
//
// DIR must be the caller's own (see tools/own_files.h): a directory that another user owns or
// may write, or a file in it that is a symbolic link, another user's or writable by others, is
// refused before anything is written or started. Files are never opened through a symbolic link.
// A recorded process is signalled only when the record is the caller's own file and the pid
// still runs the program that was started, since the same start time.
//
// Thread safety: for one thread. Two vantrel-sim processes never work in one directory at once
// (an exclusive lock on DIR/vantrel-sim.lock).

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "tools/client/operations.h"

namespace vantrel::simtool {

// One process of the simulated analyser.
struct Member {
    std::string name;       // its files: <name>.cfg, <name>.log (its log), <name>.out (output)
    std::string program;    // "vantrel" or "vantrel-peer"
    std::string peer;       // vantrel-peer's first argument; empty for vantrel
    std::string interface;  // the name it serves
    ctl::Kind kind;
};

// In start order; down stops them in the reverse order.
const std::vector<Member>& members();

// The default configuration files, written into the directory when missing. Generated from
// tools/vantrel_sim_config, which is also installed as the example configuration.
struct DefaultFile {
    const char* name;
    const char* text;
};
const std::vector<DefaultFile>& default_files();

// A started process: its pid, its start time (in clock ticks since boot, as /proc tells) and its
// executable, so that a pid reused by another process is never taken for ours.
struct Started {
    std::string name;
    pid_t pid = 0;
    std::uint64_t start_time = 0;
    std::string executable;
};

struct RunRecord {
    std::string scope;
    std::vector<Started> processes;
};

std::string record_path(const std::string& dir);
// The record of DIR, or nullopt when there is none. Throws std::runtime_error for a record that
// cannot be read or is not the caller's own file.
std::optional<RunRecord> read_record(const std::string& dir);
// Writes a new file and renames it over the record. Throws std::runtime_error.
void write_record(const std::string& dir, const RunRecord& record);

// The start time of a live (not zombie) process, or nullopt.
std::optional<std::uint64_t> process_start_time(pid_t pid);
// The program a process runs (its path, also when the file has been replaced since), or nullopt
// when it cannot be known.
std::optional<std::string> process_executable(pid_t pid);

// What a recorded pid is now.
enum class Identity { ours, gone, another };
// `ours` only when the pid runs the recorded executable, which is the member's program, since
// the recorded start time.
Identity identify(const Started& process);
bool still_running(const Started& process);

// The path of a sibling program: next to this program's own executable first, then on PATH.
// Empty when found nowhere.
std::string find_program(const std::string& name);

// The three commands; each returns the exit status and writes what it did to `out`, problems to
// `err`.
// down gives each process `grace_ms` to end on "kill" before it sends signals.
int up(const std::string& dir, std::ostream& out, std::ostream& err);
int down(const std::string& dir, long grace_ms, std::ostream& out, std::ostream& err);
int status(const std::string& dir, std::ostream& out, std::ostream& err);

// A component ends a running motion before it exits: the default grace covers one.
inline constexpr long kDefaultGraceMs = 10000;

// Exit status of status when nothing is up.
inline constexpr int kNotUp = 3;

}  // namespace vantrel::simtool
