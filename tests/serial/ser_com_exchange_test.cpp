// Request/reply exchange of the packet layer over a pseudo-terminal: the bytes
// each request puts on the wire, the replies handed back, and what happens to
// replies that come late, come corrupted, come two at a time or do not fit.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "ser_com_fixture.h"

namespace fennix {
namespace {

using testsupport::Bytes;
using testsupport::Concat;
using testsupport::DiagFrame;
using testsupport::DownloadFrame;
using testsupport::ElapsedMs;
using testsupport::Eventually;
using Clock = std::chrono::steady_clock;

class SerComExchange : public testsupport::SerComTest {};

TEST_F(SerComExchange, DiagRequestGoesWithoutOpeningFlagAndTheReplyComesBackUnstuffed) {
    OpenIn(kPhoneModeDIAG);
    // The reply carries both reserved values, so it arrives stuffed.
    const Bytes replyPacket = {0x0C, 0x7D, 0x7E, 0x55};
    Answer({0x0C, 0x14, 0x3A, 0x7E}, DiagFrame(replyPacket));

    uint8_t request = 0x0C;
    uint8_t reply[16];
    std::fill(std::begin(reply), std::end(reply), 0xAA);
    ASSERT_EQ(4, Lib().DIAGTxRx(&request, 1, reply, sizeof reply, 2000).LengthOrCode());
    EXPECT_EQ(replyPacket, Bytes(reply, reply + 4));
    for (size_t i = 4; i < sizeof reply; ++i) EXPECT_EQ(0, reply[i]) << "byte " << i;
    EXPECT_EQ(Bytes({0x0C, 0x14, 0x3A, 0x7E}), WireSinceMark());
    EXPECT_EQ(0u, Link().PendingFrames());
}

TEST_F(SerComExchange, DownloadRequestCarriesBothFlags) {
    OpenIn(kPhoneModeDL);
    Answer({0x7E, 0x06, 0x4E, 0x95, 0x7E}, {0x7E, 0x02, 0x6A, 0xD3, 0x7E});

    uint8_t nop = 0x06;
    uint8_t reply[8];
    std::fill(std::begin(reply), std::end(reply), 0xAA);
    ASSERT_EQ(1, Lib().DLTxRx(&nop, 1, reply, sizeof reply, 2000).LengthOrCode());
    EXPECT_EQ(0x02, reply[0]);
    for (size_t i = 1; i < sizeof reply; ++i) EXPECT_EQ(0, reply[i]) << "byte " << i;
    EXPECT_EQ(Bytes({0x7E, 0x06, 0x4E, 0x95, 0x7E}), WireSinceMark());
}

TEST_F(SerComExchange, EachModeEntryRefusesTheOtherModeWithoutTouchingThePort) {
    OpenIn(kPhoneModeDIAG);
    uint8_t nop = 0x06;
    uint8_t reply[8] = {};
    EXPECT_EQ(kPacketWrongMode, Lib().DLTxRx(&nop, 1, reply, sizeof reply, 2000).LengthOrCode());

    Channel().SetPhoneMode(kPhoneModeDL);
    EXPECT_EQ(kPacketWrongMode, Lib().DIAGTxRx(&nop, 1, reply, sizeof reply, 2000).LengthOrCode());
    Channel().SetPhoneMode(kPhoneModeAt);
    EXPECT_EQ(kPacketWrongMode, Lib().DIAGTxRx(&nop, 1, reply, sizeof reply, 2000).LengthOrCode());
    EXPECT_EQ(kPacketWrongMode, Lib().DLTxRx(&nop, 1, reply, sizeof reply, 2000).LengthOrCode());

    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_TRUE(WireSinceMark().empty());
}

TEST_F(SerComExchange, BlockedWritesAreRefusedWithoutWaiting) {
    OpenIn(kPhoneModeDIAG);
    Channel().SetWritesBlocked(true);
    uint8_t request = 0x0C;
    uint8_t reply[8] = {};
    auto start = Clock::now();
    EXPECT_EQ(kPacketWriteRefused, Lib().DIAGTxRx(&request, 1, reply, sizeof reply, 5000).LengthOrCode());
    EXPECT_LT(ElapsedMs(start), 4000) << "the refusal must not wait for a reply";
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_TRUE(WireSinceMark().empty());

    Channel().SetWritesBlocked(false);
    Answer({0x0C, 0x14, 0x3A, 0x7E}, DiagFrame({0x0C, 0x01}));
    EXPECT_EQ(2, Lib().DIAGTxRx(&request, 1, reply, sizeof reply, 2000).LengthOrCode());
}

TEST_F(SerComExchange, LateReplyIsTakenByTheNextExchange) {
    OpenIn(kPhoneModeDIAG);
    uint8_t first = 0x4B;
    uint8_t reply[32] = {};
    auto start = Clock::now();
    EXPECT_EQ(kPacketTimeout, Lib().DIAGTxRx(&first, 1, reply, sizeof reply, 150).LengthOrCode());
    EXPECT_GE(ElapsedMs(start), 140);

    // The answer to the first request arrives after it gave up.
    Device().Send(DiagFrame({0x4B, 0x0A, 0x0B}));
    ASSERT_TRUE(Eventually([&] { return Link().PendingFrames() == 1; }, 3000));

    // The second request is never answered, yet its exchange returns at once
    // with the late reply.
    uint8_t second = 0x4C;
    start = Clock::now();
    ASSERT_EQ(3, Lib().DIAGTxRx(&second, 1, reply, sizeof reply, 3000).LengthOrCode());
    EXPECT_LT(ElapsedMs(start), 2500);
    EXPECT_EQ(Bytes({0x4B, 0x0A, 0x0B}), Bytes(reply, reply + 3));
    EXPECT_EQ(0u, Link().PendingFrames());
}

TEST_F(SerComExchange, DrainReturnsZeroAtOnceWhenNothingIsPosted) {
    OpenIn(kPhoneModeDIAG);
    uint8_t scratch[4096];
    uint32_t count = 7;
    auto start = Clock::now();
    EXPECT_EQ(0, Lib().ReadReturnPacket(scratch, sizeof scratch, &count, 1024).LengthOrCode());
    EXPECT_EQ(0u, count);
    EXPECT_LT(ElapsedMs(start), 100);
}

TEST_F(SerComExchange, DrainTakesTheLateReplySoTheNextExchangeGetsItsOwn) {
    OpenIn(kPhoneModeDIAG);
    uint8_t request = 0x4B;
    uint8_t reply[32] = {};
    EXPECT_EQ(kPacketTimeout, Lib().DIAGTxRx(&request, 1, reply, sizeof reply, 100).LengthOrCode());
    Device().Send(DiagFrame({0x4B, 0x01, 0x02, 0x03, 0x04}));
    ASSERT_TRUE(Eventually([&] { return Link().PendingFrames() == 1; }, 3000));

    uint8_t scratch[4096];
    std::fill(std::begin(scratch), std::end(scratch), 0xAA);
    uint32_t count = 0;
    EXPECT_EQ(5, Lib().ReadReturnPacket(scratch, sizeof scratch, &count, 1024).LengthOrCode());
    EXPECT_EQ(1u, count);
    EXPECT_EQ(Bytes({0x4B, 0x01, 0x02, 0x03, 0x04}), Bytes(scratch, scratch + 5));
    EXPECT_EQ(0, scratch[5]);
    EXPECT_EQ(0u, Link().PendingFrames());

    uint8_t next = 0x0C;
    Answer({0x0C, 0x14, 0x3A, 0x7E}, DiagFrame({0x0C, 0x77}));
    ASSERT_EQ(2, Lib().DIAGTxRx(&next, 1, reply, sizeof reply, 2000).LengthOrCode());
    EXPECT_EQ(0x77, reply[1]);
}

TEST_F(SerComExchange, TwoFramesOfOneReadReachTwoTakersInOrder) {
    OpenIn(kPhoneModeDIAG);
    Answer({0x0C, 0x14, 0x3A, 0x7E}, Concat(DiagFrame({0x0C, 0x01}), DiagFrame({0x0C, 0x02, 0x03})));
    uint8_t request = 0x0C;
    uint8_t reply[16] = {};
    ASSERT_EQ(2, Lib().DIAGTxRx(&request, 1, reply, sizeof reply, 2000).LengthOrCode());
    EXPECT_EQ(0x01, reply[1]);
    // The second frame is handed over once the first was taken.
    ASSERT_TRUE(Eventually([&] { return Link().PendingFrames() == 1; }, 3000));
    uint8_t silent = 0x4B;
    ASSERT_EQ(3, Lib().DIAGTxRx(&silent, 1, reply, sizeof reply, 2000).LengthOrCode());
    EXPECT_EQ(Bytes({0x0C, 0x02, 0x03}), Bytes(reply, reply + 3));
}

TEST_F(SerComExchange, CorruptFrameLosesOnlyItselfNotTheGoodFrameBehindIt) {
    OpenIn(kPhoneModeDIAG);
    Bytes spoiled = DiagFrame({0x0C, 0x01});
    spoiled[1] ^= 0xFF;  // CRC no longer matches
    Answer({0x0C, 0x14, 0x3A, 0x7E}, Concat(spoiled, DiagFrame({0x0C, 0x02})));
    uint8_t request = 0x0C;
    uint8_t reply[16] = {};
    ASSERT_EQ(2, Lib().DIAGTxRx(&request, 1, reply, sizeof reply, 2000).LengthOrCode());
    EXPECT_EQ(0x02, reply[1]) << "the good frame behind the corrupt one in the same read";

    Answer(DiagFrame({0x4B}), DiagFrame({0x4B, 0x09}));
    uint8_t next = 0x4B;
    ASSERT_EQ(2, Lib().DIAGTxRx(&next, 1, reply, sizeof reply, 2000).LengthOrCode());
    EXPECT_EQ(0x09, reply[1]);
}

TEST_F(SerComExchange, ReplyLargerThanTheBufferIsReleasedAfterTheOverflow) {
    OpenIn(kPhoneModeDIAG);
    Bytes big(200);
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<uint8_t>(i % 0x70);
    big[0] = 0x26;
    Answer(DiagFrame({0x26}), DiagFrame(big));
    uint8_t request = 0x26;
    uint8_t reply[133] = {};
    EXPECT_EQ(kPacketTimeout, Lib().DIAGTxRx(&request, 1, reply, sizeof reply, 2000).LengthOrCode());
    EXPECT_EQ(0u, Link().PendingFrames());

    // The listener goes on: the next request gets its own reply, not the one
    // that did not fit.
    Answer({0x0C, 0x14, 0x3A, 0x7E}, DiagFrame({0x0C, 0x05}));
    uint8_t next = 0x0C;
    ASSERT_EQ(2, Lib().DIAGTxRx(&next, 1, reply, sizeof reply, 2000).LengthOrCode());
    EXPECT_EQ(Bytes({0x0C, 0x05}), Bytes(reply, reply + 2));
}

TEST_F(SerComExchange, DrainReleasesAFrameThatDoesNotFit) {
    OpenIn(kPhoneModeDIAG);
    uint8_t request = 0x4B;
    uint8_t reply[16] = {};
    EXPECT_EQ(kPacketTimeout, Lib().DIAGTxRx(&request, 1, reply, sizeof reply, 100).LengthOrCode());
    Device().Send(DiagFrame(Bytes(64, 0x11)));
    ASSERT_TRUE(Eventually([&] { return Link().PendingFrames() == 1; }, 3000));

    uint8_t small[32];
    uint32_t count = 0;
    EXPECT_EQ(kPacketTimeout, Lib().ReadReturnPacket(small, sizeof small, &count, 1024).LengthOrCode());
    EXPECT_EQ(0u, count);
    EXPECT_EQ(0u, Link().PendingFrames());

    Answer({0x0C, 0x14, 0x3A, 0x7E}, DiagFrame({0x0C, 0x06}));
    uint8_t next = 0x0C;
    ASSERT_EQ(2, Lib().DIAGTxRx(&next, 1, reply, sizeof reply, 2000).LengthOrCode());
    EXPECT_EQ(0x06, reply[1]);
}

TEST_F(SerComExchange, CloseReleasesAListenerHoldingFramesNobodyTook) {
    OpenIn(kPhoneModeDIAG);
    // Two frames in one read, neither taken: the listener waits on the first.
    Device().Send(Concat(DiagFrame({0x4B, 0x01}), DiagFrame({0x4B, 0x02})));
    ASSERT_TRUE(Eventually([&] { return Link().PendingFrames() == 1; }, 3000));

    // The ending listener closes the port itself, so Close has nothing left
    // to close.
    EXPECT_EQ(ChannelResult::Ok, Lib().CloseCOMPort());
    EXPECT_FALSE(Channel().IsListenerRunning()) << "the second frame must not hold the listener";
    EXPECT_FALSE(Channel().IsPortOpen());
    EXPECT_EQ(0u, Link().PendingFrames());

    // Opened again, the port starts clean: nothing stale answers a request.
    OpenIn(kPhoneModeDIAG);
    uint8_t request = 0x4B;
    uint8_t reply[16] = {};
    EXPECT_EQ(kPacketTimeout, Lib().DIAGTxRx(&request, 1, reply, sizeof reply, 200).LengthOrCode());
    Answer({0x0C, 0x14, 0x3A, 0x7E}, DiagFrame({0x0C, 0x08}));
    uint8_t status = 0x0C;
    ASSERT_EQ(2, Lib().DIAGTxRx(&status, 1, reply, sizeof reply, 2000).LengthOrCode());
    EXPECT_EQ(0x08, reply[1]);
}

TEST_F(SerComExchange, OpenComportChecksItsArgumentsAndAcceptsAnOpenPort) {
    EXPECT_EQ(PacketResult::NullParameter, Lib().OpenComport(nullptr, Device().path().c_str()));
    EXPECT_EQ(PacketResult::NullParameter, Lib().OpenComport("Target download", nullptr));
    EXPECT_FALSE(Channel().IsListenerRunning());

    OpenIn(kPhoneModeDIAG);
    EXPECT_EQ(PacketResult::Ok, Lib().OpenComport("Target download", Device().path().c_str()));
    EXPECT_EQ(kPhoneModeDIAG, Channel().GetPhoneMode());
}

TEST_F(SerComExchange, ClosingAPortThatWasNeverOpenedReportsNothingClosed) {
    EXPECT_EQ(ChannelResult::Ok, Lib().CloseCOMPort());
    EXPECT_EQ(kPhoneModeStopped, Channel().GetPhoneMode());
}

TEST_F(SerComExchange, ClosingTwiceWritesNoErrorLine) {
    StartWith(1);
    OpenIn(kPhoneModeDIAG);
    Lib().CloseCOMPort();
    // The second close finds no listener and no port: the way out of every
    // flow, which the error log must not call a fault.
    Lib().CloseCOMPort();
    EndLog();
    for (const auto& line : testsupport::ParseLogLines(ReadRaw())) EXPECT_EQ("<NML>", line.tag) << line.rest;
}

TEST_F(SerComExchange, FailedExchangesLeaveTheirLinesInTheLog) {
    StartWith(1);
    OpenIn(kPhoneModeDIAG);
    uint8_t request = 0x4B;
    uint8_t reply[4] = {};
    EXPECT_EQ(kPacketTimeout, Lib().DIAGTxRx(&request, 1, reply, sizeof reply, 50).LengthOrCode());

    Answer(DiagFrame({0x26}), DiagFrame(Bytes(10, 0x26)));
    uint8_t big = 0x26;
    EXPECT_EQ(kPacketTimeout, Lib().DIAGTxRx(&big, 1, reply, sizeof reply, 2000).LengthOrCode());

    Bytes spoiled = DiagFrame({0x0C, 0x01});
    spoiled[2] ^= 0xFF;
    Answer({0x0C, 0x14, 0x3A, 0x7E}, spoiled);
    uint8_t status = 0x0C;
    EXPECT_EQ(kPacketTimeout, Lib().DIAGTxRx(&status, 1, reply, sizeof reply, 300).LengthOrCode());
    Lib().CloseCOMPort();
    EndLog();

    const auto lines = testsupport::ParseLogLines(ReadRaw());
    EXPECT_EQ(2u, testsupport::CountPortLines(lines, "<!ER>", "CSerCOMLibrary::TxRx\tTime out in OnRecv."));
    EXPECT_EQ(1u, testsupport::CountPortLines(lines, "<!ER>", "CSerCOMLibrary::TxRx\tBuffer overflow."));
    EXPECT_EQ(1u, testsupport::CountPortLines(lines, "<!ER>",
                                              "CSerCOMLibrary::OnEvent\tPacket check fails with error code -3"));
    // Nothing below the error level was written.
    for (const auto& line : lines) EXPECT_TRUE(line.tag == "<!ER>" || line.tag == "<NML>") << line.rest;
}

TEST_F(SerComExchange, DrainAndCloseLinesNameThePort) {
    StartWith(5);
    OpenIn(kPhoneModeDIAG);
    uint8_t request = 0x4B;
    uint8_t reply[16] = {};
    EXPECT_EQ(kPacketTimeout, Lib().DIAGTxRx(&request, 1, reply, sizeof reply, 50).LengthOrCode());
    Device().Send(DiagFrame({0x4B, 0x01}));
    ASSERT_TRUE(Eventually([&] { return Link().PendingFrames() == 1; }, 3000));
    uint8_t scratch[4096];
    EXPECT_EQ(2, Lib().ReadReturnPacket(scratch, sizeof scratch, nullptr, 1024).LengthOrCode());
    Lib().CloseCOMPort();
    EndLog();

    const auto lines = testsupport::ParseLogLines(ReadRaw());
    const std::string function = "CSerCOMLibrary::ReadReturnPacket\t";
    EXPECT_EQ(1u, testsupport::CountPortLines(lines, "<DBG>", function + "Start to read 1 return message completed."));
    EXPECT_EQ(1u, testsupport::CountPortLines(lines, "<DBG>", function + "Read One return message completed."));
    EXPECT_EQ(1u, testsupport::CountPortLines(lines, "<WRN>",
                                              "CSerCOMLibrary::CloseCOMPort\tTry to close COM " + Device().path()));
    EXPECT_GE(testsupport::CountPortLines(
                  lines, "<DBG>", "CSerCOMLibrary::OnEvent\tComplete one return message and forward to upper layer."),
              1u);
}

}  // namespace
}  // namespace fennix
