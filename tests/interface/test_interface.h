#pragma once
// A small interface of our own for testing the protocol before any component exists: a server with
// a hand-written dispatch, and a client with one stub per operation. Together their operations use
// every value type, both call kinds, and a slow operation for time-out races.
//
//   0 "ping"    two-way, no arguments, no results
//   1 "add"     two-way (integer, integer) -> integer sum
//   2 "negate"  two-way (truth) -> truth
//   3 "scale"   two-way (real, real) -> real product, real sum
//   4 "echo"    two-way (text) -> text, integer length
//   5 "repeat"  two-way (integer count, integer character) -> text of count characters
//   6 "note"    one-way (text, integer level)
//   7 "stall"   two-way (integer ms) -> integer ms; sleeps that long (at most 10 s) first
//   8 "stats"   two-way () -> dispatched, rejected, notes, counts seen, counts in order
//   9 "count"   one-way (integer sequence number)
// The client also has "mystery" (code 99, two-way, no arguments) that the server does not know.

#include <cstdint>
#include <string>

#include "interface/interface_client.h"
#include "interface/interface_server.h"

namespace vantrel::test {

struct TestOperations {
    Operation ping, add, negate, scale, echo, repeat, note, stall, stats, count;
};

// Enters the test operations and lays out their slots (properties size 8256).
TestOperations declare_test_operations(InterfaceLayout& layout);

class TestServer : public InterfaceServer {
  public:
    explicit TestServer(const std::string& name);

    int notes() const { return notes_; }
    const std::string& last_note() const { return last_note_; }
    int counts_seen() const { return counts_seen_; }
    bool counts_in_order() const { return counts_in_order_; }

  protected:
    void dispatch(const CallRecord& record) override;

  private:
    TestOperations ops_;
    int notes_ = 0;
    int last_level_ = 0;
    std::string last_note_;
    int counts_seen_ = 0;
    bool counts_in_order_ = true;
};

struct ServerStats {
    std::int32_t dispatched = 0, rejected = 0, notes = 0, counts = 0;
    bool in_order = false;
};

class TestClient : public InterfaceClient {
  public:
    explicit TestClient(const std::string& name);

    int ping();
    int add(std::int32_t a, std::int32_t b, std::int32_t& sum);
    int negate(bool value, bool& result);
    int scale(double a, double b, double& product, double& sum);
    int echo(const std::string& text, std::string& result, std::int32_t& length);
    int repeat(std::int32_t count, std::int32_t character, std::string& result);
    int repeat_into(std::int32_t count, std::int32_t character, char* buffer, std::size_t size);
    int note(const std::string& text, std::int32_t level);
    int stall(std::int32_t ms, std::int32_t& result);
    int stats(ServerStats& stats);
    int count(std::int32_t sequence);
    int mystery();

    const TestOperations& ops() const { return ops_; }
    // Raw access for tests that put records into the queue themselves.
    using ComponentInterface::queue;
    using ComponentInterface::start_signal;

  private:
    TestOperations ops_;
    Operation mystery_;
};

}  // namespace vantrel::test
