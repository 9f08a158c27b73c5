#include "interface/interface_server.h"

#include <algorithm>
#include <utility>

#include "platform/exception.h"

namespace vantrel {

InterfaceServer::InterfaceServer(std::string name)
    : ComponentInterface(std::move(name)),
      server_mark_(std::make_unique<Semaphore>(this->name() + "unique", 0, 1)) {}

InterfaceServer::~InterfaceServer() {
    // Wakes a caller that may still wait for a completion that will now never come. Only the
    // server does this: a caller that wakes from it finds a completed call id not its own.
    if (is_open()) done_signal()->release();
    server_mark_.reset();
}

bool InterfaceServer::open() {
    if (is_open()) return true;
    if (!ComponentInterface::open()) return false;
    try {
        discarded_at_open_ = 0;
        while (queue()->pop()) ++discarded_at_open_;
        done_signal()->release();
    } catch (const std::exception& e) {
        mark_closed(std::string("InterfaceServer::open() failed: ") + e.what());
        return false;
    }
    return is_open();
}

void InterfaceServer::service(long max_wait_ms) {
    if (!is_open()) return;
    // Records beyond the hundredth got no signal of their own: while any record is queued, take a
    // signal if one is there but do not wait for it.
    const bool pending = queue()->pending() > 0;
    start_signal()->wait(pending ? 0 : std::max(0L, max_wait_ms));
    auto bytes = queue()->pop();
    if (!bytes) return;
    ++dispatched_;
    dispatch(CallRecord(std::move(*bytes)));
}

void InterfaceServer::wake() noexcept {
    // Not open: no signal, nothing to wake.
    if (Semaphore* signal = start_signal()) signal->release();
}

const Operation* InterfaceServer::operation_of(const CallRecord& record) const {
    if (record.size() < kRecordHeaderSize) return nullptr;
    return layout().find(record.code());
}

std::optional<Arguments> InterfaceServer::accept(const CallRecord& record, const Operation& op) {
    if (std::string why = record.check(op); !why.empty()) {
        reject(record, why);
        return std::nullopt;
    }
    if (!slots_fit(op)) {
        reject(record, "result slots of \"" + op.name + "\" lie outside " + name() +
                           "_properties (" + std::to_string(mapped_properties_size()) + " bytes)");
        return std::nullopt;
    }
    return record.decode(op);
}

void InterfaceServer::complete(const Operation& op, const Arguments& args,
                               std::initializer_list<Value> results) {
    if (op.kind != CallKind::two_way || results.size() != op.results.size())
        throw Exception("InterfaceServer::complete() -- \"" + op.name +
                        "\" is not a two-way operation with " + std::to_string(results.size()) +
                        " results");
    for (std::size_t i = 0; i < results.size(); ++i) {
        if (type_of(results.begin()[i]) != op.results[i].type)
            throw Exception("InterfaceServer::complete() -- result " + std::to_string(i) +
                            " of \"" + op.name + "\" is not a " + to_string(op.results[i].type));
    }
    for (std::size_t i = 0; i < results.size(); ++i) write_slot(op.results[i], results.begin()[i]);
    set_completed_call_id(args.call_id());
    done_signal()->release();
}

void InterfaceServer::reject(const CallRecord& record, const std::string& reason) {
    ++rejected_;
    on_rejected(record, reason);
}

void InterfaceServer::on_rejected(const CallRecord&, const std::string&) {}

}  // namespace vantrel
