#include "selector/vantrel_ifs.h"

#include "selector/vantrel.h"

namespace vantrel {

VantrelIFS::VantrelIFS(std::string name, Vantrel* selector)
    : ComponentIFS(std::move(name), selector), selector_(selector) {
    ops_ = add_vantrel_operations(layout());
    set_queue_size(kQueueSize);
}

void VantrelIFS::dispatch(const CallRecord& record) {
    const std::uint16_t code = record.code();
    if (code < ops_.device_present.code || code > ops_.get_rotor_position.code) {
        ComponentIFS::dispatch(record);
        return;
    }
    const Operation* op = operation_of(record);
    const std::optional<Arguments> args = op ? accept(record, *op) : std::optional<Arguments>{};
    if (!args) return;
    const Arguments& a = *args;
    Vantrel& v = *selector_;
    switch (code) {
        case 12:
            complete(*op, a, {v.device_present() != 0});
            break;
        case 13:
            complete(*op, a, {static_cast<std::int32_t>(v.get_capacity())});
            break;
        case 14:
            complete(*op, a, {static_cast<std::int32_t>(v.get_current_column())});
            break;
        case 15:
            v.set_current_column(a.integer(0));
            break;
        case 16: {
            char type[kTextFieldSize] = {};
            v.get_column_type(a.integer(0), type, sizeof type);
            complete(*op, a, {std::string(type)});
            break;
        }
        case 17:
            v.set_column_type(a.integer(0), a.text(1));
            break;
        case 18:
            complete(*op, a, {static_cast<std::int32_t>(v.get_sample_count(a.integer(0)))});
            break;
        case 19:
            complete(*op, a, {static_cast<std::int32_t>(v.get_sample_limit())});
            break;
        case 20:
            complete(*op, a, {v.get_auto_column_switch() != 0});
            break;
        case 21:
            v.set_auto_column_switch(a.integer(0));
            break;
        case 22: {
            double p1 = 0.0, p3 = 0.0;
            v.get_pres_limits(p1, p3);
            complete(*op, a, {p1, p3});
            break;
        }
        case 23:
            v.set_pres_limits(a.real(0), a.real(1));
            break;
        case 24:
            v.increment_sample_count();
            break;
        case 25:
            v.reset_sample_count(a.integer(0));
            break;
        case 26:
            v.set_sample_count(a.integer(0), a.integer(1));
            break;
        case 27:
            v.home();
            break;
        case 28:
            complete(*op, a, {v.homed() != 0});
            break;
        case 29:
            complete(*op, a, {v.is_busy() != 0});
            break;
        case 30:
            complete(*op, a, {static_cast<std::int32_t>(v.get_rotor_position())});
            break;
        default:
            break;
    }
}

}  // namespace vantrel
