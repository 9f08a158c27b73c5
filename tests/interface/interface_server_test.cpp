// Client and server of one process (the server on a thread of its own): every value type through
// its result slot, text results at and beyond the slot size, records the server must refuse (and a
// longer one it serves), a properties segment smaller than the class needs, and an interface that
// cannot be opened.
#include "interface/interface_server.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "interface/shared_segment.h"
#include "tests/interface/helpers.h"
#include "tests/interface/test_interface.h"

using namespace vantrel;
using namespace vantrel::test;

namespace {

// Serves `server` on a thread until destroyed.
class ServingThread {
  public:
    explicit ServingThread(TestServer& server)
        : thread_([this, &server] {
              while (!stop_.load()) server.service();
          }) {}
    ~ServingThread() {
        stop_.store(true);
        thread_.join();
    }

  private:
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

class InterfaceServerTest : public IpcTest {
  protected:
    void SetUp() override {
        ASSERT_TRUE(server_.open()) << server_.open_error();
        ASSERT_TRUE(client_.open()) << client_.open_error();
        client_.set_call_timeout(5000);
    }
    // The raw bytes of a result slot, read through a segment of our own.
    std::string slot_bytes(const Slot& slot) {
        SharedSegment properties("Srv_properties", 0, false);
        std::string bytes(slot.size(), '\0');
        EXPECT_TRUE(properties.read(slot.offset, bytes.data(), bytes.size()));
        return bytes;
    }

    TestServer server_{"Srv"};
    TestClient client_{"Srv"};
};

TEST_F(InterfaceServerTest, EveryValueTypeMakesTheRoundTrip) {
    ServingThread serving(server_);
    EXPECT_EQ(client_.ping(), kCallDone);
    std::int32_t sum = 0;
    EXPECT_EQ(client_.add(-7, 3, sum), kCallDone);
    EXPECT_EQ(sum, -4);
    bool flag = false;
    EXPECT_EQ(client_.negate(false, flag), kCallDone);
    EXPECT_TRUE(flag);
    double product = 0, total = 0;
    EXPECT_EQ(client_.scale(1.5, -4.0, product, total), kCallDone);
    EXPECT_EQ(product, -6.0);
    EXPECT_EQ(total, -2.5);
    std::string text;
    std::int32_t length = 0;
    EXPECT_EQ(client_.echo("Vantrel column 3", text, length), kCallDone);
    EXPECT_EQ(text, "Vantrel column 3");
    EXPECT_EQ(length, 16);
    EXPECT_EQ(client_.completed_call_id(), 5);  // ids count from 1 in a fresh segment
}

TEST_F(InterfaceServerTest, TextResultsAreCutToTheSlotWithTheirNulAndLeaveTheRestAlone) {
    ServingThread serving(server_);
    const Slot slot = client_.ops().repeat.results[0];
    std::string text;
    EXPECT_EQ(client_.repeat(4095, 'a', text), kCallDone);
    EXPECT_EQ(text, std::string(4095, 'a'));
    EXPECT_EQ(slot_bytes(slot).back(), '\0');

    std::int32_t ms = 0;
    ASSERT_EQ(client_.stall(0, ms), kCallDone);
    const std::string after_slot = slot_bytes(client_.ops().stall.results[0]);
    EXPECT_EQ(client_.repeat(6000, 'b', text), kCallDone);
    EXPECT_EQ(text, std::string(4095, 'b'));
    EXPECT_EQ(slot_bytes(client_.ops().stall.results[0]), after_slot);  // the next slot is intact

    EXPECT_EQ(client_.repeat(3, 'c', text), kCallDone);
    EXPECT_EQ(text, "ccc");
    const std::string bytes = slot_bytes(slot);
    EXPECT_EQ(bytes.substr(0, 5), std::string("ccc\0b", 5));  // only text and NUL were written

    char small[4];
    EXPECT_EQ(client_.repeat_into(10, 'd', small, sizeof small), kCallDone);
    EXPECT_STREQ(small, "ddd");
}

TEST_F(InterfaceServerTest, MalformedAndUnknownRecordsAreRefusedAndServingGoesOn) {
    auto push_raw = [&](RecordBytes record) {
        ASSERT_TRUE(client_.queue()->push(record));
        client_.start_signal()->release();
    };
    const Value args[] = {std::int32_t{1}, std::int32_t{2}};
    RecordBytes add = encode_call(client_.ops().add, args, 12345);
    RecordBytes short_add(add.begin(), add.begin() + 8);
    short_add[0] = 8;  // an "add" without its second argument and call id
    push_raw(short_add);
    push_raw(RecordBytes{4, 0, 0x39, 0x30});  // code 12345: nobody knows it
    RecordBytes long_add = add;               // longer than its layout: served all the same
    long_add.resize(20, 0xEE);
    long_add[0] = 20;
    push_raw(long_add);
    for (int i = 0; i < 3; ++i) server_.service();
    EXPECT_EQ(server_.rejected_records(), 2u);
    EXPECT_EQ(client_.completed_call_id(), 12345);  // only the longer one completed
    const auto sum_slot = client_.read_slot(client_.ops().add.results[0]);
    ASSERT_TRUE(sum_slot);
    EXPECT_EQ(std::get<std::int32_t>(*sum_slot), 3);

    ServingThread serving(server_);
    client_.set_call_timeout(200);
    EXPECT_EQ(client_.mystery(), kCallNoCompletion);
    client_.set_call_timeout(5000);
    int rc = kCallOtherCompletion;
    std::int32_t sum = 0;
    while (rc == kCallOtherCompletion) rc = client_.add(40, 2, sum);
    EXPECT_EQ(rc, kCallDone);
    EXPECT_EQ(sum, 42);
}

TEST_F(InterfaceServerTest, ServiceWithNothingQueuedDispatchesNothing) {
    server_.service();
    EXPECT_EQ(server_.dispatched_records(), 0u);
    // Start signals without records (left by records discarded at open) wake a step that then
    // finds nothing.
    client_.start_signal()->release();
    server_.service();
    EXPECT_EQ(server_.dispatched_records(), 0u);
}

TEST_F(InterfaceServerTest, OneWayCallsAreRunInQueueOrderWithoutCompletion) {
    EXPECT_EQ(client_.note(std::string(5000, 'n'), 3), kCallDone);
    EXPECT_EQ(client_.count(0), kCallDone);
    server_.service();
    server_.service();
    EXPECT_EQ(server_.notes(), 1);
    EXPECT_EQ(server_.last_note(), std::string(4095, 'n'));
    EXPECT_EQ(server_.counts_seen(), 1);
    EXPECT_EQ(client_.completed_call_id(), 0);
}

// A class with fewer slots created the segment first.
class SmallClient : public InterfaceClient {
  public:
    explicit SmallClient(const std::string& name) : InterfaceClient(name) {
        InterfaceLayout& l = layout();
        l.add_two_way("ping", 0, {}, {});
        add_ = l.add_two_way_with_slots("add", 1, {WireType::integer, WireType::integer},
                                        {WireType::integer});
        set_queue_size(kQueueSize);
    }
    int add(std::int32_t a, std::int32_t b, std::int32_t& sum) {
        return call_two_way(add_, {a, b}, {sum});
    }

