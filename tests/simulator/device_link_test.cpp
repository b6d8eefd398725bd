// The USB link between host and device (latency, bandwidth, turnaround), and
// what a device in streaming download offers a host that keeps several
// stream writes outstanding: the hello reply's window and block size, and
// answers out of order or twice.
#include <gtest/gtest.h>

#include "DeviceTest.h"
#include "TestBytes.h"
#include "simulator/LinkModel.h"
#include "serial/Hdlc.h"
#include "simulator/StreamingFlash.h"

namespace fennix::sim {
namespace {

using namespace std::chrono_literals;
using test::Bytes;
using test::Hex;
using test::ToHex;
using Clock = std::chrono::steady_clock;

constexpr size_t kWireBlock = 1034;  // a 1 KB stream write: flags, header, CRC, a few escapes

std::chrono::nanoseconds FsCrossing(size_t bytes) { return std::chrono::nanoseconds(bytes * 1000000 / 1100); }

TEST(LinkModel, FullSpeedPipelinesBackToBackFramesAndKeepsAnswersInOrder) {
    CLinkModel link;
    link.Configure(*FindLinkProfile("usb-fs"));
    ASSERT_TRUE(link.Modelled());
    const Clock::time_point t0 = Clock::now();
    std::vector<Clock::time_point> ready;
    for (int i = 0; i < 8; ++i) ready.push_back(link.ToDevice(t0, kWireBlock));
    // The frames queue on the bus and share one latency.
    EXPECT_EQ(t0 + 8 * FsCrossing(kWireBlock) + 1050us, ready.back());
    EXPECT_EQ(FsCrossing(kWireBlock), ready[1] - ready[0]);
    Clock::time_point previous = Clock::time_point::min();
    for (const Clock::time_point r : ready) {
        const Clock::time_point due = link.ToHost(r, 9);
        EXPECT_EQ(r + FsCrossing(9) + 1000us, due);
        EXPECT_GT(due, previous);
        previous = due;
    }
    // Two answers ready together: the second crosses after the first.
    const Clock::time_point later = t0 + 1s;
    const Clock::time_point first = link.ToHost(later, 1100);
    EXPECT_EQ(first + 1ms, link.ToHost(later, 1100));
    // A fresh enumeration leaves the bus idle.
    EXPECT_GT(link.ToDevice(t0, 11000), t0 + 10ms);
    link.Reset();
    EXPECT_EQ(t0 + FsCrossing(11) + 1050us, link.ToDevice(t0, 11));
}

TEST(LinkModel, ProfilesAndKnobs) {
    CLinkModel none;
    EXPECT_FALSE(none.Modelled());
    const Clock::time_point t0 = Clock::now();
    EXPECT_EQ(t0, none.ToDevice(t0, 100000));
    EXPECT_EQ(t0, none.ToHost(t0, 100000));

    EXPECT_EQ(nullptr, FindLinkProfile("usb-ls"));
    EXPECT_EQ(2, LinkProfileNumber("usb-hs"));
    EXPECT_DOUBLE_EQ(1.1e6, LinkBytesPerSecond(1));
    EXPECT_DOUBLE_EQ(35e6, LinkBytesPerSecond(2));
    EXPECT_DOUBLE_EQ(0.0, LinkBytesPerSecond(0));

    KnobValues knobs{{"link.profile", 2}, {"link.to-host-latency-us", 0}, {"link.to-device-bytes-per-ms", 0}};
    const LinkProfile link = LinkOfKnobs(knobs);
    EXPECT_EQ(125, link.toDeviceLatencyUs);
    EXPECT_EQ(0, link.toHostLatencyUs);
    EXPECT_EQ(0, link.toDeviceBytesPerMs);
    EXPECT_EQ(35000, link.toHostBytesPerMs);
    EXPECT_EQ(20, link.turnaroundUs);
}

// Splits what the host read into download frames' packets (empty for a frame
// that fails its check).
std::vector<Bytes> Packets(const Bytes& raw) {
    std::vector<Bytes> packets;
    Bytes frame;
    for (uint8_t b : raw) {
        if (b != 0x7E) {
            frame.push_back(b);
            continue;
        }
        if (!frame.empty()) packets.push_back(CHostPort::Unframe(frame));
        frame.clear();
    }
    return packets;
}

Bytes StreamWrite(uint32_t offset, size_t length, uint8_t fill = 0x5A) {
    Bytes p{0x07, uint8_t(offset), uint8_t(offset >> 8), uint8_t(offset >> 16), uint8_t(offset >> 24)};
    p.insert(p.end(), length, fill);
    return p;
}

Bytes Echo(uint32_t offset) { return {0x08, uint8_t(offset), uint8_t(offset >> 8), uint8_t(offset >> 16), 0}; }

Bytes Framed(const Bytes& packet) { return PackFrame(packet.data(), packet.size(), kHdlcFlag, kHdlcFlag); }

class StreamingDeviceTest : public test::DeviceTest {
protected:
    // A download-mode device whose programmer runs, with an image open.
    void StartStreaming(const KnobValues& knobs) {
        DeviceOptions o = DownloadDevice();
        o.knobs = knobs;
        StartWithImageOpen(o);
    }
    // Writes `count` 1 KB stream writes in one piece; the answers' packets.
    std::vector<Bytes> WriteBlocks(int count, size_t answers) {
        Bytes all;
        for (int i = 0; i < count; ++i) all = test::Concat(all, Framed(StreamWrite(i * 1024u, 1024)));
        EXPECT_EQ(0, port_.Write(all));
        return Packets(port_.ReadFrames(answers, true, 3000ms));
    }
    static std::vector<Bytes> Echoes(std::initializer_list<uint32_t> blocks) {
        std::vector<Bytes> out;
        for (uint32_t b : blocks) out.push_back(Echo(b * 1024));
        return out;
    }
};

TEST_F(StreamingDeviceTest, HelloAnnouncesTheWindowAndBlockSizeOfItsKnobs) {
    StartStreaming({{"dl.window", 8}, {"dl.max-block", 4096}});
    Bytes hello{0x01};
    const std::string magic = "QCOM fast download protocol host";
    hello.insert(hello.end(), magic.begin(), magic.end());
    hello.insert(hello.end(), {3, 3, 9});
    const Bytes reply = port_.Exchange(hello, true);
    ASSERT_EQ(1u + 32 + 2 + 4 + 4 + 1 + 8 + 2 + 2 + 1, reply.size()) << ToHex(reply);
    EXPECT_EQ(0x02, reply[0]);
    EXPECT_EQ("QCOM fast download protocol targ", std::string(reply.begin() + 1, reply.begin() + 33));
    size_t at = 35;                                                                    // past both version bytes
    EXPECT_EQ(Hex("00 10 00 00"), Bytes(reply.begin() + at, reply.begin() + at + 4));  // 4096
    at += 8;                                                                           // and the flash base
    ASSERT_EQ(8, reply[at]);
    EXPECT_EQ("SIMFLASH", std::string(reply.begin() + at + 1, reply.begin() + at + 9));
    at += 9;
    EXPECT_EQ(Hex("08 00"), Bytes(reply.begin() + at, reply.begin() + at + 2));
    EXPECT_EQ(Hex("00 00 09"), Bytes(reply.begin() + at + 2, reply.end()));

    Dev().SetKnob("dl.hello-cut", 1);
    const Bytes cut = port_.Exchange(hello, true);
    EXPECT_EQ(Bytes(reply.begin(), reply.begin() + at), cut);
}

TEST_F(StreamingDeviceTest, BlocksBeyondTheAnnouncedSizeOrTheFlashAreRefused) {
    StartStreaming({{"dl.max-block", 32768}});
    // The largest block is taken whole, every byte of it escaped on the wire.
    EXPECT_EQ(Echo(0), port_.Exchange(StreamWrite(0, 32768, 0x7E), true));
    Dev().SetKnob("dl.max-block", 16);
    EXPECT_EQ(Echo(0x8000), port_.Exchange(StreamWrite(0x8000, 16), true));
    EXPECT_EQ(Hex("0E"), port_.Exchange(StreamWrite(0x8010, 17), true));
    // Nor does the device take a write far beyond any flash.
    EXPECT_EQ(Hex("0E"), port_.Exchange(StreamWrite(0xFFFFFFF0, 16), true));
    const DownloadTarget target = SnapshotDownloadTarget(Dev());
    EXPECT_EQ(0x8010u, target.open.bytes.size());
    EXPECT_EQ(Bytes(32768, 0x7E), Bytes(target.open.bytes.begin(), target.open.bytes.begin() + 32768));
}

TEST_F(StreamingDeviceTest, FullSpeedLinkAnswersBackToBackWritesInOrderAfterTheirCrossing) {
    StartStreaming({{"link.profile", 1}});
    const Clock::time_point sent = Clock::now();
    const std::vector<Bytes> answers = WriteBlocks(8, 8);
    const auto elapsed = Clock::now() - sent;
    EXPECT_EQ(Echoes({0, 1, 2, 3, 4, 5, 6, 7}), answers);
    // Eight blocks on the bus, a latency and a turnaround, the answer's
    // crossing and its latency: never sooner.
    EXPECT_GE(elapsed, 8 * FsCrossing(kWireBlock) + 2050us + FsCrossing(9));
}

TEST_F(StreamingDeviceTest, SwappedAndDoubledAnswers) {
    StartStreaming({{"dl.swap-answers", 1}});
    EXPECT_EQ(Echoes({1, 0, 3, 2}), WriteBlocks(4, 4));
    // A host that waits for each answer still gets the held one.
    EXPECT_EQ(Echo(0x1000), port_.Exchange(StreamWrite(0x1000, 8), true, 2000ms));
    EXPECT_EQ(Echo(0x1008), port_.Exchange(StreamWrite(0x1008, 8), true, 2000ms));

    Dev().SetKnob("dl.swap-answers", 0);
    Dev().SetKnob("dl.double-answer-block", 7);  // counted over the download: the second of these
    EXPECT_EQ(Echoes({0, 1, 1, 2}), WriteBlocks(3, 4));
}

// The injected fault hits exactly the nth of the stream writes that arrive
// together (the first, one in the middle, the last), on a link that keeps
// several answers on their way.
TEST_F(StreamingDeviceTest, InjectedFaultsHitTheNthOfBackToBackWrites) {
    constexpr uint32_t kBlocks = 6;
    for (const InjectedFault fault : {InjectedFault::NoAnswer, InjectedFault::LateAnswer, InjectedFault::WrongEcho,
                                      InjectedFault::StrayFrame, InjectedFault::Vanish}) {
        for (const uint32_t nth : {1u, 4u, kBlocks}) {
            SCOPED_TRACE(std::string(InjectedFaultName(fault)) + " at " + std::to_string(nth));
            std::vector<Bytes> expected;
            for (uint32_t b = 0; b < kBlocks; ++b) {
                Bytes echo = Echo(b * 1024);
                if (b + 1 == nth) {
                    if (fault == InjectedFault::Vanish) break;
                    if (fault == InjectedFault::NoAnswer) continue;
                    if (fault == InjectedFault::WrongEcho) echo[1] ^= 0xFF;
                    if (fault == InjectedFault::StrayFrame) expected.push_back(StrayLogRecord());
                }
                expected.push_back(echo);
            }
            StartStreaming({{"link.profile", 2}});
            FaultPoint point;
            point.fault = fault;
            point.command = 0x07;
            point.nth = nth;
            point.lateMs = 100;
            ASSERT_TRUE(Dev().InjectFault(point).Ok());
            EXPECT_EQ(expected, WriteBlocks(kBlocks, expected.size()));
            if (fault == InjectedFault::Vanish) {
                EXPECT_TRUE(Dev().WaitForPresent(false, 2000ms));
            }
            port_.Close();
        }
    }
}

}  // namespace
}  // namespace fennix::sim
