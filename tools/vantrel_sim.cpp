#include "tools/vantrel_sim.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>

#include "config/configuration_file.h"
#include "interface/component_interface.h"
#include "platform/clock.h"
#include "platform/named_object.h"
#include "platform/object_name.h"

namespace fs = std::filesystem;

namespace vantrel::simtool {
namespace {

constexpr const char* kRecordFile = "vantrel-sim.pids";
constexpr const char* kLockFile = "vantrel-sim.lock";
constexpr int kProbeTimeoutMs = 250;
constexpr long kReadyLimitMs = 15000;
constexpr long kResetLimitMs = 5000;
constexpr long kSignalGraceMs = 3000;
constexpr long kPollMs = 50;
constexpr int kMaxInheritedFd = 4096;

// Only one vantrel-sim at a time works in a directory.
class DirectoryLock {
  public:
    explicit DirectoryLock(const std::string& dir) {
        fd_ = ::open((dir + "/" + kLockFile).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        held_ = fd_ >= 0 && ::flock(fd_, LOCK_EX | LOCK_NB) == 0;
    }
    ~DirectoryLock() {
        if (fd_ >= 0) ::close(fd_);
    }
    DirectoryLock(const DirectoryLock&) = delete;
    DirectoryLock& operator=(const DirectoryLock&) = delete;
    bool held() const { return held_; }

  private:
    int fd_ = -1;
    bool held_ = false;
};

long elapsed_ms(std::int64_t start_ns) {
    return static_cast<long>((platform::now_ns() - start_ns) / 1'000'000);
}

std::string absolute_dir(const std::string& dir) {
    return fs::weakly_canonical(fs::absolute(dir.empty() ? "vantrel-sim" : dir)).string();
}

// vantrel-gateway, started after the analyser and stopped before it; it serves no interface.
const Member& gateway_member() {
    static const Member gateway{"gateway", "vantrel-gateway", "", "", ctl::Kind::component};
    return gateway;
}

// The URL a gateway wrote to its output, or "".
std::string gateway_url(const std::string& dir) {
    std::ifstream in(dir + "/gateway.out");
    for (std::string line; std::getline(in, line);)
        if (const auto at = line.find(" at http://"); at != std::string::npos)
            return line.substr(at + 4);
    return "";
}

const Member& member_named(const std::string& name) {
    for (const Member& m : members())
        if (m.name == name) return m;
    if (name == gateway_member().name) return gateway_member();
    throw std::runtime_error("the record names an unknown process \"" + name + "\"");
}

// The last `count` lines of a file, indented, for a report.
std::string tail(const std::string& path, std::size_t count) {
    std::ifstream in(path);
    std::deque<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
        if (lines.size() > count) lines.pop_front();
    }
    std::string out;
    for (const auto& line : lines) out += "    | " + line + "\n";
    return out;
}

std::string describe_exit(int status) {
    if (WIFEXITED(status)) return "exit status " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status)) return std::string("signal ") + ::strsignal(WTERMSIG(status));
    return "ended";
}

// Starts `argv` detached: a session of its own (no terminal's signals reach it), standard input
// from /dev/null, output and errors into `output`, no other descriptor of ours. -1 with `error`
// set when the program could not be started.
pid_t spawn_detached(const std::vector<std::string>& argv, const std::string& output,
                     std::string& error) {
    const int out_fd = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (out_fd < 0) {
        error = "can't write " + output + ": " + std::strerror(errno);
        return -1;
    }
    int exec_status[2];
    if (::pipe2(exec_status, O_CLOEXEC) != 0) {
        error = std::string("pipe: ") + std::strerror(errno);
        ::close(out_fd);
        return -1;
    }
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);

    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setsid();
        const int in = ::open("/dev/null", O_RDONLY);
        ::dup2(in, STDIN_FILENO);
        ::dup2(out_fd, STDOUT_FILENO);
        ::dup2(out_fd, STDERR_FILENO);
        for (int fd = 3; fd < kMaxInheritedFd; ++fd)
            if (fd != exec_status[1]) ::close(fd);
        ::execv(args[0], args.data());
        const int e = errno;
        [[maybe_unused]] const auto n = ::write(exec_status[1], &e, sizeof e);
        ::_exit(127);
    }
    ::close(out_fd);
    ::close(exec_status[1]);
    if (pid < 0) {
        error = std::string("fork: ") + std::strerror(errno);
        ::close(exec_status[0]);
        return -1;
    }
    // The pipe closes at exec; a number in it is the errno of a failed exec.
    int e = 0;
    ssize_t n;
    do {
        n = ::read(exec_status[0], &e, sizeof e);
    } while (n < 0 && errno == EINTR);
    ::close(exec_status[0]);
    if (n == static_cast<ssize_t>(sizeof e)) {
        ::waitpid(pid, nullptr, 0);
        error = "can't run " + argv[0] + ": " + std::strerror(e);
        return -1;
    }
    return pid;
}

