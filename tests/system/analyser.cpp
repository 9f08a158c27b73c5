#include "tests/system/analyser.h"

#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "sim/board.h"
#include "tests/selector/selector_config.h"

namespace vantrel::test {

bool stress_mode() {
    const char* env = std::getenv("VANTREL_STRESS");
    return env != nullptr && *env != '\0' && std::string(env) != "0";
}

int scaled(int bounded, int stress) {
    return stress_mode() ? stress : bounded;
}

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

long resident_kb(int pid, const std::string& field) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(field + ":", 0) == 0)
            return std::strtol(line.c_str() + field.size() + 1, nullptr, 10);
    }
    return -1;
}

long cpu_ticks(int pid) {
    const std::string stat = slurp("/proc/" + std::to_string(pid) + "/stat");
    // The command name may hold blanks and parentheses: fields are counted after the last ')'.
    const auto close = stat.rfind(')');
    if (close == std::string::npos) return -1;
    std::istringstream fields(stat.substr(close + 2));
    std::string field;
    long utime = -1, stime = -1;
    // Field 3 (state) is the first after ')'; utime and stime are fields 14 and 15.
    for (int number = 3; number <= 15 && fields >> field; ++number) {
        if (number == 14) utime = std::strtol(field.c_str(), nullptr, 10);
        if (number == 15) stime = std::strtol(field.c_str(), nullptr, 10);
    }
    return utime < 0 || stime < 0 ? -1 : utime + stime;
}

Analyser::Analyser(AnalyserOptions options) : options_(options) {
    char tmpl[] = "/tmp/vantrel-sys-XXXXXX";
    if (::mkdtemp(tmpl) == nullptr) throw std::runtime_error("mkdtemp failed");
    dir_ = tmpl;
    write_configs();

    // Clients first: their segments carry the short time-outs whoever serves later.
    const auto with_timeout = [&](auto client, std::int32_t ms) {
        client->open();
        client->set_call_timeout(ms);
        return client;
    };
    const std::int32_t peer_ms = options_.peer_call_timeout_ms;
    rotary_ = with_timeout(std::make_unique<NI7344IF>(kRotary), peer_ms);
    linear_ = with_timeout(std::make_unique<NI7344IF>(kLinear), peer_ms);
    sipper_ = with_timeout(std::make_unique<SipperIF>(kSipper), peer_ms);
    log_server_ = with_timeout(std::make_unique<LogServerIF>(kLogServer), peer_ms);
    supervisor_ = with_timeout(std::make_unique<SupervisorIF>(kSupervisor), peer_ms);
    vantrel_ =
        with_timeout(std::make_unique<VantrelIF>("Vantrel"), options_.selector_call_timeout_ms);

    if (options_.log_server) start_peer(kLogServer);
    if (options_.supervisor) start_peer(kSupervisor);
    if (options_.board_managers) {
        start_peer(kRotary);
        start_peer(kLinear);
    }
    if (options_.sipper) start_peer(kSipper);
}

Analyser::~Analyser() {
    if (selector_) selector_->kill9();
    for (auto& [name, peer] : peers_) peer->kill9();
    std::filesystem::remove_all(dir_);
}

void Analyser::write(const std::string& file, const std::string& text) const {
    std::ofstream(path(file), std::ios::binary) << text;
}

void Analyser::write_configs() {
    const std::string common =
        "FREQ = 1;\nLOGSERVERIF = \"LogServer\";\nSUPERVISORIF = \"Supervisor\";\n";
    write("logserver.cfg", common);
    write("supervisor.cfg", common);
    write("sipper.cfg", common);
    write("rotary.cfg", common + "BOARD_ID = 1;\nREFERENCE_POSITION = -500.0;\n");
    write("linear.cfg", common + "BOARD_ID = 2;\n");
    std::string selector = selector_config(options_.device_present);
    selector.replace(selector.find("\"NoLogServer\""), 13, "\"LogServer\"");
    selector += "SUPERVISORIF = \"Supervisor\";\n";
    write("vantrel.cfg", selector);
}

