// The command queue's ring arithmetic at its boundaries, records pushed in one process and popped
// in another, and a header or record lengths that a peer corrupted.
#include "interface/command_queue.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/exception.h"
#include "tests/interface/helpers.h"
#include "tests/interface/records.h"

using namespace vantrel;
using namespace vantrel::test;

namespace {

// A 116-byte queue: a ring of 100 bytes from offset 16 to 115.
constexpr std::size_t kSize = 116;

class CommandQueueTest : public IpcTest {};

TEST_F(CommandQueueTest, RecordEqualToTheFreeSpaceFillsTheRingAndComesOutWholeAcrossTheEnd) {
    // The other process moves both offsets to 56, so a 100-byte record must wrap after 60 bytes.
    auto other = interface_child({"queue", "Q", std::to_string(kSize), "push:40:1", "pop"});
    ASSERT_EQ(other.read_line(), "push ok=1 count=1 read=16 write=56");
    ASSERT_TRUE(other.read_line()->starts_with("pop "));

    CommandQueue queue("Q", kSize);
    EXPECT_FALSE(queue.created());
    EXPECT_EQ(queue.free_space(), 100u);
    const RecordBytes big = pattern_record(100, 7);
    ASSERT_TRUE(queue.push(big));
    const auto full = queue.state();
    EXPECT_EQ(full.count, 1);
    EXPECT_EQ(full.read, 56);
    EXPECT_EQ(full.write, 56);  // read = write with a non-zero count: full
    EXPECT_EQ(queue.free_space(), 0u);
    EXPECT_FALSE(queue.push(pattern_record(4, 1)));

    auto reader = interface_child({"queue", "Q", std::to_string(kSize), "pop", "state"});
    EXPECT_EQ(reader.read_line(), "pop " + hex(big));
    EXPECT_EQ(reader.read_line(), "state count=0 read=56 write=56");
}

TEST_F(CommandQueueTest, RecordEndingExactlyAtTheEndSetsTheWriteOffsetBackToTheRingStart) {
    CommandQueue queue("Q", kSize);
    const RecordBytes first = pattern_record(60, 3);
    const RecordBytes second = pattern_record(40, 9);  // bytes 76..115, the last of the segment
    ASSERT_TRUE(queue.push(first));
    ASSERT_TRUE(queue.push(second));
    EXPECT_EQ(queue.state().write, 16);

    auto reader = interface_child({"queue", "Q", std::to_string(kSize), "pop", "pop", "state"});
    EXPECT_EQ(reader.read_line(), "pop " + hex(first));
    EXPECT_EQ(reader.read_line(), "pop " + hex(second));
    EXPECT_EQ(reader.read_line(), "state count=0 read=16 write=16");
}

TEST_F(CommandQueueTest, LengthFieldSplitAcrossTheEndIsReadWhole) {
    auto other = interface_child({"queue", "Q", std::to_string(kSize), "push:99:1", "pop"});
    ASSERT_EQ(other.read_line(), "push ok=1 count=1 read=16 write=115");
    ASSERT_TRUE(other.read_line()->starts_with("pop "));

    CommandQueue queue("Q", kSize);
    // Its first byte is the segment's last; the second byte of the length is at 16.
    const RecordBytes record = pattern_record(54, 5);
    ASSERT_TRUE(queue.push(record));
    EXPECT_EQ(queue.state().write, 16 + 53);
    auto reader = interface_child({"queue", "Q", std::to_string(kSize), "pop"});
    EXPECT_EQ(reader.read_line(), "pop " + hex(record));
}

TEST_F(CommandQueueTest, EmptyQueuePopsNothingAndMalformedPushesAreRefused) {
    CommandQueue queue("Q", kSize);
    EXPECT_FALSE(queue.pop());
    RecordBytes short_length = pattern_record(8, 1);
    short_length[0] = 3;  // below its own header
    EXPECT_FALSE(queue.push(short_length));
    RecordBytes beyond = pattern_record(8, 1);
    beyond[0] = 9;  // claims more bytes than there are
    EXPECT_FALSE(queue.push(beyond));
    EXPECT_FALSE(queue.push(pattern_record(101, 1)));  // larger than the whole ring
    EXPECT_EQ(queue.state().count, 0);
    EXPECT_EQ(queue.resets(), 0u);
}

// Corruptions a dead or faulty peer can leave; each one resets the queue, and it works afterwards.
TEST_F(CommandQueueTest, CorruptedHeaderOrRecordLengthResetsTheQueueWhichThenWorks) {
    struct Corruption {
        const char* what;
        std::size_t offset;
        std::int32_t value;
    };
    const Corruption corruptions[] = {
        {"size", 0, 999},          {"negative count", 4, -1},      {"read below ring", 8, 15},
        {"read past end", 8, 116}, {"write past end", 12, 5000},   {"count beyond used", 4, 30},
        {"length below 4", 16, 2}, {"length beyond used", 16, 90},
    };
    for (const auto& c : corruptions) {
        SCOPED_TRACE(c.what);
        CommandQueue queue("Q", kSize);
        const auto resets = queue.resets();
        ASSERT_TRUE(queue.push(pattern_record(20, 1)));
        ASSERT_TRUE(queue.push(pattern_record(20, 2)));
        if (c.offset == 16) {
            const std::uint16_t length = static_cast<std::uint16_t>(c.value);
            ASSERT_TRUE(queue.write(16, &length, sizeof length));
        } else {
            ASSERT_TRUE(queue.write(c.offset, &c.value, sizeof c.value));
        }
        EXPECT_FALSE(queue.pop());
        EXPECT_EQ(queue.resets(), resets + 1);
        const auto s = queue.state();
        EXPECT_EQ(s.size, 116);
        EXPECT_EQ(s.count, 0);
        EXPECT_EQ(s.read, 16);
        EXPECT_EQ(s.write, 16);
        const RecordBytes after = pattern_record(30, 4);
        ASSERT_TRUE(queue.push(after));
        EXPECT_EQ(queue.pop(), after);
    }
}

TEST_F(CommandQueueTest, LastRecordWhoseLengthMissesTheWriteOffsetIsNotServed) {
    CommandQueue queue("Q", kSize);
    ASSERT_TRUE(queue.push(pattern_record(20, 1)));
    const std::uint16_t shorter = 12;  // would leave 8 bytes that belong to no record
    ASSERT_TRUE(queue.write(16, &shorter, sizeof shorter));
    EXPECT_FALSE(queue.pop());
    EXPECT_EQ(queue.resets(), 1u);
}

TEST_F(CommandQueueTest, ExistingQueueKeepsItsSizeAndTooSmallQueuesAreRefused) {
    CommandQueue first("Q", kSize);
    CommandQueue second("Q", 1000000);
    EXPECT_EQ(second.size(), kSize);
    EXPECT_EQ(second.requested_size(), 1000000u);
    ASSERT_TRUE(first.push(pattern_record(60, 2)));
    EXPECT_FALSE(second.push(pattern_record(60, 3)));  // ring arithmetic on the mapped size
    EXPECT_THROW(CommandQueue("Tiny", 19), Exception);
    EXPECT_THROW(CommandQueue("Zero", 0), Exception);
}

}  // namespace