// Reaps `pid` when it is our child and has ended; harmless otherwise.
void reap(pid_t pid) {
    int status = 0;
    ::waitpid(pid, &status, WNOHANG);
}

bool wait_gone(const Started& p, long limit_ms) {
    const std::int64_t start = platform::now_ns();
    for (;;) {
        reap(p.pid);
        if (!still_running(p)) return true;
        if (elapsed_ms(start) > limit_ms) return false;
        platform::sleep_ms(kPollMs);
    }
}

// Polls get_state until the process answers. False, with the cause in `why`, when it ended or
// stayed silent.
bool wait_answering(const Member& m, const Started& p, std::int32_t& state, std::string& why) {
    ctl::GenericClient client(m.interface, m.kind);
    ctl::Session session(client, kProbeTimeoutMs);
    if (session.open() != 0) {
        why = session.failure();
        return false;
    }
    const std::int64_t start = platform::now_ns();
    for (;;) {
        int status = 0;
        if (::waitpid(p.pid, &status, WNOHANG) == p.pid) {
            why = "it ended during start-up (" + describe_exit(status) + ")";
            return false;
        }
        if (client.get_state(state) == 0) return true;
        if (elapsed_ms(start) > kReadyLimitMs) {
            why = "it did not answer \"get_state\" on \"" + m.interface + "\" within " +
                  std::to_string(kReadyLimitMs / 1000) + " s";
            return false;
        }
        platform::sleep_ms(kPollMs);
    }
}

// The state of a running process, or the call result that failed (negative).
int query_state(const Member& m) {
    ctl::GenericClient client(m.interface, m.kind);
    ctl::Session session(client, 500);
    if (session.open() != 0) return -kCallNotOpen;
    if (session.nobody_holds()) return -kCallNoCompletion;
    std::int32_t state = 0;
    const int r = client.get_state(state);
    return r == 0 ? state : -r;
}

// Stops one process: "kill" first, then SIGTERM, then SIGKILL. Says how, or why not.
std::string stop_one(const Member& m, const Started& p, long grace_ms, bool& stopped) {
    stopped = true;
    if (!still_running(p)) return "was not running";
    if (m.interface.empty()) {  // the gateway serves HTTP, not an interface: it ends on SIGTERM
        if (::kill(p.pid, SIGTERM) == 0 && wait_gone(p, kSignalGraceMs))
            return "stopped with SIGTERM";
    } else {
        ctl::GenericClient client(m.interface, m.kind);
        ctl::Session session(client, 500);
        std::vector<Value> none;
        if (session.open() == 0 && !session.nobody_holds() &&
            client.call(*client.operation("kill"), {}, none) == 0 && wait_gone(p, grace_ms))
            return "stopped with \"kill\"";
    }
    if (::kill(p.pid, SIGTERM) == 0 && wait_gone(p, std::min(grace_ms, kSignalGraceMs)))
        return "stopped with SIGTERM (it did not end on \"kill\")";
    if (::kill(p.pid, SIGKILL) == 0 && wait_gone(p, kSignalGraceMs))
        return "stopped with SIGKILL (it ended neither on \"kill\" nor on SIGTERM)";
    stopped = false;
    return std::string("could not be stopped: ") + std::strerror(errno);
}

