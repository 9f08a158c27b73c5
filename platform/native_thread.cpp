#include "platform/native_thread.h"

#include <signal.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <mutex>

namespace vantrel::platform {

struct NativeThread::Control {
    std::function<void()> body;
    std::atomic<pid_t> tid{0};
    std::atomic<bool> finished{false};
    std::atomic<bool> parked_request{false};
};

namespace {

const int kSuspendSignal = SIGRTMIN + 4;
const int kResumeSignal = SIGRTMIN + 5;

thread_local NativeThread::Control* tls_control = nullptr;

void on_suspend(int) {
    NativeThread::Control* control = tls_control;
    if (control == nullptr) return;
    // sigsuspend sets errno; the interrupted code must find its own errno unchanged.
    const int saved_errno = errno;
    sigset_t wait_mask;
    pthread_sigmask(SIG_BLOCK, nullptr, &wait_mask);
    sigdelset(&wait_mask, kResumeSignal);
    // The resume signal is blocked while this handler runs, so one sent before sigsuspend stays
    // pending and ends the wait at once.
    while (control->parked_request.load()) sigsuspend(&wait_mask);
    errno = saved_errno;
}

void on_resume(int) {}

void install_handlers() {
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction sa {};
        sa.sa_handler = on_suspend;
        sigemptyset(&sa.sa_mask);
        sigaddset(&sa.sa_mask, kResumeSignal);
        sa.sa_flags = SA_RESTART;
        sigaction(kSuspendSignal, &sa, nullptr);
        struct sigaction sr {};
        sr.sa_handler = on_resume;
        sigemptyset(&sr.sa_mask);
        sr.sa_flags = SA_RESTART;
        sigaction(kResumeSignal, &sr, nullptr);
    });
}

void* trampoline(void* arg) {
    auto control = *static_cast<std::shared_ptr<NativeThread::Control>*>(arg);
    delete static_cast<std::shared_ptr<NativeThread::Control>*>(arg);
    tls_control = control.get();
    control->tid.store(static_cast<pid_t>(::syscall(SYS_gettid)));
    control->body();
    control->finished.store(true);
    tls_control = nullptr;
    return nullptr;
}

}  // namespace

NativeThread::NativeThread() = default;

NativeThread::~NativeThread() {
    if (!started_) return;
    // A parked thread never returns; anything else is joined.
    if (control_->parked_request.load())
        pthread_detach(handle_);
    else
        pthread_join(handle_, nullptr);
}

bool NativeThread::start(std::function<void()> body) {
    install_handlers();
    join();
    auto control = std::make_shared<Control>();
    control->body = std::move(body);
    auto* arg = new std::shared_ptr<Control>(control);
    if (pthread_create(&handle_, nullptr, trampoline, arg) != 0) {
        delete arg;
        return false;
    }
    control_ = std::move(control);
    started_ = true;
    return true;
}

void NativeThread::join() {
    if (!started_) return;
    pthread_join(handle_, nullptr);
    started_ = false;
}

bool NativeThread::suspend() {
    if (!started_ || control_->finished.load()) return false;
    control_->parked_request.store(true);
    if (pthread_kill(handle_, kSuspendSignal) != 0) {
        control_->parked_request.store(false);
        return false;
    }
    return true;
}

bool NativeThread::resume() {
    if (!started_ || !control_->parked_request.exchange(false)) return false;
    return pthread_kill(handle_, kResumeSignal) == 0;
}

bool NativeThread::set_priority(int priority) {
    if (!started_) return false;
    pid_t tid = control_->tid.load();
    // The thread publishes its id first thing; wait the few instructions that takes.
    while (tid == 0 && !control_->finished.load()) {
        sched_yield();
        tid = control_->tid.load();
    }
    if (tid == 0) return false;
    const int nice_value = std::clamp(-priority, -20, 19);
    return setpriority(PRIO_PROCESS, static_cast<id_t>(tid), nice_value) == 0;
}

}  // namespace vantrel::platform
