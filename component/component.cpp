#include "component/component.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "component/service_notifier.h"
#include "framework/timer.h"
#include "interface/clients.h"
#include "interface/interface_server.h"
#include "platform/exception.h"
#include "platform/termination.h"

#ifndef VANTREL_VERSION
#define VANTREL_VERSION ""
#endif

namespace vantrel {
namespace {

constexpr std::size_t kLineLimit = 250;
constexpr std::size_t kLogBuffer = 249;
constexpr std::size_t kCfgDirLimit = 249;
constexpr int kClientTimeoutMs = 1000;

const char* state_name(int state) {
    switch (state) {
        case Component::UNINITIALIZED:
            return "UNINITIALIZED";
        case Component::READY:
            return "READY";
        case Component::RUNNING:
            return "RUNNING";
        case Component::INIT_FAILED:
            return "INIT_FAILED";
        default:
            return "unknown";
    }
}

void copy_text(const std::string& text, char* buffer, std::size_t size) {
    if (buffer == nullptr || size == 0) return;
    const std::size_t n = std::min(text.size(), size - 1);
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
}

}  // namespace

std::string Component::product_version() {
    return VANTREL_VERSION;
}

Component::Component(const std::string& interface_name, const std::string& log_file,
                     const std::string& /*config_file: loaded by the concrete component*/)
    : name_(interface_name) {
    log_ = std::make_unique<Syslog>(log_file, false);
    version_ = product_version();
    log_msg("version " + version_, 1);
}

Component::~Component() {
    clients_.clear();
    server_.reset();
    log_.reset();  // writes the closing line
}

void Component::run() {
    if (state_ == READY) {
        state_ = RUNNING;
        log_msg("run() set component to RUNNING state", 0);
    } else {
        log_msg("Component::Run -- can't start component, illegal state", 0);
    }
}

void Component::stop() {
    if (state_ == RUNNING) {
        state_ = READY;
        log_msg("stop() set component to READY state", 0);
    } else {
        log_msg("Componnet::Stop -- can't stop task, illegal state", 0);
    }
}

void Component::reset() {
    if (state_ == RUNNING)
        log_msg("Component::Reset -- illegal state, cannot perform reset", 0);
    else
        reset_request_ = true;
}

void Component::kill() {
    log_msg("kill -- setting _exit to true", 0);
    exit_ = true;
}

void Component::get_state(int& state) {
    state = state_;
}

void Component::get_name(char* buffer, std::size_t size) {
    copy_text(name_, buffer, size);
}

void Component::get_component_version(char* buffer, std::size_t size) {
    copy_text(version_, buffer, size);
}

void Component::get_cfg_dir(char* buffer, std::size_t size) {
    copy_text(config_.directory(), buffer, std::min(size, kCfgDirLimit + 1));
}

void Component::log_msg(const std::string& message, int level) {
    log_msg(message.c_str(), level);
}

void Component::log_msg(const char* message, int level) {
    if (level > debug_level_) return;
    std::string line = "<" + name_ + ">: " + message;
    if (line.size() > kLineLimit) line.resize(kLineLimit);
    char buffer[kLogBuffer] = {};
    log_->write(line.c_str(), buffer, sizeof buffer);
    if (auto* log_server = dynamic_cast<LogServerIF*>(get_iclient(logserver_if_)))
        log_server->add_log_msg(buffer);
}

void Component::set_iserver(std::unique_ptr<InterfaceServer> server) {
    server_ = std::move(server);
    if (!server_) throw Exception("Component::set_iserver -- no server given");
    if (server_->open()) return;
    const std::string why =
        "Component::set_iserver -- can't serve " + server_->name() + ": " + server_->open_error();
    server_.reset();
    log_msg(why, 0);
    throw Exception(why);
}

void Component::set_update_rate(double frequency) {
    if (!(frequency >= 0.01 && frequency <= 1000.0)) {
        char value[64];
        std::snprintf(value, sizeof value, "%.2f", frequency);
        throw Exception(std::string("Component::set_update_rate: input out of range (") + value +
                        ")");
    }
    update_period_ = 1.0 / frequency;
}

void Component::load_config(const std::string& file_name, int& status) {
    try {
        int result = 0;
        try {
            result = file_name.empty() ? config_.load_config() : config_.load_config(file_name);
        } catch (...) {
            config_partial_ = true;  // the entries before the damage replaced the old ones
            throw;
        }
        if (result != 0) {
            // Nothing was read: the store holds what it held.
            const std::string& cause = config_.load_failure();
            if (!file_name.empty())
                throw Exception("ConfigurationFile::load_config(): failed, can't load " +
                                file_name + (cause.empty() ? "" : ": " + cause));
            throw Exception("ConfigurationFile::load_config() failed, no file specified");
        }
        config_partial_ = !config_.last_load_complete();
        if (config_partial_)
            log_msg("Component::load_config(): " + config_.file_name() +
                        " was not read to its end; it will not be saved over",
                    0);
        std::int32_t debug = 0;
        config_.get("DEBUG_MODE", debug, 0);
        debug_level_ = debug;
        double frequency = 0.0;
        std::int32_t int_frequency = 0;
        if (config_.get("FREQ", frequency)) {
            set_update_rate(frequency);
        } else if (config_.get("FREQ", int_frequency)) {
            set_update_rate(int_frequency);
        } else {
            throw Exception("No task loop freq specified in CFG file. Add a FREQ = val to config");
        }
        std::string supervisor;
        supervisor_if_ = config_.get("SUPERVISORIF", supervisor) ? supervisor : "";
        std::string logserver;
        if (!config_.get("LOGSERVERIF", logserver)) throw Exception("missing LOGSERVERIF");
        logserver_if_ = logserver;
        status = 0;
    } catch (const Exception& e) {
        // The store's syntax errors arrive here too, with their own message.
        log_msg("Component::load_config() failed: " + e.message(), 0);
        status = -1;
    } catch (...) {
        log_msg("Component::load_config() failed: caught an unknown exception.", 0);
        status = -1;
    }
}

void Component::save_config(const std::string& file_name, int& status) {
    try {
        if (config_partial_)
            throw Exception("the configuration of " + config_.file_name() +
                            " was not read whole; not written");
        if (!config_.set("DEBUG_MODE", static_cast<std::int32_t>(debug_level_)) &&
            debug_level_ != 0)
            throw Exception("DEBUG_MODE");
        config_.set("FREQ", 1.0 / update_period_);
        if (!file_name.empty()) {
            if (config_.save_as(file_name, true) != 0)
                throw Exception("ConfigurationFile.save_as() failed.");
        } else if (config_.save() != 0) {
            throw Exception("ConfigurationFile.save() failed.");
        }
        status = 0;
    } catch (const Exception& e) {
        log_msg("Component::save_config() failed: " + e.message(), 0);
        status = -1;
    } catch (...) {
        log_msg("Component::save_config() failed: caught an unknown exception.", 0);
        status = -1;
    }
}

void Component::delete_config(const std::string& file_name, int& status) {
    try {
        if (config_.delete_config(file_name) != 0)
            throw Exception("ConfigurationFile::delete_config() failed.");
        status = 0;
    } catch (const Exception& e) {
        log_msg("Component::delete_config() failed: " + e.message(), 0);
        status = -1;
    } catch (...) {
        log_msg("Component::delete_config() failed: caught an unknown exception.", 0);
        status = -1;
    }
}

void Component::get_cfg_value(const std::string& key, std::string& out) {
    if (!config_.get(key, out)) throw Exception("cfg file missing " + key + "definition");
}

void Component::get_cfg_value(const std::string& key, double& out) {
    if (!config_.get(key, out)) throw Exception("cfg file missing " + key + "definition");
}

void Component::get_cfg_value(const std::string& key, int& out) {
    std::int32_t value = 0;
    if (!config_.get(key, value)) throw Exception("cfg file missing " + key + "definition");
    out = value;
}

bool Component::initialize() {
    remove_iclient(supervisor_if_);
    remove_iclient(logserver_if_);
    add_iclient(std::make_unique<SupervisorIF>(supervisor_if_));
    add_iclient(std::make_unique<LogServerIF>(logserver_if_));
    log_msg("Component::initialize() completed", 0);
    return true;
}

void Component::add_iclient(std::unique_ptr<ComponentInterface> client) {
    if (!client) throw Exception("Component::add_iclient : tried to add null client");
    // A client that cannot open (its objects refused, or a lock held past its limit) stays closed
    // and answers every call with 6; say why once, here.
    if (!client->open())
        log_msg(
            "Component::add_iclient -- can't open " + client->name() + ": " + client->open_error(),
            0);
    client->set_call_timeout(kClientTimeoutMs);
    const std::string name = client->name();
    clients_[name] = std::move(client);
}

ComponentInterface* Component::get_iclient(const std::string& name) {
    const auto it = clients_.find(name);
    return it == clients_.end() ? nullptr : it->second.get();
}

void Component::remove_iclient(const std::string& name) {
    clients_.erase(name);
}

void Component::begin_main() {
    loop_timer_ = std::make_unique<Timer>();
    loop_timer_->start();
    last_update_ = loop_timer_->elapsed();
}

void Component::set_idle_wait_ms(long milliseconds) {
    idle_wait_ms_ = std::max(milliseconds, kCycleMs);
}

long Component::next_wait_ms() const {
    if (exit_) return 0;  // the loop ends after this cycle
    if (state_ != RUNNING || !loop_timer_) return idle_wait_ms_;
    // Due once strictly more than one period has passed: wake in the first millisecond after.
    // (The nanosecond keeps the rounding of the seconds from moving a whole millisecond.)
    const double left_ms = (last_update_ + update_period_ - loop_timer_->elapsed()) * 1000.0;
    const double wait_ms = std::floor(std::max(left_ms, 0.0) + 1e-6) + 1.0;
    return static_cast<long>(std::clamp(wait_ms, double(kCycleMs), double(idle_wait_ms_)));
}

void Component::end_on_termination_request() {
    // SIGTERM or SIGINT: end as a "kill" request would, after this cycle.
    if (platform::termination_requested()) kill();
}

void Component::run_pending_initialisation() {
    if (!reset_request_) return;
    reset_request_ = false;
    state_ = initialize() ? READY : INIT_FAILED;
}

void Component::run_update_if_due() {
    if (state_ != RUNNING) return;
    // Strictly later than one period; lateness is not caught up.
    const double now = loop_timer_->elapsed();
    if (now - last_update_ > update_period_) {
        last_update_ = now;
        update();
    }
}

void Component::serve_one_request(long wait_ms) {
    if (server_) server_->service(wait_ms);
}

void Component::main_cycle(long wait_limit_ms) {
    end_on_termination_request();
    run_pending_initialisation();
    run_update_if_due();
    serve_one_request(std::min(wait_limit_ms, next_wait_ms()));
    sleep_ms(0);
}

namespace {

// Called from the termination signal's handler.
void wake_server(void* server) noexcept {
    if (server != nullptr) static_cast<InterfaceServer*>(server)->wake();
}

}  // namespace

void Component::main() {
    log_msg("entering Component::main", 0);
    ServiceNotifier service;  // readiness and watchdog, under a service manager only
    try {
        begin_main();
        // The server stays installed while the loop runs, so the wake-up may point at it.
        const platform::TerminationWake wake(wake_server, server_.get());
        while (!exit_) {
            main_cycle(idle_wait_ms_);
            service.cycled(state_name(state_));
        }
    } catch (const Exception& e) {
        log_msg("Component::main Error: " + e.message(), 0);
    } catch (...) {
        log_msg("Component::main, Unhandled Exception", 0);
    }
    service.stopping();
    log_msg("QUITTING MAIN COMPONENT THREAD - INTERFACES NO LONGER SERVICED", 0);
}

}  // namespace vantrel