// Stops the processes of `record` in the reverse order of their start.
bool stop_all(const RunRecord& record, long grace_ms, std::ostream& out) {
    bool all = true;
    for (auto it = record.processes.rbegin(); it != record.processes.rend(); ++it) {
        const Member& m = member_named(it->name);
        bool stopped = false;
        const std::string how = stop_one(m, *it, grace_ms, stopped);
        out << "  " << m.name << " (pid " << it->pid
            << (m.interface.empty() ? "" : ", \"" + m.interface + "\"") << ") " << how << std::endl;
        all = all && stopped;
    }
    return all;
}

std::string statistics_path(const std::string& dir) {
    ConfigurationFile config;
    std::string name;
    if (config.load_config(dir + "/vantrel.cfg") != 0 || !config.get("COLUMNSTATS", name))
        return "(COLUMNSTATS of " + dir + "/vantrel.cfg)";
    return dir + "/" + name;
}

std::string state_text(int state) {
    if (state < 0)
        return "running, not answering (" + std::string(describe_call_result(-state)) + ")";
    return ctl::state_name(state);
}

void use_scope(const std::string& scope, std::ostream& out) {
    const std::string current = platform::ipc_scope();
    if (current != scope)
        out << "  (working in IPC scope \"" << scope << "\", where these processes run, not in \""
            << current << "\")" << std::endl;
    ::setenv("VANTREL_IPC_SCOPE", scope.c_str(), 1);
}

}  // namespace

const std::vector<Member>& members() {
    static const std::vector<Member> list = {
        {"logserver", "vantrel-peer", "logserver", "LogServer", ctl::Kind::log_server},
        {"supervisor", "vantrel-peer", "supervisor", "Supervisor", ctl::Kind::component},
        {"rotary", "vantrel-peer", "boardmgr", "RotaryMC", ctl::Kind::board_manager},
        {"linear", "vantrel-peer", "boardmgr", "LinearMC", ctl::Kind::board_manager},
        {"sipper", "vantrel-peer", "sipper", "Sipper", ctl::Kind::sipper},
        {"vantrel", "vantrel", "", "Vantrel", ctl::Kind::selector},
    };
    return list;
}

std::string record_path(const std::string& dir) {
    return dir + "/" + kRecordFile;
}

std::optional<RunRecord> read_record(const std::string& dir) {
    std::ifstream in(record_path(dir));
    if (!in) return std::nullopt;
    RunRecord record;
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream words(line);
        std::string what;
        words >> what;
        if (what == "scope") {
            words >> record.scope;
        } else if (what == "process") {
            Started p;
            long long pid = 0;
            words >> p.name >> pid >> p.start_time;
            p.pid = static_cast<pid_t>(pid);
            if (!words || pid <= 0)
                throw std::runtime_error("unreadable line in " + record_path(dir) + ": " + line);
            member_named(p.name);
            record.processes.push_back(p);
        } else {
            throw std::runtime_error("unreadable line in " + record_path(dir) + ": " + line);
        }
    }
    if (record.scope.empty()) throw std::runtime_error(record_path(dir) + " names no IPC scope");
    return record;
}

void write_record(const std::string& dir, const RunRecord& record) {
    const std::string path = record_path(dir);
    const std::string temporary = path + ".new";
    {
        std::ofstream out(temporary, std::ios::trunc);
        out << "# The processes of the simulated analyser, written by \"vantrel-sim up\" and "
               "removed\n"
               "# by \"vantrel-sim down\": name, pid, start time (clock ticks after boot).\n";
        out << "scope " << record.scope << "\n";
        for (const auto& p : record.processes)
            out << "process " << p.name << " " << p.pid << " " << p.start_time << "\n";
        if (!out.flush()) throw std::runtime_error("can't write " + temporary);
    }
    fs::rename(temporary, path);
}

std::optional<std::uint64_t> process_start_time(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    if (!std::getline(in, text)) return std::nullopt;
    // The name in parentheses may hold spaces; the fields after it are plain.
    const auto close = text.rfind(')');
    if (close == std::string::npos) return std::nullopt;
    std::istringstream fields(text.substr(close + 1));
    std::string state;
    fields >> state;
    if (state == "Z" || state == "X" || state == "x") return std::nullopt;
    std::string skip;
    for (int i = 0; i < 18; ++i) fields >> skip;  // fields 4 to 21
    std::uint64_t start = 0;
    if (!(fields >> start)) return std::nullopt;
    return start;
}

