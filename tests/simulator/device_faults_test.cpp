// The fault switches: silence, wrong first byte, spoiled CRC, slow answers,
// a port that stays away, and faults limited to one command or a few answers.
#include <gtest/gtest.h>

#include "DeviceTest.h"
#include "TestBytes.h"
#include "simulator/HostPort.h"
#include "simulator/SimulatorFixture.h"
#include "simulator/StreamingFlash.h"

namespace fennix::sim {
namespace {

using namespace std::chrono_literals;
using test::Bytes;
using test::Concat;
using test::Hex;
using test::ToHex;
using Clock = std::chrono::steady_clock;

using FaultTest = test::DeviceTest;

TEST_F(FaultTest, SilentDeviceRecordsRequestsButAnswersNothing) {
    DeviceOptions o = DiagDevice();
    o.faults.silent = true;
    Start(o);
    ASSERT_EQ(0, port_.Write(Hex("7C 93 49 7E")));
    ASSERT_TRUE(Dev().Recording().WaitForRequests(DeviceMode::Diag, 0x7C, 1, 2000ms));
    EXPECT_TRUE(port_.ReadQuiet(200ms, 300ms).empty());
    EXPECT_EQ(1u, Dev().Recording().Count(EventKind::Suppressed));
    EXPECT_EQ(0u, Dev().Recording().Count(EventKind::Answer));

    // Switching the fault off brings the answers back.
    Dev().SetFaults(Faults{});
    ASSERT_EQ(0, port_.Write(Hex("7C 93 49 7E")));
    EXPECT_EQ(0x7C, port_.ReadFrames(1, false, 2000ms).at(0));
}

TEST_F(FaultTest, WrongFirstByteInvertsItInFramesAndInAtText) {
    DeviceOptions o = DiagDevice();
    o.faults.wrongFirstByte = true;
    Start(o);
    ASSERT_EQ(0, port_.Write(Hex("0C 14 3A 7E")));
    Bytes packet = CHostPort::Unframe(port_.ReadFrames(1, false, 2000ms));
    ASSERT_FALSE(packet.empty()) << "the frame must still check good";
    EXPECT_EQ(0xF3, packet[0]);  // 0x0C inverted

    CScopedDevice at(AtDevice());
    ASSERT_TRUE(at.Ok());
    at->SetFaults([] {
        Faults f;
        f.wrongFirstByte = true;
        return f;
    }());
    CHostPort atPort;
    ASSERT_EQ(0, atPort.Open(at.Path()));
    ASSERT_EQ(0, atPort.Write(std::string("at\r")));
    Bytes text = atPort.ReadCount(9, 2000ms);
    EXPECT_EQ(ToHex(test::Concat(Hex("9E"), test::Text("t\r\r\nOK\r\n"))), ToHex(text));
}

TEST_F(FaultTest, CorruptCrcFailsTheCheckWithoutAddingFlagsOrEscapes) {
    DeviceOptions o = DownloadDevice();
    o.faults.corruptCrc = true;
    Start(o);
    ASSERT_EQ(0, port_.Write(Hex("7E 06 4E 95 7E")));
    Bytes frame = port_.ReadFrames(1, true, 2000ms);
    ASSERT_EQ(5u, frame.size()) << ToHex(frame);
    EXPECT_EQ(0x7E, frame.front());
    EXPECT_EQ(0x02, frame[1]);
    EXPECT_EQ(0x7E, frame.back());
    EXPECT_TRUE(CHostPort::Unframe(frame).empty()) << ToHex(frame);

    // A CRC byte that was stuffed (13 80 9C -> CRC 14 7E) stays a valid escape pair.
    CScopedDevice diag(DiagDevice());
    ASSERT_TRUE(diag.Ok());
    Faults f;
    f.corruptCrc = true;
    diag->SetFaults(f);
    CHostPort p;
    ASSERT_EQ(0, p.Open(diag.Path()));
    ASSERT_EQ(0, p.Write(Hex("80 9C 6E DD 7E")));  // refused: 13 80 9C
    Bytes raw = p.ReadFrames(1, false, 2000ms);
    ASSERT_EQ(7u, raw.size()) << ToHex(raw);
    EXPECT_EQ(0x7D, raw[4]);
    EXPECT_NE(0x7E, raw[5]);
    EXPECT_NE(0x7D, raw[5]);
    EXPECT_TRUE(CHostPort::Unframe(raw).empty());
}

TEST_F(FaultTest, DelayedAnswersKeepTheirOrder) {
    DeviceOptions o = DiagDevice();
    o.faults.replyDelayMs = 400;
    Start(o);
    auto sent = Clock::now();
    ASSERT_EQ(0, port_.Write(Hex("7C 93 49 7E 00 78 F0 7E")));
    // Nothing yet well inside the delay.
    EXPECT_TRUE(port_.ReadQuiet(150ms, 150ms).empty());
    Bytes both = port_.ReadFrames(2, false, 3000ms);
    auto elapsed = Clock::now() - sent;
    EXPECT_GE(elapsed, 400ms);
    ASSERT_FALSE(both.empty());
    EXPECT_EQ(0x7C, both[0]);
    EXPECT_EQ(2u, Dev().Recording().Count(EventKind::Answer));
}

TEST_F(FaultTest, SlowFlashAnswersEachStreamWriteAfterItsDelay) {
    DeviceOptions o = DownloadDevice();
    o.knobs["dl.write-delay-ms"] = 300;
    StartWithImageOpen(o);
    for (const char* write : {"07 00 00 00 00 AA BB", "07 02 00 00 00 CC DD"}) {
        const Bytes request = Hex(write);
        const auto sent = Clock::now();
        Bytes echo = port_.Exchange(request, true);
        EXPECT_GE(Clock::now() - sent, 300ms) << write;
        EXPECT_EQ(Concat(Hex("08"), Bytes(request.begin() + 1, request.begin() + 5)), echo) << write;
    }
}

TEST_F(FaultTest, FaultsCanHitOnlyOneCommandAndOnlyTheFirstAnswers) {
    // The first six NOPs go unanswered, the rest are acknowledged; other
    // commands are never hit.
    DeviceOptions o = DownloadDevice();
    o.faults.silent = true;
    o.faults.onlyCommand = 0x06;
    o.faults.answersToSpoil = 6;
    Start(o);
    int answered = 0;
    for (int i = 0; i < 10; ++i) {
        ASSERT_EQ(0, port_.Write(Hex("7E 06 4E 95 7E")));
        Bytes frame = port_.ReadFrames(1, true, i < 6 ? 150ms : 2000ms);
        if (CHostPort::Unframe(frame) == Hex("02"))
            ++answered;
        else
            EXPECT_TRUE(frame.empty()) << i;
    }
    EXPECT_EQ(4, answered);
    EXPECT_EQ(0, Dev().GetFaults().answersToSpoil);
    EXPECT_EQ(6u, Dev().Recording().Count(EventKind::Suppressed));
    // An unknown command is refused normally meanwhile.
    EXPECT_EQ(Hex("03 00 06"), port_.Exchange(Hex("55"), true));
}

TEST_F(FaultTest, StayVanishedPortOnlyReturnsOnReplug) {
    DeviceOptions o = DiagDevice("Q6250");
    o.faults.stayVanished = true;
    Start(o);
    std::string path = Dev().Path();
    ASSERT_EQ(0, port_.Write(Hex("3A A1 6E 7E")));
    ASSERT_TRUE(Dev().WaitForPresent(false, 2000ms));
    EXPECT_FALSE(Dev().WaitForPresent(true, 500ms));  // vanish time is 100 ms
    CHostPort again;
    EXPECT_NE(0, again.Open(path));
    Dev().Replug();
    ASSERT_TRUE(Dev().WaitForPresent(true, 2000ms));
    ASSERT_EQ(0, again.Open(path));
    EXPECT_EQ(Hex("02"), again.Exchange(Hex("06"), true));
}

TEST_F(FaultTest, InputWhileTheDeviceIsLeavingTheBusIsDropped) {
    Start(DiagDevice("Q6250"));
    // The switch and more requests behind it in one write: the device is gone
    // before it could answer them.
    ASSERT_EQ(0, port_.Write(Hex("3A A1 6E 7E 7C 93 49 7E")));
    ASSERT_TRUE(Dev().WaitForPresent(false, 2000ms));
    EXPECT_EQ(0u, Dev().Recording().CountRequests(DeviceMode::Download));
    EXPECT_EQ(0u, Dev().Recording().CountRequests(DeviceMode::Diag, 0x7C));
    EXPECT_EQ(1u, Dev().Recording().Count(EventKind::Discarded));
}

}  // namespace
}  // namespace fennix::sim
