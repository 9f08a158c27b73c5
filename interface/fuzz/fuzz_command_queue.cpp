// libFuzzer target: arbitrary bytes as records, as raw writes over the queue's header and ring,
// and as records decoded by a live server, all in one small queue so that wrap-around is common.
//
// The input is a list of commands, each starting with one byte:
//   0  push: 2 bytes n, then n bytes pushed as a record (its own length field as given)
//   1  scribble: 2 bytes offset, 1 byte n, then n bytes written over the queue segment
//   2  serve: one service() step of the server
//   3  decode: 2 bytes n, then n bytes decoded against every operation of the server
// Afterwards the queue is served empty and one valid call must come through with the right result:
// whatever the bytes did, the queue and the server recover.

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <utility>

#include "framework/semaphore.h"
#include "interface/command_queue.h"
#include "interface/interface_server.h"

using namespace vantrel;

namespace {

constexpr std::size_t kQueueSize = 9000;  // a text record (4104 bytes) fits twice, with wrap-around
const std::string kName = "Fuzz";

class FuzzServer : public InterfaceServer {
  public:
    FuzzServer() : InterfaceServer(kName) {
        InterfaceLayout& l = layout();
        constexpr auto I = WireType::integer;
        add_ = l.add_two_way_with_slots("add", 1, {I, I}, {I});
        l.add_two_way_with_slots("flip", 2, {WireType::truth}, {WireType::truth});
        l.add_two_way_with_slots("scale", 3, {WireType::real, WireType::real}, {WireType::real});
        l.add_two_way_with_slots("echo", 4, {WireType::text}, {WireType::text, I});
        l.add_one_way("log", 5, {WireType::text, I});
        l.add_two_way("ping", 6, {}, {});
        set_queue_size(kQueueSize);
    }
    const Operation& add_op() const { return add_; }

  protected:
    void dispatch(const CallRecord& record) override {
        const Operation* op = operation_of(record);
        if (op == nullptr) return reject(record, "unknown operation code");
        const auto a = accept(record, *op);
        if (!a) return;
        switch (op->code) {
            case 1:
                complete(*op, *a,
                         {static_cast<std::int32_t>(static_cast<std::uint32_t>(a->integer(0)) +
                                                    static_cast<std::uint32_t>(a->integer(1)))});
                break;
            case 2:
                complete(*op, *a, {!a->truth(0)});
                break;
            case 3:
                complete(*op, *a, {a->real(0) * a->real(1)});
                break;
            case 4:
                complete(*op, *a, {a->text(0), static_cast<std::int32_t>(a->text(0).size())});
                break;
            case 5:
                logged_ += a->text(0).size();
                break;
            default:
                complete(*op, *a);
        }
    }

  private:
    Operation add_;
    std::size_t logged_ = 0;
};

struct World {
    World() {
        // A scope of this run's own, inside the one it was started in when there is one.
        std::string scope = "fuzz-" + std::to_string(::getpid());
        const char* outer = std::getenv("VANTREL_IPC_SCOPE");
        if (outer != nullptr && *outer != '\0' && std::strlen(outer) + 1 + scope.size() <= 64)
            scope = std::string(outer) + "-" + scope;
        ::setenv("VANTREL_IPC_SCOPE", scope.c_str(), 1);
        server = std::make_unique<FuzzServer>();
        if (!server->open()) std::abort();
        queue = std::make_unique<CommandQueue>(kName + "_cmdQ", kQueueSize);
        start = std::make_unique<Semaphore>(kName + "_action_start_signal", 0, 100);
    }
    std::unique_ptr<FuzzServer> server;
    std::unique_ptr<CommandQueue> queue;
    std::unique_ptr<Semaphore> start;
};

class Input {
  public:
    Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool empty() const { return pos_ >= size_; }
    std::uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    std::uint16_t u16() { return static_cast<std::uint16_t>(byte() | byte() << 8); }
    RecordBytes take(std::size_t n) {
        n = std::min(n, size_ - std::min(pos_, size_));
        RecordBytes out(data_ + pos_, data_ + pos_ + n);
        pos_ += n;
        return out;
    }

  private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

void serve_one(World& w) {
    w.start->release();  // so the step does not wait its 10 ms
    w.server->service();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static World world;
    World& w = world;
    w.queue->reset();
    Input in(data, size);
    while (!in.empty()) {
        switch (in.byte() % 4) {
            case 0: {
                const RecordBytes record = in.take(in.u16());
                w.queue->push(record);
                break;
            }
            case 1: {
                const std::size_t offset = in.u16() % kQueueSize;
                const RecordBytes bytes = in.take(in.byte());
                w.queue->write(offset, bytes.data(), bytes.size());
                break;
            }
            case 2:
                serve_one(w);
                break;
            case 3: {
                const CallRecord record(in.take(in.u16()));
                for (std::uint16_t code = 0; code < 8; ++code) {
                    if (const Operation* op = std::as_const(*w.server).layout().find(code)) {
                        if (const auto args = record.decode(*op))
                            if (args->size() != op->arguments.size()) std::abort();
                    }
                }
                break;
            }
        }
    }

    // Whatever happened, the queue drains and a valid call is served with the right result.
    for (int i = 0; i < 10000 && w.queue->pending() > 0; ++i) serve_one(w);
    if (w.queue->pending() != 0) std::abort();
    const Value args[] = {std::int32_t{20}, std::int32_t{22}};
    const RecordBytes call = encode_call(w.server->add_op(), args, 0x5eed);
    if (!w.queue->push(call)) std::abort();
    serve_one(w);
    if (w.server->completed_call_id() != 0x5eed) std::abort();
    const auto sum = w.server->read_slot(w.server->add_op().results[0]);
    if (!sum || std::get<std::int32_t>(*sum) != 42) std::abort();
    return 0;
}
