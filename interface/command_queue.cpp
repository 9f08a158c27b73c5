#include "interface/command_queue.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "interface/value.h"
#include "platform/exception.h"

namespace vantrel {

struct CommandQueue::Header {
    std::int32_t size, count, read, write;
};
static_assert(sizeof(std::int32_t) * 4 == kQueueHeaderSize);

namespace {

// The smallest ring that holds one record header; anything above what a 32-bit offset can say is
// out too.
constexpr std::size_t kMinQueueSize = kQueueHeaderSize + kRecordHeaderSize;
constexpr std::size_t kMaxQueueSize = std::numeric_limits<std::int32_t>::max();

std::size_t checked_size(const std::string& name, std::size_t size) {
    if (size < kMinQueueSize || size > kMaxQueueSize)
        throw Exception("CommandQueue::CommandQueue() -- size " + std::to_string(size) + " of " +
                        name + " cannot hold a ring");
    return size;
}

void write_fresh_header(void* payload, std::size_t size) {
    const std::int32_t fields[4] = {static_cast<std::int32_t>(size), 0,
                                    static_cast<std::int32_t>(kQueueHeaderSize),
                                    static_cast<std::int32_t>(kQueueHeaderSize)};
    std::memcpy(payload, fields, sizeof fields);
}

}  // namespace

CommandQueue::CommandQueue(const std::string& name, std::size_t size, long open_limit_ms)
    // The header is written before any other process can see the segment.
    : SharedSegment(name, checked_size(name, size), false, write_fresh_header, open_limit_ms) {
    if (this->size() < kMinQueueSize || this->size() > kMaxQueueSize)
        throw Exception("CommandQueue::CommandQueue() -- " + name + " exists with size " +
                        std::to_string(this->size()) + ", which cannot hold a ring");
}

CommandQueue::Header CommandQueue::read_header() const {
    Header h;
    std::memcpy(&h, view(), sizeof h);
    return h;
}

void CommandQueue::write_header(const Header& h) {
    std::memcpy(view(), &h, sizeof h);
}

std::optional<std::size_t> CommandQueue::used_bytes(const Header& h) const {
    const auto end = static_cast<std::int64_t>(size());
    const auto start = static_cast<std::int64_t>(kQueueHeaderSize);
    if (h.size != end || h.count < 0 || h.read < start || h.read >= end || h.write < start ||
        h.write >= end)
        return std::nullopt;
    const std::int64_t ring = end - start;
    std::int64_t used;
    if (h.read == h.write)
        used = h.count == 0 ? 0 : ring;
    else if (h.write > h.read)
        used = h.write - h.read;
    else
        used = ring - (h.read - h.write);
    // Every record holds at least its header, and a non-empty ring holds at least one record.
    if (static_cast<std::int64_t>(h.count) * static_cast<std::int64_t>(kRecordHeaderSize) > used)
        return std::nullopt;
    if (h.count == 0 && used != 0) return std::nullopt;
    return static_cast<std::size_t>(used);
}

std::size_t CommandQueue::advance(std::size_t offset, std::size_t n) const {
    std::size_t next = offset + n;
    if (next >= size()) next = kQueueHeaderSize + (next - size());
    return next;
}

void CommandQueue::copy_in(std::size_t offset, const std::uint8_t* from, std::size_t n) {
    const std::size_t first = std::min(n, size() - offset);
    std::memcpy(view() + offset, from, first);
    std::memcpy(view() + kQueueHeaderSize, from + first, n - first);
}

void CommandQueue::copy_out(std::size_t offset, std::uint8_t* to, std::size_t n) const {
    const std::size_t first = std::min(n, size() - offset);
    std::memcpy(to, view() + offset, first);
    std::memcpy(to + first, view() + kQueueHeaderSize, n - first);
}

void CommandQueue::reset_unlocked() {
    write_fresh_header(view(), size());
    resets_.fetch_add(1);
}

void CommandQueue::reset() {
    MutexLock hold(lock());
    reset_unlocked();
}

bool CommandQueue::push(std::span<const std::uint8_t> record) {
    if (record.size() < 2) return false;
    std::uint16_t length;
    std::memcpy(&length, record.data(), sizeof length);
    if (length < kRecordHeaderSize || length > record.size()) return false;

    MutexLock hold(lock());
    Header h = read_header();
    auto used = used_bytes(h);
    if (!used) {
        reset_unlocked();
        h = read_header();
        used = 0;
    }
    if (length > ring_size() - *used) return false;
    copy_in(static_cast<std::size_t>(h.write), record.data(), length);
    h.write = static_cast<std::int32_t>(advance(static_cast<std::size_t>(h.write), length));
    h.count += 1;
    write_header(h);
    return true;
}

std::optional<RecordBytes> CommandQueue::pop() {
    MutexLock hold(lock());
    Header h = read_header();
    const auto used = used_bytes(h);
    if (!used) {
        reset_unlocked();
        return std::nullopt;
    }
    if (h.count == 0) return std::nullopt;
    const auto read = static_cast<std::size_t>(h.read);
    std::uint8_t length_bytes[2];
    copy_out(read, length_bytes, sizeof length_bytes);
    std::uint16_t length;
    std::memcpy(&length, length_bytes, sizeof length);
    // The last record must end exactly where the next would be written; any other must leave room
    // for the rest. Otherwise the lengths in the ring no longer chain and nothing in it is trusted.
    if (length < kRecordHeaderSize || length > *used || (h.count == 1 && length != *used)) {
        reset_unlocked();
        return std::nullopt;
    }
    RecordBytes record(length);
    copy_out(read, record.data(), length);
    h.read = static_cast<std::int32_t>(advance(read, length));
    h.count -= 1;
    write_header(h);
    return record;
}

CommandQueue::State CommandQueue::state() {
    MutexLock hold(lock());
    const Header h = read_header();
    return State{h.size, h.count, h.read, h.write};
}

std::int32_t CommandQueue::pending() {
    MutexLock hold(lock());
    const Header h = read_header();
    return used_bytes(h) ? h.count : 0;
}

std::size_t CommandQueue::free_space() {
    MutexLock hold(lock());
    const auto used = used_bytes(read_header());
    return used ? ring_size() - *used : ring_size();
}

}  // namespace vantrel
