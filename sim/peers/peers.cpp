#include "sim/peers/peers.h"

#include "platform/exception.h"

namespace vantrel::sim {
namespace {

// Loads the configuration or fails the construction with the file name.
void load_or_throw(Component& component, const std::string& config_file) {
    int status = 0;
    component.load_config(config_file, status);
    if (status != 0) throw Exception("failed to load config file " + config_file);
}

class BoardManagerIFS : public ComponentIFS {
  public:
    BoardManagerIFS(std::string name, BoardManager* manager)
        : ComponentIFS(std::move(name), manager), manager_(manager) {
        ops_ = add_board_manager_operations(layout());
    }

  protected:
    void dispatch(const CallRecord& record) override {
        if (record.code() != ops_.get_ID.code) return ComponentIFS::dispatch(record);
        if (const auto args = accept(record, ops_.get_ID))
            complete(ops_.get_ID, *args, {static_cast<std::int32_t>(manager_->board_id())});
    }

  private:
    BoardManager* manager_;
    BoardManagerOperations ops_;
};

class SipperIFS : public ComponentIFS {
  public:
    SipperIFS(std::string name, Sipper* sipper)
        : ComponentIFS(std::move(name), sipper), sipper_(sipper) {
        ops_ = add_sipper_operations(layout());
    }

  protected:
    void dispatch(const CallRecord& record) override {
        const auto code = record.code();
        if (code == ops_.get_inhibit_state.code) {
            if (const auto args = accept(record, ops_.get_inhibit_state)) {
                sipper_->polled();
                complete(ops_.get_inhibit_state, *args,
                         {static_cast<std::int32_t>(sipper_->inhibit_state())});
            }
        } else if (code == ops_.emergency.code) {
            if (accept(record, ops_.emergency)) sipper_->set_inhibit_state(1);
        } else if (code == ops_.reset_error_state.code) {
            if (accept(record, ops_.reset_error_state)) sipper_->set_inhibit_state(0);
        } else {
            ComponentIFS::dispatch(record);
        }
    }

  private:
    Sipper* sipper_;
    SipperOperations ops_;
};

class LogServerIFS : public ComponentIFS {
  public:
    LogServerIFS(std::string name, LogServer* server)
        : ComponentIFS(std::move(name), server), server_(server) {
        ops_ = add_log_server_operations(layout());
    }

  protected:
    void dispatch(const CallRecord& record) override {
        if (record.code() != ops_.add_log_msg.code) return ComponentIFS::dispatch(record);
        if (const auto args = accept(record, ops_.add_log_msg)) server_->add_log_msg(args->text(0));
    }

  private:
    LogServer* server_;
    LogServerOperations ops_;
};

class SupervisorIFS : public ComponentIFS {
  public:
    SupervisorIFS(std::string name, Supervisor* supervisor)
        : ComponentIFS(std::move(name), supervisor) {
        add_supervisor_operations(layout());
    }
};

}  // namespace

BoardManager::BoardManager(const std::string& name, const std::string& log_file,
                           const std::string& config_file)
    : Component(name, log_file, config_file) {
    load_or_throw(*this, config_file);
    get_cfg_value("BOARD_ID", board_id_);
    board_ = open_board(board_id_);
    double reference = 0.0;
    std::int32_t whole = 0;
    // Written as a real or as an integer: both are a place in counts.
    if (config().get("REFERENCE_POSITION", reference))
        board_->set_reference_position(4, reference);
    else if (config().get("REFERENCE_POSITION", whole))
        board_->set_reference_position(4, whole);
    log_msg("board " + std::to_string(board_id_) + (board_->created() ? " created" : " opened"), 0);
    set_iserver(std::make_unique<BoardManagerIFS>(name, this));
}

Sipper::Sipper(const std::string& name, const std::string& log_file, const std::string& config_file)
    : Component(name, log_file, config_file) {
    load_or_throw(*this, config_file);
    set_iserver(std::make_unique<SipperIFS>(name, this));
}

void Sipper::set_inhibit_state(int state) {
    inhibit_ = state;
    log_msg(state != 0 ? "kill switch tripped" : "kill switch cleared", 0);
}

LogServer::LogServer(const std::string& name, const std::string& log_file,
                     const std::string& config_file)
    : Component(name, log_file, config_file) {
    load_or_throw(*this, config_file);
    set_iserver(std::make_unique<LogServerIFS>(name, this));
}

bool LogServer::initialize() {
    const bool result = Component::initialize();
    if (logserver_if_ == name_) remove_iclient(logserver_if_);
    return result;
}

void LogServer::add_log_msg(const std::string& message) {
    log_->write_plain(message);
}

Supervisor::Supervisor(const std::string& name, const std::string& log_file,
                       const std::string& config_file)
    : Component(name, log_file, config_file) {
    load_or_throw(*this, config_file);
    set_iserver(std::make_unique<SupervisorIFS>(name, this));
}

}  // namespace vantrel::sim