bool still_running(const Started& p) {
    const auto start = process_start_time(p.pid);
    return start && *start == p.start_time;
}

std::string find_program(const std::string& name) {
    std::error_code ec;
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    if (!ec) {
        const fs::path sibling = self.parent_path() / name;
        if (::access(sibling.c_str(), X_OK) == 0) return sibling.string();
    }
    const char* path = std::getenv("PATH");
    std::istringstream dirs(path ? path : "");
    for (std::string d; std::getline(dirs, d, ':');) {
        const fs::path candidate = fs::path(d.empty() ? "." : d) / name;
        if (::access(candidate.c_str(), X_OK) == 0) return candidate.string();
    }
    return "";
}

namespace {

// Starts vantrel-gateway for the selector, on its usual port or, when that is taken (another
// analyser's gateway), on a free one, with its token in DIR/gateway.token. The analyser works
// without it: a gateway that does not come up is reported and left out.
void start_gateway(const std::string& dir, RunRecord& record, std::ostream& out,
                   std::ostream& err) {
    const std::string program = find_program("vantrel-gateway");
    if (program.empty()) {
        err << "vantrel-sim: can't find vantrel-gateway next to vantrel-sim nor on PATH; the "
               "analyser runs without it"
            << std::endl;
        return;
    }
    std::string why;
    for (const char* port : {"8734", "0"}) {
        const pid_t pid =
            spawn_detached({program, "--listen", std::string("127.0.0.1:") + port, "--interface",
                            "Vantrel", "--token-file", dir + "/gateway.token"},
                           dir + "/gateway.out", why);
        if (pid < 0) break;
        const Started p{gateway_member().name, pid, process_start_time(pid).value_or(0)};
        record.processes.push_back(p);
        write_record(dir, record);
        const std::int64_t start = platform::now_ns();
        while (gateway_url(dir).empty() && still_running(p) && elapsed_ms(start) < kReadyLimitMs) {
            reap(pid);
            platform::sleep_ms(kPollMs);
        }
        if (!gateway_url(dir).empty()) {
            char line[200];
            std::snprintf(line, sizeof line, "  %-10s %-14s pid %-7d at %s\n", "gateway", "",
                          static_cast<int>(pid), gateway_url(dir).c_str());
            out << line << std::flush;
            return;
        }
        bool stopped = false;
        stop_one(gateway_member(), p, kSignalGraceMs, stopped);
        record.processes.pop_back();
        write_record(dir, record);
        why = tail(dir + "/gateway.out", 3);
    }
    err << "vantrel-sim: vantrel-gateway did not come up; the analyser runs without it\n" << why;
}

}  // namespace

