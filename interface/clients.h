#pragma once
// The client classes of the system's component kinds: one stub per operation a caller in this
// system may want, each returning the call result (0 done, 1 to 6 the failures of the protocol).
// Outputs are zeroed first and stay zero on failure.
//
// Thread safety: one client object is used by one thread at a time.

#include <cstdint>
#include <string>

#include "interface/interface_client.h"
#include "interface/operation_tables.h"

namespace vantrel {

// Codes 0 to 11 of every component (properties size 12316).
class ComponentIF : public InterfaceClient {
  public:
    explicit ComponentIF(std::string name);

    int run();
    int stop();
    int reset();
    int kill();
    int get_name(std::string& name);
    int get_state(std::int32_t& state);
    int save_config(const std::string& file, std::int32_t& status);
    int delete_config(const std::string& file, std::int32_t& status);
    int load_config(const std::string& file, std::int32_t& status);
    int log_msg(const std::string& message, std::int32_t level);
    int get_component_version(std::string& version);
    int get_cfg_dir(std::string& directory);

    const ComponentOperations& component_operations() const { return common_; }

  private:
    ComponentOperations common_;
};

// The motion-board manager (properties size 12336).
class NI7344IF : public ComponentIF {
  public:
    explicit NI7344IF(std::string name);
    int get_ID(std::int32_t& id);

  private:
    BoardManagerOperations ops_;
};

// The column selector (properties size 16464).
class VantrelIF : public ComponentIF {
  public:
    explicit VantrelIF(std::string name);

    int device_present(bool& present);
    int get_capacity(std::int32_t& capacity);
    int get_current_column(std::int32_t& column);
    int set_current_column(std::int32_t column);
    int get_column_type(std::int32_t column, std::string& type);
    int set_column_type(std::int32_t column, const std::string& type);
    int get_sample_count(std::int32_t column, std::int32_t& count);
    int get_sample_limit(std::int32_t& limit);
    int get_auto_column_switch(bool& on);
    int set_auto_column_switch(std::int32_t value);
    int get_pres_limits(double& p1, double& p3);
    int set_pres_limits(double p1, double p3);
    int increment_sample_count();
    int reset_sample_count(std::int32_t column);
    int set_sample_count(std::int32_t column, std::int32_t count);
    int home();
    int homed(bool& homed);
    int is_busy(bool& busy);
    int get_rotor_position(std::int32_t& position);

    const VantrelOperations& selector_operations() const { return ops_; }

  private:
    VantrelOperations ops_;
};

// The sipper (properties size 20584); its inhibit state is the kill switch.
class SipperIF : public ComponentIF {
  public:
    explicit SipperIF(std::string name);
    int get_inhibit_state(std::int32_t& state);
    // Trips and clears the kill switch.
    int emergency();
    int reset_error_state();

  private:
    SipperOperations ops_;
};

// The log server (properties size 16412).
class LogServerIF : public ComponentIF {
  public:
    explicit LogServerIF(std::string name);
    int add_log_msg(const std::string& message);

  private:
    LogServerOperations ops_;
};

// The supervisor (properties size 12316).
class SupervisorIF : public ComponentIF {
  public:
    explicit SupervisorIF(std::string name);

  private:
    SupervisorOperations ops_;
};

}  // namespace vantrel