void Analyser::start_peer(const std::string& name) {
    static const std::map<std::string, std::pair<std::string, std::string>> kinds = {
        {kLogServer, {"logserver", "logserver"}},
        {kSupervisor, {"supervisor", "supervisor"}},
        {kRotary, {"boardmgr", "rotary"}},
        {kLinear, {"boardmgr", "linear"}},
        {kSipper, {"sipper", "sipper"}}};
    const auto& [kind, file] = kinds.at(name);
    peers_[name] = std::make_unique<ChildProcess>(std::vector<std::string>{
        helper_path("vantrel-peer"), kind, name, path(file + ".log"), path(file + ".cfg")});
    // Serving once it answers a call of its own interface.
    ComponentIF probe(name);
    probe.open();
    const bool serving = eventually([&] {
        std::int32_t state = -1;
        return probe.get_state(state) == kCallDone;
    });
    if (!serving) throw std::runtime_error("peer " + name + " does not serve");
}

void Analyser::kill_peer(const std::string& name) {
    if (auto it = peers_.find(name); it != peers_.end()) {
        it->second->kill9();
        peers_.erase(it);
    }
}

ChildProcess& Analyser::start_selector() {
    return start_selector_with({"Vantrel", path("vantrel.log"), path("vantrel.cfg")});
}

ChildProcess& Analyser::start_selector_with(const std::vector<std::string>& arguments) {
    std::vector<std::string> argv{helper_path("vantrel")};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    selector_ = std::make_unique<ChildProcess>(argv);
    return *selector_;
}

void Analyser::kill_selector() {
    if (selector_) selector_->kill9();
    selector_.reset();
}

int Analyser::stop_selector() {
    if (!selector_) return -1;
    vantrel_->kill();
    const int code = selector_->wait();
    selector_.reset();
    return code;
}

bool Analyser::wait_state(int state, int timeout_ms) {
    return eventually(
        [&] {
            std::int32_t now = -1;
            return vantrel_->get_state(now) == kCallDone && now == state;
        },
        timeout_ms);
}

bool Analyser::start_ready() {
    if (!selector_) start_selector();
    if (!wait_state(0)) return false;
    if (vantrel_->reset() != kCallDone) return false;
    return eventually([&] {
               std::int32_t now = -1;
               return vantrel_->get_state(now) == kCallDone && (now == 1 || now == 3);
           }) &&
           wait_state(1, 0);
}

bool Analyser::wait_idle(int timeout_ms) {
    return eventually(
        [&] {
            bool busy = true;
            return vantrel_->is_busy(busy) == kCallDone && !busy;
        },
        timeout_ms);
}

bool Analyser::home() {
    if (vantrel_->home() != kCallDone) return false;
    return eventually([&] {
        bool busy = true, is_homed = false;
        return vantrel_->is_busy(busy) == kCallDone && !busy &&
               vantrel_->homed(is_homed) == kCallDone && is_homed;
    });
}

bool Analyser::move_to(int column) {
    if (vantrel_->set_current_column(column) != kCallDone) return false;
    return eventually([&] {
        bool busy = true;
        return vantrel_->is_busy(busy) == kCallDone && !busy && current_column() == column;
    });
}

std::int32_t Analyser::current_column() {
    std::int32_t column = -1;
    return vantrel_->get_current_column(column) == kCallDone ? column : -2;
}

std::int32_t Analyser::sample_count(int column) {
    std::int32_t count = -1;
    return vantrel_->get_sample_count(column, count) == kCallDone ? count : -1;
}

bool Analyser::homed() {
    bool is_homed = false;
    return vantrel_->homed(is_homed) == kCallDone && is_homed;
}

std::optional<std::int32_t> Analyser::rotor_variable(int number) {
    try {
        sim::BoardHandle board(kRotorBoard, platform::OpenMode::open_existing);
        return board.snapshot().variables[number];
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

bool Analyser::logged(const std::string& text) const {
    return read("vantrel.log").find("<Vantrel>: " + text) != std::string::npos;
}

bool Analyser::task_logged(const std::string& text) const {
    return eventually([&] { return logged("VantrelTask :" + text); });
}

}  // namespace vantrel::test