int up(const std::string& dir_argument, std::ostream& out, std::ostream& err) {
    const std::string dir = absolute_dir(dir_argument);
    // The components take their command line as one text split at spaces, without escapes.
    if (dir.find_first_of(" \t\"") != std::string::npos) {
        err << "vantrel-sim: the directory's path \"" << dir
            << "\" holds a space or a double quote; the components split their command line at "
               "spaces, so choose a directory without them"
            << std::endl;
        return 1;
    }
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (ec) {
        err << "vantrel-sim: can't create " << dir << ": " << ec.message() << std::endl;
        return 1;
    }
    DirectoryLock lock(dir);
    if (!lock.held()) {
        err << "vantrel-sim: another vantrel-sim is at work in " << dir << std::endl;
        return 1;
    }
    if (const auto old = read_record(dir)) {
        std::string running;
        for (const auto& p : old->processes)
            if (still_running(p))
                running += (running.empty() ? "" : ", ") + p.name + " pid " + std::to_string(p.pid);
        if (!running.empty()) {
            err << "vantrel-sim: the simulated analyser is already up in " << dir << " (" << running
                << ", IPC scope \"" << old->scope << "\"); \"vantrel-sim status " << dir
                << "\" shows it, \"vantrel-sim down " << dir << "\" stops it" << std::endl;
            return 1;
        }
        out << "vantrel-sim: none of the processes recorded in " << record_path(dir)
            << " runs any more; starting afresh" << std::endl;
        fs::remove(record_path(dir));
    }

    std::map<std::string, std::string> programs;
    for (const char* name : {"vantrel", "vantrel-peer"}) {
        programs[name] = find_program(name);
        if (programs[name].empty()) {
            err << "vantrel-sim: can't find the program \"" << name
                << "\" next to vantrel-sim nor on PATH" << std::endl;
            return 1;
        }
    }

    const std::string scope = platform::ipc_scope();
    // Two analysers in one scope would share interface names: refuse before starting anything.
    for (const Member& m : members()) {
        ctl::GenericClient client(m.interface, m.kind);
        ctl::Session session(client, kProbeTimeoutMs);
        std::int32_t state = 0;
        if (session.open() == 0 && !session.nobody_holds() && client.get_state(state) == 0) {
            err << "vantrel-sim: something already serves \"" << m.interface << "\" in IPC scope \""
                << scope
                << "\" (another simulated analyser?); stop it, or give this one a scope of its "
                   "own with VANTREL_IPC_SCOPE"
                << std::endl;
            return 1;
        }
    }

    out << "vantrel-sim: starting the simulated analyser in " << dir << " (IPC scope \"" << scope
        << "\")" << std::endl;
    std::string written;
    for (const DefaultFile& f : default_files()) {
        const std::string path = dir + "/" + f.name;
        if (fs::exists(path)) continue;
        std::ofstream file(path);
        file << f.text;
        if (!file.flush()) {
            err << "vantrel-sim: can't write " << path << std::endl;
            return 1;
        }
        written += std::string(" ") + f.name;
    }
    if (!written.empty()) out << "  wrote default configuration files:" << written << std::endl;

    RunRecord record;
    record.scope = scope;
    auto give_up = [&](const Member& m, const std::string& why) {
        err << "vantrel-sim: " << m.name << " (\"" << m.interface << "\") did not come up: " << why
            << std::endl;
        const std::string output = dir + "/" + m.name + ".out";
        const std::string log = dir + "/" + m.name + ".log";
        err << "  last lines of " << output << ":\n" << tail(output, 8);
        err << "  last lines of " << log << ":\n" << tail(log, 8);
        err << "vantrel-sim: stopping what was started" << std::endl;
        stop_all(record, kSignalGraceMs, err);
        fs::remove(record_path(dir));
        platform::remove_unheld_objects(scope);
        return 1;
    };
    for (const Member& m : members()) {
        std::vector<std::string> argv = {programs[m.program]};
        if (!m.peer.empty()) argv.push_back(m.peer);
        argv.insert(argv.end(),
                    {m.interface, dir + "/" + m.name + ".log", dir + "/" + m.name + ".cfg"});
        std::string error;
        const pid_t pid = spawn_detached(argv, dir + "/" + m.name + ".out", error);
        if (pid < 0) return give_up(m, error);
        Started p{m.name, pid, process_start_time(pid).value_or(0)};
        record.processes.push_back(p);
        write_record(dir, record);  // at once, so that down finds whatever runs
        std::int32_t state = 0;
        std::string why;
        if (p.start_time == 0 || !wait_answering(m, p, state, why))
            return give_up(m, why.empty() ? "it ended at once" : why);
        char line[160];
        std::snprintf(line, sizeof line, "  %-10s \"%s\"%*s pid %-7d answering\n", m.name.c_str(),
                      m.interface.c_str(), static_cast<int>(12 - m.interface.size()), "",
                      static_cast<int>(pid));
        out << line << std::flush;
    }

    // The stand-in peers are made ready here (their logs then reach the log server); the selector
    // is left for its user to reset.
    for (const Member& m : members()) {
        if (m.kind == ctl::Kind::selector) continue;
        ctl::GenericClient client(m.interface, m.kind);
        ctl::Session session(client, 1000);
        std::vector<Value> none;
        if (session.open() != 0 || client.call(*client.operation("reset"), {}, none) != 0) {
            err << "vantrel-sim: could not reset " << m.name << std::endl;
            continue;
        }
        const std::int64_t start = platform::now_ns();
        std::int32_t state = 0;
        while (!(client.get_state(state) == 0 && state != 0) && elapsed_ms(start) < kResetLimitMs)
            platform::sleep_ms(kPollMs);
        if (state != 1)
            err << "vantrel-sim: " << m.name << " is " << ctl::state_name(state)
                << " after its reset; see " << dir << "/" << m.name << ".log" << std::endl;
    }

    start_gateway(dir, record, out, err);
    const std::string url = gateway_url(dir);

    const char* env_scope = std::getenv("VANTREL_IPC_SCOPE");
    out << "The simulated analyser is up; the stand-in peers are READY, the selector waits for "
           "\"reset\".\n"
        << "  configuration  " << dir << "/*.cfg\n"
        << "  logs           " << dir << "/<name>.log (each component), " << dir
        << "/<name>.out (process output)\n"
        << "  statistics     " << statistics_path(dir) << " (made at the selector's first reset)\n"
        << "  IPC scope      \"" << scope << "\""
        << (env_scope && *env_scope ? " (export VANTREL_IPC_SCOPE=" + scope + " to reach it)" : "")
        << "\n"
        << (url.empty() ? ""
                        : "  gateway        " + url + " (token in " + dir + "/gateway.token)\n")
        << "Next: vantrelctl reset; vantrelctl home --wait; vantrelctl status\n"
        << "Stop: vantrel-sim down " << dir << std::endl;
    return 0;
}

