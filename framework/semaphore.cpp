#include "framework/semaphore.h"

namespace vantrel {
namespace {

bool valid_counts(long initial, long maximum) {
    return maximum > 0 && initial >= 0 && initial <= maximum && maximum <= INT32_MAX;
}

}  // namespace

Semaphore::Semaphore(long initial, long maximum) {
    if (!valid_counts(initial, maximum)) return;
    handle_ = std::make_unique<platform::FutexSemaphore>(static_cast<std::uint32_t>(initial),
                                                         static_cast<std::uint32_t>(maximum));
}

Semaphore::Semaphore(const std::string& name, long initial, long maximum, long open_limit_ms) {
    if (!valid_counts(initial, maximum)) {
        error_ = "invalid counts for " + name;
        return;
    }
    try {
        handle_ = std::make_unique<platform::FutexSemaphore>(
            name, static_cast<std::uint32_t>(initial), static_cast<std::uint32_t>(maximum),
            platform::OpenMode::create_or_open, open_limit_ms);
    } catch (const std::exception& e) {
        handle_.reset();
        error_ = e.what();
    }
}

Semaphore::~Semaphore() = default;

bool Semaphore::wait(long milliseconds) {
    return handle_ && handle_->wait(milliseconds);
}

bool Semaphore::release() {
    return handle_ && handle_->release();
}

void Semaphore::close() {
    handle_.reset();
}

}  // namespace vantrel
