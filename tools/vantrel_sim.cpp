#include "tools/vantrel_sim.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
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
#include "config/file_io.h"
#include "interface/component_interface.h"
#include "platform/clock.h"
#include "platform/named_object.h"
#include "platform/object_name.h"
#include "tools/own_files.h"

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
// Far more than six processes need.
constexpr std::size_t kRecordLimit = 64 * 1024;
constexpr const char* kTrustHint =
    "vantrel-sim works only in a directory of your own that nobody else may write, with files "
    "of your own in it (for example: mkdir -m 700 ~/analyser)";

// Only one vantrel-sim at a time works in a directory.
class DirectoryLock {
  public:
    explicit DirectoryLock(const std::string& dir) {
        fd_ = open_own_file(dir + "/" + kLockFile, O_RDWR | O_CREAT, 0600, error_);
        held_ = fd_ >= 0 && ::flock(fd_, LOCK_EX | LOCK_NB) == 0;
        if (fd_ >= 0 && !held_) error_ = "another vantrel-sim is at work in " + dir;
    }
    ~DirectoryLock() {
        if (fd_ >= 0) ::close(fd_);
    }
    DirectoryLock(const DirectoryLock&) = delete;
    DirectoryLock& operator=(const DirectoryLock&) = delete;
    bool held() const { return held_; }
    // Why the lock is not held.
    const std::string& error() const { return error_; }

  private:
    int fd_ = -1;
    bool held_ = false;
    std::string error_;
};

// The first reason not to trust `dir` or one of `files` in it, or empty.
std::string untrusted(const std::string& dir, const std::vector<std::string>& files) {
    std::string why = untrusted_directory(dir);
    for (auto it = files.begin(); why.empty() && it != files.end(); ++it)
        why = untrusted_file(dir + "/" + *it);
    return why;
}

// Every file of DIR that vantrel-sim or the processes it starts write or read.
std::vector<std::string> member_files() {
    std::vector<std::string> files = {kLockFile, kRecordFile, std::string(kRecordFile) + ".new"};
    for (const Member& m : members())
        for (const char* suffix : {".cfg", ".log", ".out"}) files.push_back(m.name + suffix);
    for (const char* gateway : {"gateway.out", "gateway.token"}) files.push_back(gateway);
    return files;
}

