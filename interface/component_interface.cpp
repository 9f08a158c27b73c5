#include "interface/component_interface.h"

#include <cstring>
#include <utility>

#include "platform/exception.h"

namespace vantrel {
namespace {

void write_fresh_properties(void* payload, std::size_t size) {
    if (size < kPropertiesHeaderSize) return;
    const std::int32_t timeout = ComponentInterface::kDefaultCallTimeoutMs;
    std::memcpy(static_cast<std::uint8_t*>(payload) + ComponentInterface::kCallTimeoutOffset,
                &timeout, sizeof timeout);
}

}  // namespace

const char* describe_call_result(int result) {
    switch (result) {
        case kCallDone:
            return "done";
        case kCallNoRecord:
            return "the record could not be built";
        case kCallMutexTimeout:
            return "the action mutex was not obtained in time";
        case kCallQueueFull:
            return "the command queue is full";
        case kCallNoCompletion:
            return "no completion within the call time-out";
        case kCallOtherCompletion:
            return "a completion came for another call";
        case kCallNotOpen:
            return "the interface is not open";
    }
    return "unknown call result";
}

ComponentInterface::ComponentInterface(std::string name) : name_(std::move(name)) {}

ComponentInterface::~ComponentInterface() {
    // No release of the done signal here: a client going away (a process ending, say) would wake
    // some other process's caller with a completion that is not its own (InterfaceServer).
    close_objects();
    layout_.clear();
}

bool ComponentInterface::open() {
    if (open_) return true;
    const auto deadline = platform::Deadline::after_ms(open_limit_ms_);
    try {
        // A fresh segment gets its time-out before any other process can read it.
        properties_ =
            std::make_unique<SharedSegment>(name_ + "_properties", properties_size(), false,
                                            write_fresh_properties, deadline.left_ms());
        if (properties_->size() < kPropertiesHeaderSize)
            throw Exception(name_ + "_properties exists with " +
                            std::to_string(properties_->size()) + " bytes, too small for a header");
        queue_ = std::make_unique<CommandQueue>(name_ + "_cmdQ", queue_size_, deadline.left_ms());
        start_signal_ = std::make_unique<Semaphore>(name_ + "_action_start_signal", 0,
                                                    kStartSignalMaximum, deadline.left_ms());
        if (!start_signal_->valid()) throw Exception(start_signal_->error());
        done_signal_ =
            std::make_unique<Semaphore>(name_ + "_action_done_signal", 0, 1, deadline.left_ms());
        if (!done_signal_->valid()) throw Exception(done_signal_->error());
        action_mutex_ = std::make_unique<Mutex>(name_ + "_action_mutex", false, deadline.left_ms());
        if (!action_mutex_->valid()) throw Exception(action_mutex_->error());
    } catch (const std::exception& e) {
        close_objects();
        open_error_ = std::string("ComponentInterface::open() failed: ") + e.what();
        return false;
    }
    open_error_.clear();
    open_ = true;
    return true;
}

void ComponentInterface::mark_closed(const std::string& why) {
    close_objects();
    open_error_ = why;
}

void ComponentInterface::close_objects() {
    open_ = false;
    action_mutex_.reset();
    done_signal_.reset();
    start_signal_.reset();
    queue_.reset();
    properties_.reset();
}

std::int32_t ComponentInterface::next_call_id() {
    if (!properties_) return 0;
    return properties_->fetch_add_int32(kCallCounterOffset, 1) + 1;
}

std::int32_t ComponentInterface::completed_call_id() const {
    return properties_ ? properties_->load_int32(kCompletedCallIdOffset) : 0;
}

void ComponentInterface::set_completed_call_id(std::int32_t id) {
    if (properties_) properties_->store_int32(kCompletedCallIdOffset, id);
}

std::int32_t ComponentInterface::call_timeout() const {
    return properties_ ? properties_->load_int32(kCallTimeoutOffset) : 0;
}

void ComponentInterface::set_call_timeout(std::int32_t milliseconds) {
    if (properties_) properties_->store_int32(kCallTimeoutOffset, milliseconds);
}

std::size_t ComponentInterface::mapped_properties_size() const {
    return properties_ ? properties_->size() : 0;
}

bool ComponentInterface::slots_fit(const Operation& op) const {
    return op.results_end() <= mapped_properties_size();
}

bool ComponentInterface::write_slot(const Slot& slot, const Value& value) {
    if (!properties_ || type_of(value) != slot.type || !properties_->fits(slot.offset, slot.size()))
        return false;
    if (slot.type == WireType::text) {
        const std::string_view text = cut_text(std::get<std::string>(value));
        // The characters and their NUL only: the rest of the slot keeps what it held.
        std::string with_nul(text);
        with_nul.push_back('\0');
        return properties_->write(slot.offset, with_nul.data(), with_nul.size());
    }
    std::uint8_t bytes[kRealSize];
    put_value(bytes, slot.type, value);
    return properties_->write(slot.offset, bytes, slot.size());
}

std::optional<Value> ComponentInterface::read_slot(const Slot& slot) {
    if (!properties_ || !properties_->fits(slot.offset, slot.size())) return std::nullopt;
    std::string bytes(slot.size(), '\0');
    if (!properties_->read(slot.offset, bytes.data(), bytes.size())) return std::nullopt;
    return get_value(reinterpret_cast<const std::uint8_t*>(bytes.data()), slot.type);
}

}  // namespace vantrel