int down(const std::string& dir_argument, long grace_ms, std::ostream& out, std::ostream& err) {
    const std::string dir = absolute_dir(dir_argument);
    if (!fs::is_directory(dir)) {
        out << "vantrel-sim: nothing is up in " << dir << " (no such directory)" << std::endl;
        return 0;
    }
    DirectoryLock lock(dir);
    if (!lock.held()) {
        err << "vantrel-sim: another vantrel-sim is at work in " << dir << std::endl;
        return 1;
    }
    const auto record = read_record(dir);
    if (!record) {
        out << "vantrel-sim: nothing is up in " << dir << " (no " << kRecordFile << ")"
            << std::endl;
        return 0;
    }
    out << "vantrel-sim: stopping the simulated analyser in " << dir << std::endl;
    use_scope(record->scope, out);
    const bool all = stop_all(*record, grace_ms, out);
    if (!all) {
        err << "vantrel-sim: some processes could not be stopped; " << record_path(dir)
            << " is kept" << std::endl;
        return 1;
    }
    fs::remove(record_path(dir));
    // Processes ended by SIGKILL leave their named objects behind.
    if (const std::size_t removed = platform::remove_unheld_objects(record->scope))
        out << "  removed " << removed << " named objects left by killed processes" << std::endl;
    out << "Logs and statistics stay in " << dir << std::endl;
    return 0;
}

int status(const std::string& dir_argument, std::ostream& out, std::ostream& err) {
    const std::string dir = absolute_dir(dir_argument);
    const auto record = read_record(dir);
    if (!record) {
        err << "vantrel-sim: nothing is up in " << dir << std::endl;
        return kNotUp;
    }
    out << "simulated analyser in " << dir << " (IPC scope \"" << record->scope << "\")"
        << std::endl;
    use_scope(record->scope, out);
    char line[200];
    std::snprintf(line, sizeof line, "  %-10s %-12s %-8s %s\n", "process", "interface", "pid",
                  "state");
    out << line;
    bool all = true;
    int running = 0;
    for (const auto& p : record->processes) {
        const Member& m = member_named(p.name);
        std::string state = "not running";
        if (!still_running(p)) {
            all = false;
        } else if (m.interface.empty()) {
            state = "serving " + gateway_url(dir);
        } else {
            ++running;
            const int s = query_state(m);
            state = state_text(s);
            all = all && s >= 0;
        }
        std::snprintf(line, sizeof line, "  %-10s %-12s %-8d %s\n", m.name.c_str(),
                      m.interface.c_str(), static_cast<int>(p.pid), state.c_str());
        out << line;
    }
    out << "  logs in " << dir << "/<name>.log, statistics in " << statistics_path(dir)
        << std::endl;
    if (running == 0) return kNotUp;
    return all && running == static_cast<int>(members().size()) ? 0 : 1;
}

}  // namespace vantrel::simtool
