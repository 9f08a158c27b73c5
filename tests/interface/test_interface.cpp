#include "tests/interface/test_interface.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace vantrel::test {

namespace {
constexpr auto I = WireType::integer;
constexpr auto B = WireType::truth;
constexpr auto R = WireType::real;
constexpr auto T = WireType::text;
}  // namespace

TestOperations declare_test_operations(InterfaceLayout& l) {
    TestOperations ops;
    ops.ping = l.add_two_way("ping", 0, {}, {});
    ops.add = l.add_two_way_with_slots("add", 1, {I, I}, {I});
    ops.negate = l.add_two_way_with_slots("negate", 2, {B}, {B});
    ops.scale = l.add_two_way_with_slots("scale", 3, {R, R}, {R, R});
    ops.echo = l.add_two_way_with_slots("echo", 4, {T}, {T, I});
    ops.repeat = l.add_two_way_with_slots("repeat", 5, {I, I}, {T});
    ops.note = l.add_one_way("note", 6, {T, I});
    ops.stall = l.add_two_way_with_slots("stall", 7, {I}, {I});
    ops.stats = l.add_two_way_with_slots("stats", 8, {}, {I, I, I, I, B});
    ops.count = l.add_one_way("count", 9, {I});
    return ops;
}

TestServer::TestServer(const std::string& name) : InterfaceServer(name) {
    ops_ = declare_test_operations(layout());
    set_queue_size(kQueueSize);
}

void TestServer::dispatch(const CallRecord& record) {
    const Operation* op = operation_of(record);
    if (op == nullptr) return reject(record, "unknown operation code");
    const auto args = accept(record, *op);
    if (!args) return;
    const Arguments& a = *args;
    switch (op->code) {
        case 0:
            complete(*op, a);
            break;
        case 1:
            // Wrapping sum: the arguments may be anything a peer sends.
            complete(*op, a,
                     {static_cast<std::int32_t>(static_cast<std::uint32_t>(a.integer(0)) +
                                                static_cast<std::uint32_t>(a.integer(1)))});
            break;
        case 2:
            complete(*op, a, {!a.truth(0)});
            break;
        case 3:
            complete(*op, a, {a.real(0) * a.real(1), a.real(0) + a.real(1)});
            break;
        case 4:
            complete(*op, a, {a.text(0), static_cast<std::int32_t>(a.text(0).size())});
            break;
        case 5: {
            const auto n = static_cast<std::size_t>(std::clamp(a.integer(0), 0, 100000));
            complete(*op, a, {std::string(n, static_cast<char>(a.integer(1)))});
            break;
        }
        case 6:
            ++notes_;
            last_note_ = a.text(0);
            last_level_ = a.integer(1);
            break;
        case 7:
            std::this_thread::sleep_for(
                std::chrono::milliseconds(std::clamp(a.integer(0), 0, 10000)));
            complete(*op, a, {a.integer(0)});
            break;
        case 8:
            complete(*op, a,
                     {static_cast<std::int32_t>(dispatched_records()),
                      static_cast<std::int32_t>(rejected_records()), notes_, counts_seen_,
                      counts_in_order_});
            break;
        case 9:
            if (a.integer(0) != counts_seen_) counts_in_order_ = false;
            ++counts_seen_;
            break;
        default:
            reject(record, "entered but not served");
    }
}

TestClient::TestClient(const std::string& name) : InterfaceClient(name) {
    ops_ = declare_test_operations(layout());
    mystery_ = layout().add_two_way("mystery", 99, {}, {});
    set_queue_size(kQueueSize);
}

int TestClient::ping() {
    return call_two_way(ops_.ping, {});
}
int TestClient::add(std::int32_t a, std::int32_t b, std::int32_t& sum) {
    return call_two_way(ops_.add, {a, b}, {sum});
}
int TestClient::negate(bool value, bool& result) {
    return call_two_way(ops_.negate, {value}, {result});
}
int TestClient::scale(double a, double b, double& product, double& sum) {
    return call_two_way(ops_.scale, {a, b}, {product, sum});
}
int TestClient::echo(const std::string& text, std::string& result, std::int32_t& length) {
    return call_two_way(ops_.echo, {text}, {result, length});
}
int TestClient::repeat(std::int32_t count, std::int32_t character, std::string& result) {
    return call_two_way(ops_.repeat, {count, character}, {result});
}
int TestClient::repeat_into(std::int32_t count, std::int32_t character, char* buffer,
                            std::size_t size) {
    return call_two_way(ops_.repeat, {count, character}, {Out(buffer, size)});
}
int TestClient::note(const std::string& text, std::int32_t level) {
    return call_one_way(ops_.note, {text, level});
}
int TestClient::stall(std::int32_t ms, std::int32_t& result) {
    return call_two_way(ops_.stall, {ms}, {result});
}
int TestClient::stats(ServerStats& s) {
    return call_two_way(ops_.stats, {}, {s.dispatched, s.rejected, s.notes, s.counts, s.in_order});
}
int TestClient::count(std::int32_t sequence) {
    return call_one_way(ops_.count, {sequence});
}
int TestClient::mystery() {
    return call_two_way(mystery_, {});
}

}  // namespace vantrel::test