  private:
    Operation add_;
};

TEST(SmallPropertiesSegment, OperationsWhoseSlotsFitWorkTheOthersAreRefusedOnBothSides) {
    ScopedIpcScope scope;
    Watchdog watchdog(60);
    SmallClient small("Mixed");
    ASSERT_TRUE(small.open());
    EXPECT_EQ(small.mapped_properties_size(), 16u);
    TestServer server("Mixed");
    ASSERT_TRUE(server.open());
    EXPECT_EQ(server.properties_size(), 8256u);
    EXPECT_EQ(server.mapped_properties_size(), 16u);
    TestClient client("Mixed");
    ASSERT_TRUE(client.open());
    client.set_call_timeout(5000);
    ServingThread serving(server);

    std::int32_t sum = -1;
    EXPECT_EQ(client.add(1, 2, sum), kCallDone);
    EXPECT_EQ(sum, 3);
    EXPECT_EQ(small.add(4, 5, sum), kCallDone);
    EXPECT_EQ(sum, 9);
    bool flag = true;
    EXPECT_EQ(client.negate(false, flag), kCallNotOpen);  // its slot is past the segment's end
    EXPECT_FALSE(flag);
    std::string text = "old";
    std::int32_t length = 5;
    EXPECT_EQ(client.echo("x", text, length), kCallNotOpen);
    EXPECT_EQ(text, "");
    EXPECT_EQ(length, 0);
    EXPECT_FALSE(client.write_slot(client.ops().negate.results[0], true));
    EXPECT_FALSE(client.read_slot(client.ops().negate.results[0]));
}

TEST(ClosedInterface, CallsReturnSixWithZeroedOutputsAndAnUnopenableOneSaysWhy) {
    ScopedIpcScope scope;
    TestClient never_opened("Closed");
    std::int32_t sum = 99;
    EXPECT_EQ(never_opened.add(1, 2, sum), kCallNotOpen);
    EXPECT_EQ(sum, 0);
    EXPECT_EQ(never_opened.count(1), kCallNotOpen);

    // The base class has no queue of its own (size 0): it cannot be opened.
    ComponentInterface bare("Bare");
    EXPECT_FALSE(bare.open());
    EXPECT_FALSE(bare.is_open());
    EXPECT_NE(bare.open_error().find("Bare_cmdQ"), std::string::npos) << bare.open_error();
}

}  // namespace