int refuse(const std::string& why, std::ostream& err) {
    err << "vantrel-sim: " << why << "\n" << kTrustHint << std::endl;
    return 1;
}

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
    const int out_fd = open_own_file(output, O_WRONLY | O_CREAT, 0644, error);
    if (out_fd < 0) return -1;
    if (::ftruncate(out_fd, 0) != 0) {
        error = "can't empty " + output + ": " + std::strerror(errno);
        ::close(out_fd);
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

// Sends `signal` to the process when it is still the one recorded. The check and the signal go
// through one pidfd, so a pid reused in between is never signalled.
// (System calls: glibc 2.36's <sys/pidfd.h> cannot be included from C++.)
bool signal_ours(const Started& p, int signal) {
    const int fd = static_cast<int>(::syscall(SYS_pidfd_open, p.pid, 0));
    if (fd < 0) return false;
    const bool sent = identify(p) == Identity::ours &&
                      ::syscall(SYS_pidfd_send_signal, fd, signal, nullptr, 0) == 0;
    ::close(fd);
    return sent;
}

// Stops one process: "kill" first, then SIGTERM, then SIGKILL. Says how, or why not.
std::string stop_one(const Member& m, const Started& p, long grace_ms, bool& stopped) {
    stopped = true;
    switch (identify(p)) {
        case Identity::gone:
            return "was not running";
        case Identity::another:
            return "was not running (pid " + std::to_string(p.pid) +
                   " runs another program now; left alone)";
        case Identity::ours:
            break;
    }
    if (m.interface.empty()) {  // the gateway serves HTTP, not an interface: it ends on SIGTERM
        if (signal_ours(p, SIGTERM) && wait_gone(p, kSignalGraceMs)) return "stopped with SIGTERM";
    } else {
        ctl::GenericClient client(m.interface, m.kind);
        ctl::Session session(client, 500);
        std::vector<Value> none;
        if (session.open() == 0 && !session.nobody_holds() &&
            client.call(*client.operation("kill"), {}, none) == 0 && wait_gone(p, grace_ms))
            return "stopped with \"kill\"";
    }
    if (signal_ours(p, SIGTERM) && wait_gone(p, std::min(grace_ms, kSignalGraceMs)))
        return "stopped with SIGTERM (it did not end on \"kill\")";
    const bool killed = signal_ours(p, SIGKILL);
    const int cause = errno;  // of the signal, before the wait can change it
    if (killed && wait_gone(p, kSignalGraceMs))
        return "stopped with SIGKILL (it ended neither on \"kill\" nor on SIGTERM)";
    stopped = false;
    if (killed)
        return "could not be stopped: still there " + std::to_string(kSignalGraceMs) +
               " ms after SIGKILL";
    return std::string("could not be stopped: ") + std::strerror(cause);
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
    return name.starts_with('/') ? name : dir + "/" + name;  // as the selector finds it
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
    const std::string path = record_path(dir);
    std::string error;
    const int fd = open_own_file(path, O_RDONLY, 0, error);
    if (fd < 0 && errno == ENOENT) return std::nullopt;
    if (fd < 0) throw std::runtime_error(error + "; its pids are not trusted");
    std::string text;
    char buffer[4096];
    ssize_t n = 0;
    while (text.size() <= kRecordLimit && (n = ::read(fd, buffer, sizeof buffer)) > 0)
        text.append(buffer, static_cast<std::size_t>(n));
    ::close(fd);
    if (n < 0 || text.size() > kRecordLimit) throw std::runtime_error("can't read " + path);

    RunRecord record;
    std::istringstream in(text);
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
            words.ignore(1);
            std::getline(words, p.executable);  // the rest of the line: a path may hold spaces
            p.pid = static_cast<pid_t>(pid);
            if (!words || pid <= 0 || p.executable.empty() || p.executable[0] != '/')
                throw std::runtime_error("unreadable line in " + path + ": " + line);
            member_named(p.name);
            record.processes.push_back(p);
        } else {
            throw std::runtime_error("unreadable line in " + path + ": " + line);
        }
    }
    if (record.scope.empty()) throw std::runtime_error(path + " names no IPC scope");
    return record;
}

