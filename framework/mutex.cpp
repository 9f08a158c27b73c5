#include "framework/mutex.h"

namespace vantrel {

Mutex::Mutex(bool initial_owner) {
    try {
        handle_ = std::make_unique<platform::RobustMutex>();
        if (initial_owner) handle_->lock();
    } catch (const std::exception&) {
        handle_.reset();
    }
}

Mutex::Mutex(const std::string& name, bool initial_owner, long open_limit_ms) {
    try {
        handle_ = std::make_unique<platform::RobustMutex>(name, platform::OpenMode::create_or_open,
                                                          open_limit_ms);
        if (initial_owner) handle_->lock();
    } catch (const std::exception& e) {
        handle_.reset();
        error_ = e.what();
    }
}

Mutex::~Mutex() = default;

bool Mutex::lock() {
    if (!handle_) return false;
    handle_->lock();
    return true;
}

bool Mutex::try_lock(long milliseconds) {
    return handle_ && handle_->try_lock(milliseconds);
}

bool Mutex::unlock() {
    return handle_ && handle_->unlock();
}

void Mutex::close() {
    handle_.reset();
}

}  // namespace vantrel
