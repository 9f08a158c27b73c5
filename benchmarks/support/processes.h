#pragma once
// The processes a benchmark starts: forked servers, programs of the build, and their ends.
//
// Thread safety: call from the thread that runs the benchmark.

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

#include "benchmarks/support/run.h"

namespace vantrel::bench {

// Forks a process that runs `body` on processor `cpu` (-1: any) and exits, 0 when `body` returns
// and 1 when it throws. It dies with this process.
pid_t fork_process(const std::function<void()>& body, int cpu = -1);

// Where a started program's standard error goes: where this program's goes, or with its output.
enum class Errors { inherited, with_output };

// Starts argv[0] (a path) with its standard output appended to the file `output` (made 0600
// when missing). Throws std::runtime_error when it cannot start.
pid_t spawn(const std::vector<std::string>& argv, const std::string& output = "/dev/null",
            Errors errors = Errors::inherited);
// Waits for `pid` to end; its exit status, or 128 when a signal ended it.
int wait_exit(pid_t pid);
// spawn, then wait_exit.
int run_program(const std::vector<std::string>& argv, const std::string& output = "/dev/null",
                Errors errors = Errors::with_output);

// Processes that must not outlive the run: killed (SIGKILL) and reaped however it ends.
class Children {
  public:
    Children() = default;
    ~Children();
    Children(const Children&) = delete;
    Children& operator=(const Children&) = delete;
    pid_t add(pid_t pid);
    // Waits for them to end by themselves.
    void wait_all();

  private:
    std::vector<pid_t> pids_;
};

// The simulated analyser (vantrel-sim up, its default configuration) in a scratch directory of
// its own, taken down (vantrel-sim down with `down_options`) however the run ends, a failed
// start included. vantrel-sim's own output goes to sim.out beside the analyser's directory.
class SimulatedAnalyser {
  public:
    explicit SimulatedAnalyser(const std::string& prefix,
                               std::vector<std::string> down_options = {});
    ~SimulatedAnalyser();
    SimulatedAnalyser(const SimulatedAnalyser&) = delete;
    SimulatedAnalyser& operator=(const SimulatedAnalyser&) = delete;
    // A file of the analyser's directory: its configuration files and logs.
    std::string path(const std::string& file) const { return dir_ + "/" + file; }

  private:
    void take_down();
    ScratchDir scratch_;
    std::string dir_;
    std::vector<std::string> down_options_;
};

// Binds process `pid` (0: this one; all of it when called before it starts threads) to processor
// `cpu`; false when there is no such processor.
bool pin(int cpu, pid_t pid = 0);
// Lets process `pid` run on every processor again.
void unpin(pid_t pid);

}  // namespace vantrel::bench
