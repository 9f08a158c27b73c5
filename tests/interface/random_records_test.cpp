// Random bytes as records in the queue of a live server process, and random bytes written over the
// queue itself. The server must neither crash nor read outside a record (the AddressSanitizer build
// checks the latter: every record is a heap block of exactly its length), must refuse what does not
// match a layout, and must serve valid calls correctly afterwards.
#include <gtest/gtest.h>

#include <random>

#include "tests/interface/helpers.h"
#include "tests/interface/test_interface.h"

using namespace vantrel;
using namespace vantrel::test;

namespace {

class RandomRecordsTest : public IpcTest, public ::testing::WithParamInterface<unsigned> {};

TEST_P(RandomRecordsTest, ServerSurvivesAndKeepsServingValidCalls) {
    auto server = interface_child({"serve", "Fuzzed"});
    ASSERT_EQ(server.read_line(), "open discarded=0");
    TestClient client("Fuzzed");
    ASSERT_TRUE(client.open());
    client.set_call_timeout(1000);
    CommandQueue& queue = *client.queue();

    std::mt19937 rng(GetParam());
    auto uniform = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    auto random_bytes = [&](std::size_t n) {
        RecordBytes bytes(n);
        for (auto& b : bytes) b = static_cast<std::uint8_t>(uniform(0, 255));
        return bytes;
    };
    const TestOperations& ops = client.ops();
    const Operation* known[] = {&ops.ping,   &ops.add,  &ops.negate, &ops.scale, &ops.echo,
                                &ops.repeat, &ops.note, &ops.stats,  &ops.count};

    int pushed = 0, scribbles = 0;
    for (int step = 0; step < 3000; ++step) {
        const int roll = uniform(0, 99);
        if (roll < 85) {
            const Operation& op = *known[uniform(0, 8)];
            std::size_t length;
            if (roll < 35)
                length = op.record_length();  // right length, random arguments and call id
            else if (roll < 60)
                length = static_cast<std::size_t>(
                    std::max(4, static_cast<int>(op.record_length()) + uniform(-16, 16)));
            else
                length = static_cast<std::size_t>(uniform(4, 9000));
            RecordBytes record = random_bytes(length);
            record[0] = static_cast<std::uint8_t>(length & 0xFF);
            record[1] = static_cast<std::uint8_t>(length >> 8);
            std::uint16_t code =
                roll < 60 ? op.code : static_cast<std::uint16_t>(uniform(0, 65535));
            if (code == ops.stall.code) code = ops.stats.code;  // no random sleeping
            record[2] = static_cast<std::uint8_t>(code & 0xFF);
            record[3] = static_cast<std::uint8_t>(code >> 8);
            if (queue.push(record)) {
                ++pushed;
                client.start_signal()->release();
            }
        } else {
            // Overwrite queued bytes, or (rarely) a header field, as a faulty peer would.
            const bool header = roll >= 97;
            const std::size_t offset =
                header ? static_cast<std::size_t>(uniform(0, 3) * 4)
                       : static_cast<std::size_t>(queue.state().read) + uniform(0, 256);
            const RecordBytes junk = random_bytes(header ? 4 : uniform(1, 64));
            if (queue.write(offset, junk.data(), junk.size())) ++scribbles;
        }
        if (step % 300 == 299) {
            // While records are being destroyed, a valid call may be lost (4) or see a completion
            // of a random two-way record (5), but a result it reports as done is right.
            std::int32_t sum = 0;
            const int rc = client.add(step, 1, sum);
            EXPECT_TRUE(rc == kCallDone || rc == kCallNoCompletion || rc == kCallOtherCompletion)
                << rc;
            if (rc == kCallDone) {
                EXPECT_EQ(sum, step + 1);
            }
        }
    }
    EXPECT_GT(pushed, 2000);
    EXPECT_GT(scribbles, 200);

    // The server works through what is left of the junk; its two-way records release the done
    // signal with ids of nobody's, and a call that wakes on one of those returns 5.
    ASSERT_TRUE(eventually([&] { return queue.pending() == 0; }, 30000));
    client.set_call_timeout(10000);
    int other_completions = 0;
    for (int i = 0; i < 50; ++i) {
        std::int32_t sum = 0;
        int rc = client.add(i, 1000, sum);
        for (int attempt = 0; attempt < 3 && rc == kCallOtherCompletion; ++attempt) {
            ++other_completions;
            rc = client.add(i, 1000, sum);
        }
        ASSERT_EQ(rc, kCallDone);
        EXPECT_EQ(sum, i + 1000);
    }
    EXPECT_LT(other_completions, 10);
    ServerStats stats;
    ASSERT_EQ(client.stats(stats), kCallDone);
    EXPECT_GT(stats.rejected, 100);
    EXPECT_GT(stats.dispatched, stats.rejected);

    server.close_stdin();
    const auto last = server.read_line();
    ASSERT_TRUE(last);
    EXPECT_TRUE(last->starts_with("served dispatched=")) << *last;
    EXPECT_EQ(server.wait(), 0);
}

INSTANTIATE_TEST_SUITE_P(Seeds, RandomRecordsTest, ::testing::Values(1u, 2u, 3u));

}  // namespace
