#include "benchmarks/support/processes.h"

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <thread>

#include "benchmarks/support/run.h"

extern char** environ;

namespace vantrel::bench {

pid_t fork_process(const std::function<void()>& body, int cpu) {
    const pid_t pid = ::fork();
    if (pid < 0) fail("fork failed");
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);  // no server outlives a run that died
        if (cpu >= 0) pin(cpu);
        try {
            body();
        } catch (...) {
            ::_exit(1);
        }
        ::_exit(0);
    }
    return pid;
}

pid_t spawn(const std::vector<std::string>& argv, const std::string& output, Errors errors) {
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.c_str(),
                                     O_WRONLY | O_CREAT | O_APPEND, 0600);
    if (errors == Errors::with_output)
        posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) fail("cannot start " + argv[0]);
    return pid;
}

int wait_exit(pid_t pid) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}

int run_program(const std::vector<std::string>& argv, const std::string& output, Errors errors) {
    return wait_exit(spawn(argv, output, errors));
}

Children::~Children() {
    for (pid_t pid : pids_) ::kill(pid, SIGKILL);
    wait_all();
}

pid_t Children::add(pid_t pid) {
    pids_.push_back(pid);
    return pid;
}

void Children::wait_all() {
    for (pid_t pid : pids_) ::waitpid(pid, nullptr, 0);
    pids_.clear();
}

SimulatedAnalyser::SimulatedAnalyser(const std::string& prefix,
                                     std::vector<std::string> down_options)
    : scratch_(prefix), dir_(scratch_.path() + "/sim"), down_options_(std::move(down_options)) {
    const std::string output = scratch_.path() + "/sim.out";
    if (run_program({own_dir() + "/vantrel-sim", "up", dir_}, output) != 0) {
        take_down();  // whatever it started before it failed
        fail("vantrel-sim up failed:\n" + text_of(output));
    }
}

SimulatedAnalyser::~SimulatedAnalyser() {
    try {
        take_down();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "the simulated analyser in %s may still run: %s\n", dir_.c_str(),
                     e.what());
    }
}

void SimulatedAnalyser::take_down() {
    std::vector<std::string> argv{own_dir() + "/vantrel-sim", "down"};
    argv.insert(argv.end(), down_options_.begin(), down_options_.end());
    argv.push_back(dir_);
    run_program(argv);
}

bool pin(int cpu, pid_t pid) {
    if (cpu < 0 || cpu >= static_cast<int>(std::thread::hardware_concurrency())) return false;
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    return ::sched_setaffinity(pid, sizeof set, &set) == 0;
}

void unpin(pid_t pid) {
    cpu_set_t set;
    CPU_ZERO(&set);
    for (unsigned cpu = 0; cpu < std::thread::hardware_concurrency(); ++cpu) CPU_SET(cpu, &set);
    ::sched_setaffinity(pid, sizeof set, &set);
}

}  // namespace vantrel::bench
