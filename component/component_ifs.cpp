#include "component/component_ifs.h"

#include "component/component.h"

namespace vantrel {
namespace {

std::string buffer_text(const char* buffer) {
    return std::string(buffer);
}

}  // namespace

ComponentIFS::ComponentIFS(std::string name, Component* component)
    : InterfaceServer(std::move(name)), component_(component) {
    ops_ = add_component_operations(layout());
    set_queue_size(kQueueSize);
}

void ComponentIFS::on_rejected(const CallRecord& record, const std::string& reason) {
    component_->log_msg("interface " + this->name() + ": call record with code " +
                            std::to_string(record.code()) + " refused: " + reason,
                        0);
}

void ComponentIFS::dispatch(const CallRecord& record) {
    const Operation* op = operation_of(record);
    if (op == nullptr) {
        // Nobody in the chain knows this code: no call, no completion; the caller times out.
        reject(record, "unknown operation code");
        return;
    }
    const auto args = accept(record, *op);
    if (!args) return;
    const Arguments& a = *args;
    char text[kTextFieldSize] = {};
    std::int32_t value = 0;
    switch (op->code) {
        case 0:
            component_->run();
            break;
        case 1:
            component_->stop();
            break;
        case 2:
            component_->reset();
            break;
        case 3:
            component_->kill();
            break;
        case 4:
            component_->get_name(text, sizeof text);
            complete(*op, a, {buffer_text(text)});
            break;
        case 5: {
            int state = 0;
            component_->get_state(state);
            complete(*op, a, {static_cast<std::int32_t>(state)});
            break;
        }
        case 6: {
            int status = 0;
            component_->save_config(a.text(0), status);
            value = status;
            complete(*op, a, {value});
            break;
        }
        case 7: {
            int status = 0;
            component_->delete_config(a.text(0), status);
            value = status;
            complete(*op, a, {value});
            break;
        }
        case 8: {
            int status = 0;
            component_->load_config(a.text(0), status);
            value = status;
            complete(*op, a, {value});
            break;
        }
        case 9:
            component_->log_msg(a.text(0), a.integer(1));
            break;
        case 10:
            component_->get_component_version(text, sizeof text);
            complete(*op, a, {buffer_text(text)});
            break;
        case 11:
            component_->get_cfg_dir(text, sizeof text);
            complete(*op, a, {buffer_text(text)});
            break;
        default:
            reject(record, "unknown operation code");
            break;
    }
}

}  // namespace vantrel
