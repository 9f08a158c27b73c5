#include "tools/gateway/poller.h"

#include <algorithm>
#include <future>

#include "platform/clock.h"

namespace vantrel::gateway {
namespace {

double unix_now() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

double seconds_since(std::int64_t start_ns) {
    return static_cast<double>(platform::now_ns() - start_ns) / 1e9;
}

}  // namespace

Reply error_reply(int status, const std::string& message) {
    return {status, {{"error", message}, {"status", status}}};
}

struct Poller::Job {
    Command command;
    std::chrono::steady_clock::time_point deadline;
    std::promise<Reply> reply;
    enum State { queued, started, abandoned };
    std::atomic<int> state{queued};
};

Poller::Poller(PollerOptions options, Hub& hub) : options_(std::move(options)), hub_(hub) {}

Poller::~Poller() {
    stop();
}

void Poller::start() {
    thread_ = std::thread([this] { loop(); });
}

void Poller::stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
}

std::optional<Reply> Poller::run(Command command, std::chrono::milliseconds limit) {
    auto job = std::make_shared<Job>();
    job->command = std::move(command);
    job->deadline = std::chrono::steady_clock::now() + limit;
    std::future<Reply> reply = job->reply.get_future();
    {
        std::lock_guard lock(mutex_);
        if (stopping_ || queue_.size() >= kQueueLimit) return std::nullopt;
        queue_.push_back(job);
    }
    wake_.notify_all();
    try {
        if (reply.wait_until(job->deadline) == std::future_status::ready) return reply.get();
        int expected = Job::queued;
        if (job->state.compare_exchange_strong(expected, Job::abandoned)) return std::nullopt;
        // It has started: its calls are bounded by their time-out, and its reply is the answer.
        return reply.get();
    } catch (const std::future_error&) {
        return std::nullopt;  // the poller stopped with the command still queued
    }
}

void Poller::loop() {
    std::unique_lock lock(mutex_);
    auto next_poll = std::chrono::steady_clock::now();
    while (!stopping_) {
        if (!queue_.empty()) {
            const std::shared_ptr<Job> job = queue_.front();
            queue_.pop_front();
            lock.unlock();
            execute(*job);
            lock.lock();
        } else if (std::chrono::steady_clock::now() >= next_poll) {
            lock.unlock();
            poll();
            lock.lock();
            // At a fixed rate, so that slow polls (a loaded machine) do not thin them out.
            next_poll = std::max(next_poll + std::chrono::milliseconds(options_.poll_ms),
                                 std::chrono::steady_clock::now());
        } else {
            wake_.wait_until(lock, next_poll, [&] { return stopping_ || !queue_.empty(); });
        }
    }
}

void Poller::execute(Job& job) {
    int expected = Job::queued;
    if (!job.state.compare_exchange_strong(expected, Job::started)) return;
    Reply reply;
    try {
        Reading reading;
        if (!ensure_open(reading)) {
            reply = error_reply(503, reading.error);
            reply.body["result"] = reading.result;
        } else {
            Access access{*selector_, *session_, last_, hub_, options_};
            reply = job.command(access);
        }
    } catch (const std::exception& e) {
        reply = error_reply(500, std::string("internal error: ") + e.what());
    }
    job.reply.set_value(std::move(reply));
}

bool Poller::ensure_open(Reading& reading) {
    if (selector_) return true;
    selector_ = std::make_unique<VantrelIF>(options_.interface);
    session_ = std::make_unique<ctl::Session>(*selector_, options_.call_timeout_ms);
    reading.failed_operation = "get_state";
    if (const int r = session_->open(); r != 0) {
        reading.result = r;
        reading.error = ctl::describe_failure(*session_, "get_state", r);
    } else if (const auto refusal = ctl::check_served(*session_, "get_state", ctl::Kind::selector,
                                                      selector_->properties_size())) {
        reading.result = refusal->result;
        reading.error = refusal->message;
    } else {
        reading.failed_operation.clear();
        return true;
    }
    // Nothing serves the interface (or something of another kind does): hold none of its
    // objects, and look again at the next poll.
    session_.reset();
    selector_.reset();
    return false;
}

void Poller::poll() {
    Reading reading;
    reading.polled = true;
    reading.at = unix_now();
    if (ensure_open(reading)) {
        reading.result = ctl::read_snapshot(*selector_, reading.snapshot, reading.failed_operation,
                                            [this](const char*, double seconds, int result) {
                                                hub_.observe_call(seconds, result);
                                            });
        reading.answered = reading.result == 0;
        if (!reading.answered)
            reading.error =
                ctl::describe_failure(*session_, reading.failed_operation, reading.result);
    }
    last_ = reading;
    hub_.publish(std::move(reading));
    follow_operation(last_);
}

void Poller::follow_operation(const Reading& reading) {
    auto op = hub_.running_operation();
    if (!op) return;
    op->elapsed_s = seconds_since(op->started_ns);
    const ctl::Snapshot& s = reading.snapshot;
    if (reading.answered && !s.answers_guarded()) {
        op->state = "failed";
        op->reason = s.device_present ? "the selector is no longer initialised"
                                      : "the selector's device is not present";
    } else if (reading.answered) {
        op->column = s.column.value_or(-1);
        op->rotor_position = s.rotor_position;
        if (!s.busy.value_or(false)) {
            ctl::WaitOutcome outcome;
            ctl::judge_motion({false, s.homed.value_or(false), op->column, op->rotor_position},
                              op->requested, outcome);
            op->state = ctl::outcome_name(outcome.kind);
            op->reason = outcome.reason;
            if (outcome.kind == ctl::WaitOutcome::failed) {
                const std::string cause =
                    ctl::kill_switch_reason(options_.sipper, options_.call_timeout_ms);
                if (!cause.empty()) op->reason += "; " + cause;
            }
        }
    }
    if (op->running() && op->elapsed_s > options_.motion_limit_s) {
        op->state = reading.answered ? "timed_out" : "no_answer";
        op->reason = reading.answered ? "still moving after " +
                                            std::to_string(int(options_.motion_limit_s)) + " s"
                                      : "the selector stopped answering: " + reading.error;
    }
    hub_.update_operation(*op);
}

}  // namespace vantrel::gateway
