#pragma once
// Component: the base of every component process. It holds the component's identity (its
// interface name), its life-cycle state, its update rate, its local log, its configuration store,
// its clients of other components' interfaces and its own interface server, and runs the main
// loop on the process's initial thread: a pending initialisation, the periodic update while
// RUNNING, and one served request per cycle.
//
// Thread safety: everything runs on the main thread, except log_msg, which may also be called
// from other threads as long as the client list does not change meanwhile.

#include <atomic>
#include <cstddef>
#include <map>
#include <memory>
#include <string>

#include "config/configuration_file.h"
#include "framework/syslog.h"
#include "framework/timer.h"

namespace vantrel {

class ComponentInterface;
class InterfaceServer;

class Component {
  public:
    enum State : int { UNINITIALIZED = 0, READY = 1, RUNNING = 2, INIT_FAILED = 3 };

    // Opens the log (emptying an older file; throws its Exception) and takes the version.
    Component(const std::string& interface_name, const std::string& log_file,
              const std::string& config_file);
    virtual ~Component();

    Component(const Component&) = delete;
    Component& operator=(const Component&) = delete;

    virtual void run();
    virtual void stop();
    virtual void reset();
    virtual void kill();
    virtual void get_state(int& state);
    // Copies the interface name and its NUL, cut to fit `size` bytes.
    virtual void get_name(char* buffer, std::size_t size);
    virtual void load_config(const std::string& file_name, int& status);
    virtual void save_config(const std::string& file_name, int& status);
    virtual void delete_config(const std::string& file_name, int& status);
    virtual void get_component_version(char* buffer, std::size_t size);
    virtual void log_msg(const std::string& message, int level);
    virtual void log_msg(const char* message, int level);
    virtual bool initialize();
    // Destroys the server held so far, keeps the new one and opens it. A component that cannot
    // serve must not start: when the server cannot open, the cause is logged and thrown as
    // Exception (and no server is kept).
    virtual void set_iserver(std::unique_ptr<InterfaceServer> server);
    virtual void update() = 0;
    // Typed configuration lookups: throw Exception("cfg file missing <key>definition").
    virtual void get_cfg_value(const std::string& key, std::string& out);
    virtual void get_cfg_value(const std::string& key, double& out);
    virtual void get_cfg_value(const std::string& key, int& out);

    // How long one cycle of the loop may wait for a record: at least one cycle of 10 ms, at most
    // the idle bound (1 s unless set_idle_wait_ms says otherwise), so that whatever the loop does
    // once per cycle still happens at least once a second.
    static constexpr long kCycleMs = 10;
    static constexpr long kIdleWaitMs = 1000;

    // Runs the main loop until kill (or an exception ends it). Each cycle waits for a record as
    // long as nothing else can be due: while not RUNNING up to the idle bound, while RUNNING until
    // the next update is due. A record, "kill" or a termination signal ends the wait at once.
    void main();
    // The loop in steps, for tests that drive it cycle by cycle: begin_main starts the loop's
    // timer, main_cycle runs one cycle, waiting for a record at most `wait_limit_ms` (by default
    // one cycle, so that a test on the virtual clock does not sit in real waits). Both throw what
    // the loop would end on.
    void begin_main();
    void main_cycle(long wait_limit_ms = kCycleMs);
    // How long the loop would now wait for a record: none once the loop is to end after this
    // cycle ("kill", a termination signal); the idle bound while not RUNNING; while
    // RUNNING until just past the moment the next update is due, but no less than one cycle and
    // no more than the idle bound.
    long next_wait_ms() const;
    // The directory of the configuration file, cut to fit `size` bytes (at most 249 characters).
    void get_cfg_dir(char* buffer, std::size_t size);
    // Opens the client, sets its call time-out to 1000 ms and keeps it under its interface name.
    void add_iclient(std::unique_ptr<ComponentInterface> client);
    ComponentInterface* get_iclient(const std::string& name);
    void remove_iclient(const std::string& name);

    const std::string& name() const { return name_; }
    int state() const { return state_; }
    double update_period() const { return update_period_; }
    int debug_level() const { return debug_level_; }
    ConfigurationFile& config() { return config_; }
    InterfaceServer* server() { return server_.get(); }
    bool exit_requested() const { return exit_.load(); }

    // The product version compiled into the program.
    static std::string product_version();

  protected:
    // Checks and applies an update rate in updates per second.
    void set_update_rate(double frequency);
    // The idle bound of the loop's wait, at least one cycle.
    void set_idle_wait_ms(long milliseconds);

    // The steps of one cycle of the loop, in order.
    void end_on_termination_request();
    void run_pending_initialisation();
    void run_update_if_due();
    void serve_one_request(long wait_ms);

    std::string name_;
    std::atomic<bool> exit_{false};
    double update_period_ = 10.0;
    std::unique_ptr<Syslog> log_;
    ConfigurationFile config_;
    std::map<std::string, std::unique_ptr<ComponentInterface>> clients_;
    std::unique_ptr<InterfaceServer> server_;
    bool reset_request_ = false;
    int debug_level_ = 0;
    int state_ = UNINITIALIZED;
    std::string supervisor_if_;
    std::string logserver_if_;
    std::string version_;
    std::unique_ptr<Timer> loop_timer_;
    double last_update_ = 0.0;
    long idle_wait_ms_ = kIdleWaitMs;
    // The store holds only part of its file: the last load stopped at damage in it. Saving then
    // would lose the rest of the file, so save_config refuses until a load reads a file whole.
    bool config_partial_ = false;
};

}  // namespace vantrel
