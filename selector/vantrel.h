#pragma once
// Vantrel: the column selector component. It owns the settings record, the column statistics
// file, the motion task and a rotor board object of its own for position queries. Its operations
// answer from state at once; motion requests are handed to the task, and clients poll is_busy,
// homed and get_current_column for the outcome.
//
// Thread safety: every operation runs on the component's main thread; the motion task shares only
// the settings record (its own lock) and the boards (their named locks).

#include <memory>
#include <string>

#include "component/component.h"
#include "motion/pci7344.h"
#include "selector/column_stats.h"
#include "selector/vantrel_params.h"
#include "selector/vantrel_task.h"

namespace vantrel {

class Vantrel : public Component {
  public:
    // Loads the configuration (throws Exception "Vantrel Constructor -- Failed to load config
    // file <name>" when that fails) and installs the selector's interface server.
    Vantrel(const std::string& interface_name, const std::string& log_file,
            const std::string& config_file);
    ~Vantrel() override;

    void load_config(const std::string& file_name, int& status) override;
    bool initialize() override;
    void update() override {}

    int device_present();
    int get_capacity();
    int get_current_column();
    void set_current_column(int index);
    // At most 249 characters and the NUL go into the buffer.
    void get_column_type(int index, char* buffer, std::size_t size);
    void set_column_type(int index, const std::string& type);
    int get_sample_count(int index);
    int get_sample_limit();
    int get_auto_column_switch();
    void set_auto_column_switch(int value);
    void get_pres_limits(double& p1, double& p3);
    void set_pres_limits(double p1, double p3);
    void increment_sample_count();
    void reset_sample_count(int index);
    void set_sample_count(int index, int count);
    void home();
    int homed();
    int is_busy();
    int get_rotor_position();

    VantrelParams& params() { return params_; }
    VantrelTask* task() { return task_.get(); }

  private:
    bool present() { return params_.device_present(); }
    bool initialised() const { return state() != UNINITIALIZED; }
    void get_position_from_config(int index);
    void write_stats();
    void store_sample_count(int index, int count, const char* operation,
                            const char* not_initialised);

    std::unique_ptr<Pci7344> rotor_board_;
    VantrelParams params_;
    ColumnStats stats_;
    std::unique_ptr<VantrelTask> task_;
};

}  // namespace vantrel
