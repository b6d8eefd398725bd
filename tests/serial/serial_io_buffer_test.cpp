// The channel's read buffer: growth in 8192-byte steps, compaction in place,
// reads, and the raw request/reply read of the mode switches.
#include <gtest/gtest.h>

#include <chrono>
#include <numeric>
#include <thread>
#include <vector>

#include "serial/SerialIO.h"
#include "serial_io_channel.h"
#include "serial_io_device.h"

namespace fennix {
namespace {

using testsupport::Bytes;

Bytes Counting(size_t n, uint8_t first = 0) {
    Bytes bytes(n);
    for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<uint8_t>(first + i * 7);
    return bytes;
}

TEST(SerialIOBuffer, GrowsByWholeStepsBeyondTheAppendedCount) {
    testsupport::RecordingChannel channel;
    EXPECT_EQ(8192u, channel.BufferCapacity());
    Bytes big = Counting(20000);
    EXPECT_EQ(20000u, channel.AppendBuffer(big.data(), 20000));
    EXPECT_EQ(8192u + 3 * 8192u, channel.BufferCapacity());
    EXPECT_EQ(20000u, channel.UnreadBytes());

    // 32768 - 20000 bytes of room are left: 12768 fit, one more does not and
    // grows the buffer by one step (n div 8192 + 1 = 2 steps for 12769).
    Bytes rest = Counting(12768);
    channel.AppendBuffer(rest.data(), 12768);
    EXPECT_EQ(32768u, channel.BufferCapacity());
    uint8_t one = 1;
    channel.AppendBuffer(&one, 1);
    EXPECT_EQ(32768u + 8192u, channel.BufferCapacity());
    EXPECT_EQ(32769u, channel.UnreadBytes());
}

TEST(SerialIOBuffer, ExactlyFullFitsWithoutGrowing) {
    testsupport::RecordingChannel channel;
    Bytes full = Counting(8192);
    channel.AppendBuffer(full.data(), 8192);
    EXPECT_EQ(8192u, channel.BufferCapacity());
    channel.AppendBuffer(full.data(), 0);
    EXPECT_EQ(8192u, channel.BufferCapacity());
}

TEST(SerialIOBuffer, ReadWithoutAnOpenPortGivesSix) {
    testsupport::RecordingChannel channel;
    Bytes some = Counting(10);
    channel.AppendBuffer(some.data(), 10);
    uint8_t out[16];
    uint32_t got = 99;
    EXPECT_EQ(ChannelResult::NoPort, channel.Read(out, sizeof out, &got));
    EXPECT_EQ(0u, got);
    EXPECT_EQ(ChannelResult::NoPort, channel.LastResult());
    EXPECT_EQ(10u, channel.UnreadBytes());
    EXPECT_EQ(ChannelResult::NoPort, channel.Read(out, sizeof out, nullptr));
}

// The remaining tests read the buffer back, which needs an open port.
class SerialIOBufferOpen : public ::testing::Test {
protected:
    void SetUp() override {
        if (!testsupport::PtyDevice::Available()) GTEST_SKIP() << "needs a pseudo-terminal";
        ASSERT_TRUE(device_.ok());
        ASSERT_EQ(ChannelResult::Ok, channel_.NamePort(device_.path().c_str()));
        ASSERT_EQ(ChannelResult::Ok, channel_.InternalOpen());
    }

    Bytes ReadAll(uint32_t capacity) {
        Bytes out(capacity);
        uint32_t got = 0;
        EXPECT_EQ(ChannelResult::Ok, channel_.Read(out.data(), capacity, &got));
        out.resize(got);
        return out;
    }

