// Rebuilding frames byte by byte in DIAG and download mode.
#include "serial/Hdlc.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "log/log_test_fixture.h"

namespace fennix {
namespace {

using Bytes = std::vector<uint8_t>;
constexpr uint32_t kDiagMode = 5;
constexpr uint32_t kDownloadMode = 6;

std::vector<int32_t> Feed(CFrameReceiver& receiver, const Bytes& bytes) {
    std::vector<int32_t> results;
    for (uint8_t b : bytes) results.push_back(receiver.ReceiveByte(b));
    return results;
}

Bytes Received(const CFrameReceiver& receiver, size_t n) { return Bytes(receiver.Data(), receiver.Data() + n); }

Bytes RandomPacket(size_t n, unsigned seed) {
    std::mt19937 random(seed);
    Bytes packet(n);
    for (auto& b : packet) b = static_cast<uint8_t>(random());
    return packet;
}

TEST(HdlcReceiver, DownloadFrameWithOpeningFlag) {
    CFrameReceiver receiver;
    receiver.SetMode(kDownloadMode);
    EXPECT_EQ((std::vector<int32_t>{0, 0, 0, 0, 1}), Feed(receiver, {0x7E, 0x02, 0x6A, 0xD3, 0x7E}));
    // The CRC bytes stay behind the packet.
    EXPECT_EQ(3u, receiver.Length());
    EXPECT_EQ((Bytes{0x02, 0x6A, 0xD3}), Received(receiver, 3));
}

TEST(HdlcReceiver, DiagFrameEndsAtItsFlag) {
    CFrameReceiver receiver;
    receiver.SetMode(kDiagMode);
    EXPECT_EQ((std::vector<int32_t>{0, 0, 0, 1}), Feed(receiver, {0x06, 0x4E, 0x95, 0x7E}));
    EXPECT_EQ(0x06, receiver.Data()[0]);
}

TEST(HdlcReceiver, DownloadModeAcceptsFramesStartingWithEight) {
    const Bytes packet{0x08, 0x00, 0x12};
    CFrameReceiver receiver;
    receiver.SetMode(kDownloadMode);
    std::vector<int32_t> results = Feed(receiver, PackFrame(packet.data(), packet.size(), 0, kHdlcFlag));
    EXPECT_EQ(3, results.back());
    EXPECT_EQ(packet, Received(receiver, 3));
}

TEST(HdlcReceiver, DownloadModeDiscardsUpToTheFlagAfterABadFirstByte) {
    CFrameReceiver receiver;
    receiver.SetMode(kDownloadMode);
    EXPECT_EQ((std::vector<int32_t>{-2, -1, -1, -1}), Feed(receiver, {0x02, 0x6A, 0xD3, 0x7E}));
    EXPECT_EQ(0u, receiver.Length());
    // The flag ended the discarding; the next frame comes through.
    EXPECT_EQ(1, Feed(receiver, {0x7E, 0x06, 0x4E, 0x95, 0x7E}).back());

    // Clear also ends the discarding.
    receiver.Clear();
    EXPECT_EQ(-2, receiver.ReceiveByte(0x7D));
    receiver.Clear();
    EXPECT_EQ(1, Feed(receiver, {0x7E, 0x06, 0x4E, 0x95, 0x7E}).back());
}

// After a bad frame a read goes on at the next frame: behind the failing flag
// in DIAG mode; in download mode at the flag that opens the next frame.
TEST(HdlcReceiver, ResyncFindsTheNextFrameInTheSameRead) {
    const Bytes diag{0x01, 0x02, 0x7E, 0x06, 0x4E, 0x95, 0x7E};
    EXPECT_EQ(3u, ResyncPosition(diag.data(), diag.size(), 2, kDiagMode));
    const Bytes skipped{0x01, 0x7D, 0x7E, 0x06};
    EXPECT_EQ(3u, ResyncPosition(skipped.data(), skipped.size(), 0, kDiagMode));
    EXPECT_EQ(2u, ResyncPosition(skipped.data(), 2, 0, kDiagMode)) << "no flag left";

    const Bytes closedThenOpened{0x7E, 0x02, 0x7E, 0x7E, 0x06, 0x4E, 0x95, 0x7E};
    EXPECT_EQ(3u, ResyncPosition(closedThenOpened.data(), closedThenOpened.size(), 2, kDownloadMode));
    const Bytes garbageThenFrame{0x05, 0x05, 0x7E, 0x06, 0x4E, 0x95, 0x7E};
    const size_t at = ResyncPosition(garbageThenFrame.data(), garbageThenFrame.size(), 0, kDownloadMode);
    ASSERT_EQ(2u, at);
    CFrameReceiver receiver;
    receiver.SetMode(kDownloadMode);
    EXPECT_EQ((std::vector<int32_t>{0, 0, 0, 0, 1}),
              Feed(receiver, Bytes(garbageThenFrame.begin() + static_cast<long>(at), garbageThenFrame.end())));
    EXPECT_EQ(3u, ResyncPosition(garbageThenFrame.data(), 3, 0, kDownloadMode)) << "a flag at the end";
}

TEST(HdlcReceiver, ByteAfterOpeningFlagIsStoredUnchanged) {
    for (uint8_t first : {kHdlcEscape, kHdlcFlag}) {
        // The stored packet begins with the raw reserved byte.
        const Bytes stored{first, 0x01};
        Bytes wire = PackFrame(stored.data(), stored.size(), kHdlcFlag, kHdlcFlag);
        ASSERT_EQ(kHdlcEscape, wire[1]);
        wire.erase(wire.begin() + 2);  // drop the stuffing: 7E <raw byte> ...
        wire[1] = first;
        CFrameReceiver receiver;
        receiver.SetMode(kDownloadMode);
        EXPECT_EQ(2, Feed(receiver, wire).back()) << int(first);
        EXPECT_EQ(stored, Received(receiver, 2));
    }
}

TEST(HdlcReceiver, StuffedBytesComeBackInBothModes) {
    // Not at the start: there a download frame takes its byte unchanged.
    const Bytes packet{0x10, 0x7E, 0x7D, 0x7D, 0x7E, 0x20, 0x5E, 0x5D};
    for (uint32_t mode : {kDiagMode, kDownloadMode}) {
        const uint8_t leading = mode == kDownloadMode ? kHdlcFlag : 0;
        CFrameReceiver receiver;
        receiver.SetMode(mode);
        std::vector<int32_t> results = Feed(receiver, PackFrame(packet.data(), packet.size(), leading, kHdlcFlag));
        EXPECT_EQ(static_cast<int32_t>(packet.size()), results.back()) << mode;
        results.pop_back();
        for (int32_t r : results) EXPECT_EQ(0, r);
        EXPECT_EQ(packet, Received(receiver, packet.size()));
    }
}

TEST(HdlcReceiver, CheckCoversEveryByteUpToTheBufferSize) {
    const Bytes packet = RandomPacket(CFrameReceiver::kBufferSize - 2, 3);
    for (uint32_t mode : {kDiagMode, kDownloadMode}) {
        const uint8_t leading = mode == kDownloadMode ? kHdlcFlag : 0;
        CFrameReceiver receiver;
        receiver.SetMode(mode);
        const Bytes frame = PackFrame(packet.data(), packet.size(), leading, kHdlcFlag);
        EXPECT_EQ(static_cast<int32_t>(packet.size()), Feed(receiver, frame).back());
        EXPECT_EQ(packet, Received(receiver, packet.size()));

        // One changed bit anywhere fails the frame.
        for (size_t at : {size_t(1), frame.size() / 2, frame.size() - 3}) {
            Bytes damaged = frame;
            damaged[at] ^= 0x01;
            if (damaged[at] == kHdlcFlag || damaged[at] == kHdlcEscape || frame[at] == kHdlcEscape)
                continue;  // would change the framing, not just one byte
            receiver.Clear();
            EXPECT_EQ(-3, Feed(receiver, damaged).back()) << at;
            EXPECT_EQ(0u, receiver.Length());
        }
    }
}

TEST(HdlcReceiver, OverlongFrameFailsWithoutWritingPastTheBuffer) {
    const Bytes packet = RandomPacket(CFrameReceiver::kBufferSize + 100, 5);
    CFrameReceiver receiver;
    receiver.SetMode(kDiagMode);
    std::vector<int32_t> results = Feed(receiver, PackFrame(packet.data(), packet.size(), 0, kHdlcFlag));
    EXPECT_EQ(-3, results.back());
    results.pop_back();
    for (int32_t r : results) ASSERT_EQ(0, r);
    EXPECT_EQ(0u, receiver.Length());
    receiver.Clear();
    EXPECT_EQ(1, Feed(receiver, {0x06, 0x4E, 0x95, 0x7E}).back());

    // One byte more than the buffer holds is already too long.
    const Bytes justOver = RandomPacket(CFrameReceiver::kBufferSize - 1, 6);
    receiver.Clear();
    EXPECT_EQ(-3, Feed(receiver, PackFrame(justOver.data(), justOver.size(), 0, kHdlcFlag)).back());
}

TEST(HdlcReceiver, FrameOfOnlyItsCrcLeavesNothingBehind) {
    CFrameReceiver receiver;
    receiver.SetMode(kDiagMode);
    EXPECT_EQ((std::vector<int32_t>{0, 0, 0}), Feed(receiver, {0x00, 0x00, 0x7E}));
    EXPECT_EQ(0u, receiver.Length());
    // The owner feeds on without a Clear; the next frame is not spoiled.
    EXPECT_EQ(1, Feed(receiver, {0x06, 0x4E, 0x95, 0x7E}).back());
}

class HdlcReceiverLog : public testsupport::LogFileTest {};

TEST_F(HdlcReceiverLog, FailuresAreLoggedAtErrorLevel) {
    StartWith(1);
    CFrameReceiver receiver;
    receiver.SetMode(kDiagMode);
    EXPECT_EQ(-3, receiver.ReceiveByte(0x7E));
    receiver.Clear();
    EXPECT_EQ((std::vector<int32_t>{0, 0, 0, -3}), Feed(receiver, {0x06, 0x4E, 0x96, 0x7E}));
    EXPECT_EQ(0u, receiver.Length());
    EndLog();
    const auto lines = ReadLines();
    ASSERT_EQ(8u, lines.size());
    EXPECT_EQ("<!ER>", lines[2].tag);
    EXPECT_EQ("The length of buffer including CRC should be larger than 2.", lines[2].rest);
    EXPECT_EQ("<!ER>", lines[3].tag);
    EXPECT_EQ("The 0 bytes buffer content is: ", lines[3].rest);
    EXPECT_EQ("CRC checking fails.", lines[4].rest);
    EXPECT_EQ("The 3 bytes buffer content is: 06 4E 96 ", lines[5].rest);
}

}  // namespace
}  // namespace fennix
