#pragma once
// InterfaceServer: the serving side of an interface. The process that implements the operations
// opens it once and calls service() from its main loop; service() hands each record to the
// derived class's dispatch(), which decodes it against its operation table:
//
//   void TestServer::dispatch(const CallRecord& record) {
//       const Operation* op = operation_of(record);
//       if (op == nullptr) return reject(record, "unknown operation code");  // caller times out
//       const auto args = accept(record, *op);
//       if (!args) return;                       // rejected: malformed, nothing was run
//       if (op->code == add_.code) complete(*op, *args, {args->integer(0) + args->integer(1)});
//       ...
//   }
//
// A two-way operation answers with complete(): results into its slots, then the call id as the
// completed call id, then one release of the done signal. A one-way operation does none of that.
// A record that accept() refuses, or whose code nobody knows, runs nothing and completes nothing;
// its caller (if two-way) gets 4 when its time-out runs out, and the server goes on serving.
//
// Thread safety: open, service and dispatch run on one thread (the component's main loop); wake
// may come from any thread or a signal handler.

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>

#include "framework/semaphore.h"
#include "interface/call_record.h"
#include "interface/component_interface.h"

namespace vantrel {

class InterfaceServer : public ComponentInterface {
  public:
    static constexpr long kServiceWaitMs = 10;

    // Creates the server mark N + "unique" (0, 1); nothing else uses it.
    explicit InterfaceServer(std::string name);
    // Releases the done signal once, so that a caller still waiting wakes with result 5.
    ~InterfaceServer() override;

    // Opens the interface, discards every record left in the queue (calls made while no server
    // was there are never run) and releases the done signal once, so that a caller still waiting
    // from before wakes with result 5 instead of waiting out its time-out.
    bool open() override;

    // One step of serving: waits up to `max_wait_ms` (10 ms unless told otherwise) for the start
    // signal, then dispatches the oldest record, if any. A record that arrives during the wait
    // ends it at once. Records are taken one per step in queue order. The start signal counts at
    // most 100 records; when more are queued, the step does not wait for a signal that may never
    // come but serves the next record at once. Exceptions from dispatch pass to the caller.
    void service(long max_wait_ms = kServiceWaitMs);

    // Ends a wait of service() now, or makes the next one return at once: one count of the start
    // signal, which finds no record. Async-signal-safe; callable from any thread, but not while
    // the server is being opened or destroyed.
    void wake() noexcept;

    // Records discarded by the last open().
    std::size_t discarded_at_open() const { return discarded_at_open_; }
    // Records handed to dispatch, and those that dispatch refused (reject()), since construction.
    std::uint64_t dispatched_records() const { return dispatched_; }
    std::uint64_t rejected_records() const { return rejected_; }

  protected:
    virtual void dispatch(const CallRecord& record) = 0;

    // The operation entered under the record's code, or nullptr.
    const Operation* operation_of(const CallRecord& record) const;
    // The arguments of `record` laid out as `op` says, or nullopt after reject(): the record's
    // is shorter than the layout (or its length field disagrees with its size), or a result slot of
    // `op` lies outside the mapped properties. A longer record is served from its fixed offsets.
    std::optional<Arguments> accept(const CallRecord& record, const Operation& op);
    // Completes two-way call `args` of `op` with one value per result slot (a text longer than
    // 4095 characters is cut). Throws Exception when the values do not match the slots.
    void complete(const Operation& op, const Arguments& args,
                  std::initializer_list<Value> results = {});
    // Counts a refused record and tells on_rejected().
    void reject(const CallRecord& record, const std::string& reason);
    // Override to log refused records; must not throw.
    virtual void on_rejected(const CallRecord& record, const std::string& reason);

  private:
    std::unique_ptr<Semaphore> server_mark_;
    std::size_t discarded_at_open_ = 0;
    std::uint64_t dispatched_ = 0;
    std::uint64_t rejected_ = 0;
};

}  // namespace vantrel
