#include "interface/shared_segment.h"

#include <cstring>

#include "platform/exception.h"

namespace vantrel {

SharedSegment::SharedSegment(const std::string& name, std::size_t size, bool read_only,
                             const Initialiser& init, long open_limit_ms)
    : SharedSegment(name, size, read_only, init, platform::Deadline::after_ms(open_limit_ms)) {}

SharedSegment::SharedSegment(const std::string& name, std::size_t size, bool read_only,
                             const Initialiser& init, const platform::Deadline& deadline)
    : lock_(name + "mutex", false, deadline.left_ms()),
      name_(name),
      requested_size_(size),
      read_only_(read_only) {
    // The platform's errors already name the object's file and the cause: passed on without a
    // prefix of ours, so that they fit in a log line.
    if (!lock_.valid()) throw Exception(lock_.error());
    try {
        mapping_ = std::make_unique<platform::NamedObject>(
            platform::ObjectKind::shared_memory, name, size, platform::OpenMode::create_or_open,
            init, deadline.left_ms());
    } catch (const std::exception& e) {
        throw Exception(e.what());
    }
    view_ = static_cast<std::uint8_t*>(mapping_->data());
    size_ = mapping_->size();
    created_ = mapping_->created();
}

SharedSegment::~SharedSegment() = default;

bool SharedSegment::read(std::size_t offset, void* out, std::size_t n) {
    if (!fits(offset, n)) return false;
    MutexLock hold(lock_);
    return read_unlocked(offset, out, n);
}

bool SharedSegment::write(std::size_t offset, const void* in, std::size_t n) {
    if (read_only_ || !fits(offset, n)) return false;
    MutexLock hold(lock_);
    return write_unlocked(offset, in, n);
}

bool SharedSegment::read_unlocked(std::size_t offset, void* out, std::size_t n) const {
    if (!fits(offset, n)) return false;
    if (n > 0) std::memcpy(out, view_ + offset, n);
    return true;
}

bool SharedSegment::write_unlocked(std::size_t offset, const void* in, std::size_t n) {
    if (read_only_ || !fits(offset, n)) return false;
    if (n > 0) std::memcpy(view_ + offset, in, n);
    return true;
}

std::atomic_ref<std::int32_t> SharedSegment::field(std::size_t offset) const {
    return std::atomic_ref<std::int32_t>(*reinterpret_cast<std::int32_t*>(view_ + offset));
}

std::int32_t SharedSegment::load_int32(std::size_t offset) const {
    if (!fits(offset, 4) || offset % 4 != 0) return 0;
    return field(offset).load();
}

void SharedSegment::store_int32(std::size_t offset, std::int32_t value) {
    if (read_only_ || !fits(offset, 4) || offset % 4 != 0) return;
    field(offset).store(value);
}

std::int32_t SharedSegment::fetch_add_int32(std::size_t offset, std::int32_t delta) {
    if (read_only_ || !fits(offset, 4) || offset % 4 != 0) return 0;
    return field(offset).fetch_add(delta);
}

}  // namespace vantrel