void write_record(const std::string& dir, const RunRecord& record) {
    const std::string path = record_path(dir);
    const std::string temporary = path + ".new";
    std::ostringstream out;
    out << "# The processes of the simulated analyser, written by \"vantrel-sim up\" and removed\n"
           "# by \"vantrel-sim down\": name, pid, start time (clock ticks after boot), program.\n";
    out << "scope " << record.scope << "\n";
    for (const auto& p : record.processes)
        out << "process " << p.name << " " << p.pid << " " << p.start_time << " " << p.executable
            << "\n";
    const std::string text = out.str();
    // A new file of our own: whatever a leftover name pointed to is not written.
    ::unlink(temporary.c_str());
    std::string error;
    const int fd = open_own_file(temporary, O_WRONLY | O_CREAT | O_EXCL, 0600, error);
    if (fd < 0) throw std::runtime_error(error);
    const bool written = write_all(fd, text);
    if (::close(fd) != 0 || !written || ::rename(temporary.c_str(), path.c_str()) != 0) {
        ::unlink(temporary.c_str());
        throw std::runtime_error("can't write " + path);
    }
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

std::optional<std::string> process_executable(pid_t pid) {
    std::error_code ec;
    std::string path = fs::read_symlink("/proc/" + std::to_string(pid) + "/exe", ec).string();
    if (ec || path.empty()) return std::nullopt;
    // A program rebuilt while it runs still is the program that was started.
    const std::string replaced = " (deleted)";
    if (path.size() > replaced.size() &&
        path.compare(path.size() - replaced.size(), replaced.size(), replaced) == 0)
        path.resize(path.size() - replaced.size());
    return path;
}

Identity identify(const Started& p) {
    const auto start = process_start_time(p.pid);
    if (!start || *start != p.start_time) return Identity::gone;
    const auto executable = process_executable(p.pid);
    if (!executable || *executable != p.executable ||
        fs::path(p.executable).filename() != member_named(p.name).program)
        return Identity::another;
    return Identity::ours;
}

bool still_running(const Started& p) {
    return identify(p) == Identity::ours;
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

// Makes DIR when it is missing (private to the caller), and checks that nobody else can change
// it or the files in it. 0, or 1 after saying why not.
int prepare_directory(const std::string& dir, std::ostream& err) {
    // The components take their command line as one text split at spaces, without escapes.
    if (dir.find_first_of(" \t\"") != std::string::npos) {
        err << "vantrel-sim: the directory's path \"" << dir
            << "\" holds a space or a double quote; the components split their command line at "
               "spaces, so choose a directory without them"
            << std::endl;
        return 1;
    }
    // Nothing is made under a directory that someone else could change.
    if (const std::string why = untrusted_ancestors(dir); !why.empty()) return refuse(why, err);
    std::error_code ec;
    fs::create_directories(fs::path(dir).parent_path(), ec);
    if (!ec && ::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST)
        ec = std::error_code(errno, std::generic_category());
    if (ec) {
        err << "vantrel-sim: can't create " << dir << ": " << ec.message() << std::endl;
        return 1;
    }
    const std::string why = untrusted(dir, member_files());
    return why.empty() ? 0 : refuse(why, err);
}

// A record left by an earlier up: refused while one of its processes runs, else removed.
int check_old_record(const std::string& dir, std::ostream& out, std::ostream& err) {
    const auto old = read_record(dir);
    if (!old) return 0;
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
    return 0;
}

// Two analysers in one scope would share interface names: refused before starting anything.
int check_scope_free(const std::string& scope, std::ostream& err) {
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
    return 0;
}

// Writes the default configuration files that are missing, each a new file of our own.
int write_defaults(const std::string& dir, std::ostream& out, std::ostream& err) {
    std::string written;
    for (const DefaultFile& f : default_files()) {
        const std::string path = dir + "/" + f.name;
        struct stat st {};
        if (::lstat(path.c_str(), &st) == 0) continue;
        std::string error;
        const int fd = open_own_file(path, O_WRONLY | O_CREAT | O_EXCL, 0644, error);
        const bool ok = fd >= 0 && write_all(fd, f.text);
        if (fd >= 0 && ::close(fd) != 0) error = "can't write " + path;
        if (!ok || !error.empty()) {
            err << "vantrel-sim: " << (error.empty() ? "can't write " + path : error) << std::endl;
            return 1;
        }
        written += std::string(" ") + f.name;
    }
    if (!written.empty()) out << "  wrote default configuration files:" << written << std::endl;
    // The selector writes its statistics file through a symbolic link: it must be ours too.
    const std::string why = untrusted_file(statistics_path(dir));
    return why.empty() ? 0 : refuse(why, err);
}

// Starts one member detached and records it at once, so that down finds whatever runs.
bool start_member(const Member& m, const std::string& dir, const std::string& program,
                  RunRecord& record, std::string& why) {
    std::vector<std::string> argv = {program};
    if (!m.peer.empty()) argv.push_back(m.peer);
    argv.insert(argv.end(),
                {m.interface, dir + "/" + m.name + ".log", dir + "/" + m.name + ".cfg"});
    const pid_t pid = spawn_detached(argv, dir + "/" + m.name + ".out", why);
    if (pid < 0) return false;
    // spawn_detached returns after the exec: /proc shows the started program.
    Started p{m.name, pid, process_start_time(pid).value_or(0),
              process_executable(pid).value_or("")};
    if (p.start_time == 0 || p.executable.empty()) {
        ::kill(pid, SIGKILL);
        reap(pid);
        why = "it ended at once";
        return false;
    }
    record.processes.push_back(p);
    write_record(dir, record);
    std::int32_t state = 0;
    return wait_answering(m, p, state, why);
}

// Starts the members in order, each after the previous one answers. 0, or 1 after stopping what
// was started and showing why.
int start_members(const std::string& dir, const std::string& scope, std::ostream& out,
                  std::ostream& err) {
    std::map<std::string, std::string> programs;
    for (const char* name : {"vantrel", "vantrel-peer"}) {
        programs[name] = find_program(name);
        if (programs[name].empty()) {
            err << "vantrel-sim: can't find the program \"" << name
                << "\" next to vantrel-sim nor on PATH" << std::endl;
            return 1;
        }
    }
    RunRecord record;
    record.scope = scope;
    for (const Member& m : members()) {
        std::string why;
        if (!start_member(m, dir, programs[m.program], record, why)) {
            err << "vantrel-sim: " << m.name << " (\""
                << m.interface << "\") did not come up: " << why << std::endl;
            const std::string output = dir + "/" + m.name + ".out";
            const std::string log = dir + "/" + m.name + ".log";
            err << "  last lines of " << output << ":\n" << tail(output, 8);
            err << "  last lines of " << log << ":\n" << tail(log, 8);
            err << "vantrel-sim: stopping what was started" << std::endl;
            stop_all(record, kSignalGraceMs, err);
            fs::remove(record_path(dir));
            platform::remove_unheld_objects(scope);
            return 1;
        }
        char line[160];
        std::snprintf(line, sizeof line, "  %-10s \"%s\"%*s pid %-7d answering\n", m.name.c_str(),
                      m.interface.c_str(), static_cast<int>(12 - m.interface.size()), "",
                      static_cast<int>(record.processes.back().pid));
        out << line << std::flush;
    }
    return 0;
}

// The stand-in peers are made ready here (their logs then reach the log server); the selector is
// left for its user to reset.
void reset_peers(const std::string& dir, std::ostream& err) {
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
}

// Starts vantrel-gateway for the selector, on its usual port or, when that is taken (another
// analyser's gateway), on a free one, with its token in DIR/gateway.token. The analyser works
// without it: a gateway that does not come up is reported and left out.
void start_gateway(const std::string& dir, std::ostream& out, std::ostream& err) {
    RunRecord record = *read_record(dir);
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
        const Started p{gateway_member().name, pid, process_start_time(pid).value_or(0),
                        process_executable(pid).value_or("")};
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

void print_summary(const std::string& dir, const std::string& scope, std::ostream& out) {
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
}

}  // namespace

int up(const std::string& dir_argument, std::ostream& out, std::ostream& err) {
    const std::string dir = absolute_dir(dir_argument);
    if (prepare_directory(dir, err) != 0) return 1;
    DirectoryLock lock(dir);
    if (!lock.held()) {
        err << "vantrel-sim: " << lock.error() << std::endl;
        return 1;
    }
    const std::string scope = platform::ipc_scope();
    if (check_old_record(dir, out, err) != 0 || check_scope_free(scope, err) != 0) return 1;
    out << "vantrel-sim: starting the simulated analyser in " << dir << " (IPC scope \"" << scope
        << "\")" << std::endl;
    if (write_defaults(dir, out, err) != 0 || start_members(dir, scope, out, err) != 0) return 1;
    reset_peers(dir, err);
    start_gateway(dir, out, err);
    print_summary(dir, scope, out);
    return 0;
}

int down(const std::string& dir_argument, long grace_ms, std::ostream& out, std::ostream& err) {
    const std::string dir = absolute_dir(dir_argument);
    if (!fs::is_directory(dir)) {
        out << "vantrel-sim: nothing is up in " << dir << " (no such directory)" << std::endl;
        return 0;
    }
    if (const std::string why = untrusted(dir, member_files()); !why.empty())
        return refuse(why, err);
    DirectoryLock lock(dir);
    if (!lock.held()) {
        err << "vantrel-sim: " << lock.error() << std::endl;
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
    if (fs::is_directory(dir))
        if (const std::string why = untrusted(dir, member_files()); !why.empty())
            return refuse(why, err);
    const auto record = fs::is_directory(dir) ? read_record(dir) : std::nullopt;
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
