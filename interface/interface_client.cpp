#include "interface/interface_client.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <new>
#include <utility>

#include "interface/call_record.h"
#include "platform/exception.h"

namespace vantrel {
namespace {

// Releases the action mutex however the call ends.
class ActionLock {
  public:
    explicit ActionLock(Mutex& mutex) : mutex_(mutex) {}
    ~ActionLock() { mutex_.unlock(); }
    ActionLock(const ActionLock&) = delete;
    ActionLock& operator=(const ActionLock&) = delete;

  private:
    Mutex& mutex_;
};

template <class... Ts>
struct Overloaded : Ts... {
    using Ts::operator()...;
};
template <class... Ts>
Overloaded(Ts...) -> Overloaded<Ts...>;

// The limit of each wait of one two-way call: the shared call time-out for every wait, or what is
// left of the client's own limit. Negative means no limit.
class CallLimit {
  public:
    using Clock = std::chrono::steady_clock;

    explicit CallLimit(std::optional<std::int32_t> own)
        : own_(own), deadline_(Clock::now() + std::chrono::milliseconds(own ? *own : 0)) {}

    std::int32_t next_wait(const ComponentInterface& interface) const {
        if (!own_) return interface.call_timeout();
        if (*own_ < 0) return -1;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - Clock::now());
        return static_cast<std::int32_t>(std::max<std::int64_t>(0, left.count()));
    }

  private:
    std::optional<std::int32_t> own_;
    Clock::time_point deadline_;
};

void check_results(const Operation& op, std::initializer_list<Out> results) {
    bool match = results.size() == op.results.size();
    for (std::size_t i = 0; match && i < results.size(); ++i)
        match = results.begin()[i].type() == op.results[i].type;
    if (!match)
        throw Exception("InterfaceClient -- outputs given for \"" + op.name +
                        "\" do not match its result slots");
}

}  // namespace

WireType Out::type() const {
    return std::visit(
        Overloaded{[](std::int32_t*) { return WireType::integer; },
                   [](bool*) { return WireType::truth; }, [](double*) { return WireType::real; },
                   [](std::string*) { return WireType::text; },
                   [](const Buffer&) { return WireType::text; }},
        target_);
}

void Out::clear() const {
    std::visit(Overloaded{[](std::int32_t* t) { *t = 0; }, [](bool* t) { *t = false; },
                          [](double* t) { *t = 0.0; }, [](std::string* t) { t->clear(); },
                          [](const Buffer& b) {
                              if (b.capacity > 0) b.data[0] = '\0';
                          }},
               target_);
}

void Out::store(const Value& value) const {
    std::visit(Overloaded{[&](std::int32_t* t) { *t = std::get<std::int32_t>(value); },
                          [&](bool* t) { *t = std::get<bool>(value); },
                          [&](double* t) { *t = std::get<double>(value); },
                          [&](std::string* t) { *t = std::get<std::string>(value); },
                          [&](const Buffer& b) {
                              if (b.capacity == 0) return;
                              const std::string& text = std::get<std::string>(value);
                              const std::size_t n = std::min(text.size(), b.capacity - 1);
                              std::memcpy(b.data, text.data(), n);
                              b.data[n] = '\0';
                          }},
               target_);
}

InterfaceClient::InterfaceClient(std::string name) : ComponentInterface(std::move(name)) {}

int InterfaceClient::call_one_way(const Operation& op, std::initializer_list<Value> arguments) {
    if (op.kind != CallKind::one_way)
        throw Exception("InterfaceClient::call_one_way() -- \"" + op.name + "\" is two-way");
    if (!is_open()) return kCallNotOpen;
    RecordBytes record;
    try {
        record = encode_call(op, {arguments.begin(), arguments.size()});
    } catch (const std::bad_alloc&) {
        return kCallNoRecord;
    }
    if (!queue()->push(record)) return kCallQueueFull;
    start_signal()->release();  // at its maximum the server still finds the record (service)
    return kCallDone;
}

int InterfaceClient::call_two_way(const Operation& op, std::initializer_list<Value> arguments,
                                  std::initializer_list<Out> results) {
    for (const Out& out : results) out.clear();
    if (op.kind != CallKind::two_way)
        throw Exception("InterfaceClient::call_two_way() -- \"" + op.name + "\" is one-way");
    check_results(op, results);
    if (!is_open()) return kCallNotOpen;
    // The segment was created by a class with fewer slots: this operation cannot answer here.
    if (!slots_fit(op)) return kCallNotOpen;

    RecordBytes record;
    try {
        record = encode_call(op, {arguments.begin(), arguments.size()});
    } catch (const std::bad_alloc&) {
        return kCallNoRecord;
    }

    // A negative time-out waits without limit, for the mutex and for the completion alike.
    const CallLimit limit(own_timeout_);
    const std::int32_t mutex_timeout = limit.next_wait(*this);
    const bool obtained =
        mutex_timeout < 0 ? action_mutex()->lock() : action_mutex()->try_lock(mutex_timeout);
    if (!obtained) return kCallMutexTimeout;
    ActionLock hold(*action_mutex());

    const std::int32_t id = next_call_id();
    put_int32(record.data() + op.call_id_offset(), id);
    // A completion left by a caller that gave up must not be taken for ours.
    while (done_signal()->wait(0)) {
    }
    if (!queue()->push(record)) return kCallQueueFull;
    start_signal()->release();

    const std::int32_t done_timeout = limit.next_wait(*this);
    if (!done_signal()->wait(done_timeout < 0 ? -1 : done_timeout)) return kCallNoCompletion;
    if (completed_call_id() != id) return kCallOtherCompletion;
    for (std::size_t i = 0; i < results.size(); ++i) {
        const auto value = read_slot(op.results[i]);
        if (!value) {
            // The properties lock was held past its limit: no result is reported as read.
            for (const Out& out : results) out.clear();
            return kCallNotOpen;
        }
        results.begin()[i].store(*value);
    }
    return kCallDone;
}

}  // namespace vantrel
