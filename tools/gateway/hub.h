#pragma once
// The gateway's shared state: the poller publishes what it read from the selector and the
// operations it started; the HTTP threads read copies, wait for events and count their requests.
// Nothing here talks to the selector.
//
// Events: each publish compares the new reading with the last one and appends one event per
// change (state, busy, homed, column, rotor position, a column's type or count, settings, whether
// the selector answers) and per operation started or ended, numbered from 1. The last kEventRing
// events are kept; a reader that fell further behind is told so and starts again from a snapshot.
//
// Thread safety: every member function may be called from any thread; one mutex guards all.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tools/client/json.h"
#include "tools/client/selector.h"
#include "tools/gateway/metrics.h"

namespace vantrel::gateway {

using ctl::Json;

// What the poller read last.
struct Reading {
    bool polled = false;    // a poll has ended
    bool answered = false;  // every call of it answered
    int result = 0;         // otherwise the failing call's result,
    std::string failed_operation;
    std::string error;  // and what it means
    ctl::Snapshot snapshot;
    double at = 0.0;  // Unix time of the poll
};

// A motion started through the gateway, followed to its outcome.
struct OperationRecord {
    std::uint64_t id = 0;
    std::string kind;              // "home" or "column"
    std::optional<int> requested;  // the column asked for (homing ends at column 1)
    std::string state = "running";
    std::string reason;  // why it failed
    double started_at = 0.0;
    std::int64_t started_ns = 0;
    double elapsed_s = 0.0;
    std::int32_t column = -1;
    std::int32_t rotor_position = 0;

    bool running() const { return state == "running"; }
    Json json() const;
};

struct Event {
    std::uint64_t id = 0;
    std::string name;
    std::string data;  // one line of JSON
};

class Hub {
  public:
    static constexpr std::size_t kEventRing = 512;
    static constexpr std::size_t kOperationsKept = 50;

    explicit Hub(std::string interface);

    const std::string& interface() const { return interface_; }

    // Poller side.
    void publish(Reading reading);
    std::uint64_t start_operation(OperationRecord op);
    // Keeps the progress of `op`; once it has ended, counts its outcome and tells the readers.
    void update_operation(const OperationRecord& op);
    std::optional<OperationRecord> running_operation() const;
    void observe_call(double seconds, int result);

    // Readers.
    Reading reading() const;
    // The body and status of GET /api/v1/status, made once per poll.
    std::pair<int, std::shared_ptr<const std::string>> status_reply() const;
    std::optional<OperationRecord> operation(std::uint64_t id) const;
    Json operations_json() const;

    // The event stream: the snapshot event that opens it (and the id it stands at), the events
    // after `after` (false when some were dropped meanwhile), and a wait for the next one.
    Event snapshot_event() const;
    bool events_after(std::uint64_t after, std::vector<Event>& out) const;
    // Returns when an event after `after` exists, the hub is closed, or `limit` has passed.
    void wait_for_event(std::uint64_t after, std::chrono::milliseconds limit) const;
    void close();
    bool closed() const;

    // Metrics.
    void count_request(const std::string& route, int status);
    void set_event_clients(int count);
    std::string metrics() const;

  private:
    void emit(const std::string& name, const Json& data);  // under the lock
    void emit_changes(const Reading& before, const Reading& after);
    Json status_json_locked() const;
    Json operations_json_locked() const;

    const std::string interface_;
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    bool closed_ = false;
    Reading reading_;
    int status_code_ = 503;
    std::shared_ptr<const std::string> status_body_;
    std::deque<Event> events_;
    std::uint64_t last_event_ = 0;
    std::deque<OperationRecord> operations_;
    std::uint64_t next_operation_ = 1;

    std::map<std::string, std::uint64_t> moves_;  // by outcome
    Histogram move_seconds_{{0.5, 1, 2, 3, 5, 8, 13, 20, 30, 60, 120}};
    Histogram call_seconds_{
        {0.00002, 0.00005, 0.0001, 0.0002, 0.0005, 0.001, 0.002, 0.005, 0.01, 0.1, 1}};
    std::uint64_t calls_failed_ = 0;
    std::uint64_t polls_ = 0;
    std::map<std::pair<std::string, int>, std::uint64_t> requests_;
    int event_clients_ = 0;
};

}  // namespace vantrel::gateway