    testsupport::PtyDevice device_;
    testsupport::RecordingChannel channel_;
};

TEST_F(SerialIOBufferOpen, CompactsInPlaceWhenTheTailIsFull) {
    Bytes first = Counting(6000, 1);
    channel_.AppendBuffer(first.data(), 6000);
    EXPECT_EQ(Bytes(first.begin(), first.begin() + 5000), ReadAll(5000));
    // 1000 unread at 5000..6000; 4000 more pass the end but fit after moving.
    Bytes second = Counting(4000, 99);
    channel_.AppendBuffer(second.data(), 4000);
    EXPECT_EQ(8192u, channel_.BufferCapacity());
    Bytes expected(first.begin() + 5000, first.end());
    expected.insert(expected.end(), second.begin(), second.end());
    EXPECT_EQ(expected, ReadAll(8192));
    EXPECT_EQ(0u, channel_.UnreadBytes());
}

TEST_F(SerialIOBufferOpen, GrowingKeepsOnlyTheUnreadBytesInOrder) {
    Bytes first = Counting(8000, 3);
    channel_.AppendBuffer(first.data(), 8000);
    EXPECT_EQ(Bytes(first.begin(), first.begin() + 100), ReadAll(100));
    Bytes second = Counting(9000, 50);
    channel_.AppendBuffer(second.data(), 9000);
    EXPECT_EQ(8192u + 2 * 8192u, channel_.BufferCapacity());
    Bytes expected(first.begin() + 100, first.end());
    expected.insert(expected.end(), second.begin(), second.end());
    EXPECT_EQ(expected, ReadAll(30000));
}

TEST_F(SerialIOBufferOpen, ReadTakesAtMostTheCapacity) {
    Bytes bytes = Counting(300);
    channel_.AppendBuffer(bytes.data(), 300);
    EXPECT_EQ(Bytes(bytes.begin(), bytes.begin() + 128), ReadAll(128));
    EXPECT_EQ(172u, channel_.UnreadBytes());
    EXPECT_EQ(Bytes(bytes.begin() + 128, bytes.end()), ReadAll(1000));
    EXPECT_EQ(Bytes{}, ReadAll(1000));
}

// Raw request/reply read.

TEST_F(SerialIOBufferOpen, ReplyArrivingBeforeTheWaitStillReachesTheCaller) {
    const Bytes request = {0x7C, 0x93, 0x49, 0x7E};
    const Bytes reply = {0x7C, 1, 2, 3, 0x7E};
    uint32_t written = 0;
    ASSERT_EQ(ChannelResult::Ok, channel_.InternalWrite(request.data(), 4, &written));
    EXPECT_EQ(4u, written);
    channel_.AppendBuffer(reply.data(), static_cast<uint32_t>(reply.size()));  // a fast device
    Bytes out(100);
    uint32_t got = 0;
    EXPECT_EQ(ChannelResult::Ok, channel_.WaitandReadBuffer(out.data(), 100, &got));
    out.resize(got);
    EXPECT_EQ(reply, out);
}

TEST_F(SerialIOBufferOpen, BytesFromBeforeTheRequestAreNotTakenForItsReply) {
    const Bytes stale = {0x60, 0x00, 0x12, 0x6A, 0x7E};  // an earlier answer nobody read
    channel_.AppendBuffer(stale.data(), 5);
    const Bytes request = {0x00, 0x78, 0xF0, 0x7E};
    ASSERT_EQ(ChannelResult::Ok, channel_.InternalWrite(request.data(), 4, nullptr));
    Bytes out(100);
    uint32_t got = 7;
    // Only the stale bytes are there: no reply.
    EXPECT_EQ(ChannelResult::NothingDone, channel_.WaitandReadBuffer(out.data(), 100, &got));
    EXPECT_EQ(0u, got);
    const Bytes reply = {0x00, 0x11, 0x7E};
    std::thread device([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        channel_.AppendBuffer(reply.data(), 3);
    });
    EXPECT_EQ(ChannelResult::Ok, channel_.WaitandReadBuffer(out.data(), 100, &got));
    device.join();
    out.resize(got);
    EXPECT_EQ(reply, out);
}

TEST_F(SerialIOBufferOpen, ASecondWaitAfterTheSameRequestWantsNewerBytes) {
    const Bytes request = {0x0C, 0x14, 0x3A, 0x7E};
    ASSERT_EQ(ChannelResult::Ok, channel_.InternalWrite(request.data(), 4, nullptr));
    const Bytes part1 = {0x0C, 1, 2}, part2 = {3, 4, 0x7E};
    channel_.AppendBuffer(part1.data(), 3);
    Bytes out(100);
    uint32_t got = 0;
    ASSERT_EQ(ChannelResult::Ok, channel_.WaitandReadBuffer(out.data(), 100, &got));
    EXPECT_EQ(3u, got);
    EXPECT_EQ(ChannelResult::NothingDone, channel_.WaitandReadBuffer(out.data(), 100, &got));
    channel_.AppendBuffer(part2.data(), 3);
    ASSERT_EQ(ChannelResult::Ok, channel_.WaitandReadBuffer(out.data(), 100, &got));
    out.resize(got);
    EXPECT_EQ(part2, out);
}

TEST(SerialIORawRead, NothingArrivingTimesOutWithMinusOne) {
    testsupport::RecordingChannel channel;
    uint8_t out[8];
    uint32_t got = 5;
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ChannelResult::NothingDone, channel.WaitandReadBuffer(out, sizeof out, &got));
    auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(0u, got);
    // The wait is the scaled raw reply wait, not forever.
    EXPECT_GE(waited, std::chrono::milliseconds(channel.Times().rawReplyWait - 1));
}

}  // namespace
}  // namespace fennix
