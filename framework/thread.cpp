#include "framework/thread.h"

#include "platform/clock.h"

namespace vantrel {

Thread::Thread(const std::string& name, int priority) : priority_(priority), name_(name) {}

Thread::~Thread() {
    stop();
    wait_for_body();
    lock_.close();
}

void Thread::wait_for_body() {
    lock_.lock();
    int state = run_state_.load();
    lock_.unlock();
    if (state != kRunning) return;
    stop();
    for (;;) {
        lock_.lock();
        state = run_state_.load();
        lock_.unlock();
        if (state != kRunning) return;
        // Real time: the body may be waiting on the real clock even in a test.
        platform::SystemClock().sleep_ms(10);
    }
}

bool Thread::start() {
    {
        MutexLock guard(lock_);
        // A suspended thread is refused too: a second thread must never run the same body.
        if (run_state_.load() != kNotRunning) return false;
        stop_request_.store(false);
        // Marked running before the thread exists, so that a body returning at once leaves 2.
        run_state_.store(kRunning);
    }
    if (!thread_.start([this] { trampoline(); })) {
        MutexLock guard(lock_);
        run_state_.store(kNotRunning);
        return false;
    }
    set_priority(priority_);
    return true;
}

void Thread::trampoline() {
    try {
        thread_main();
    } catch (...) {
        // A body that throws simply ends its run.
    }
    MutexLock guard(lock_);
    run_state_.store(kNotRunning);
}

void Thread::stop() {
    MutexLock guard(lock_);
    stop_request_.store(true);
}

bool Thread::suspend() {
    MutexLock guard(lock_);
    if (run_state_.load() != kRunning || !thread_.suspend()) return false;
    run_state_.store(kSuspended);
    return true;
}

bool Thread::resume() {
    MutexLock guard(lock_);
    if (run_state_.load() != kSuspended || !thread_.resume()) return false;
    run_state_.store(kRunning);
    return true;
}

bool Thread::set_priority(int priority) {
    return thread_.started() && thread_.set_priority(priority);
}

bool Thread::is_running() {
    MutexLock guard(lock_);
    return run_state_.load() == kRunning;
}

std::string Thread::get_name() {
    MutexLock guard(lock_);
    return name_;
}

}  // namespace vantrel
