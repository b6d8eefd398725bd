// The answers to the host's mode probe, byte for byte, in each mode.
#include <gtest/gtest.h>

#include "TestBytes.h"
#include "serial/SerialIO.h"
#include "simulator/HostPort.h"
#include "simulator/SimulatorFixture.h"

namespace fennix::sim {
namespace {

using namespace std::chrono_literals;
using test::Bytes;
using test::Hex;
using test::ToHex;

class ProbeTest : public ::testing::Test {
protected:
    Bytes ProbeAnswer(DeviceOptions options, size_t expectedLength) {
        CScopedDevice dev(std::move(options));
        EXPECT_TRUE(dev.Ok()) << dev.Error();
        CHostPort port;
        EXPECT_EQ(0, port.Open(dev.Path()));
        EXPECT_EQ(0, port.Write(test::Probe()));
        Bytes answer = port.ReadCount(expectedLength, 3000ms);
        // Nothing may follow the expected answer.
        Bytes more = port.ReadQuiet(150ms);
        answer.insert(answer.end(), more.begin(), more.end());
        return answer;
    }
};

TEST_F(ProbeTest, AtModeEchoesTheProbeAroundItsOk) {
    Bytes expected = test::Concat(test::Text("at\r\r\nOK\r\n"), Hex("1C D5 7E 06 4E 95 7E"));
    EXPECT_EQ(ToHex(expected), ToHex(ProbeAnswer(AtDevice(), expected.size())));
}

TEST_F(ProbeTest, DiagModeRefusesBothFramesAsBadCommands) {
    Bytes expected = Hex("13 61 74 0D 62 09 7E 13 06 88 D5 7E");
    EXPECT_EQ(ToHex(expected), ToHex(ProbeAnswer(DiagDevice(), expected.size())));
}

TEST_F(ProbeTest, DiagModeBadParameterFormEchoesTheRawFrames) {
    DeviceOptions o = DiagDevice();
    o.rejectForm = DiagRejectForm::BadParameter;
    Bytes expected = Hex("14 61 74 0D 1C D5 7D 5E 75 FD 7E 14 06 4E 95 7D 5E CC F6 7E");
    EXPECT_EQ(ToHex(expected), ToHex(ProbeAnswer(o, expected.size())));
}

TEST_F(ProbeTest, DownloadModeAcknowledgesOnlyTheNoOperation) {
    Bytes expected = Hex("7E 02 6A D3 7E");
    EXPECT_EQ(ToHex(expected), ToHex(ProbeAnswer(DownloadDevice(), expected.size())));
}

TEST_F(ProbeTest, TheEngineClassifiesEachAnswerAsTheDevicesMode) {
    DeviceOptions badParameter = DiagDevice();
    badParameter.rejectForm = DiagRejectForm::BadParameter;
    struct Case {
        DeviceOptions options;
        size_t length;
        uint32_t mode;
    } cases[] = {{AtDevice(), 16, kPhoneModeAt},
                 {DiagDevice(), 12, kPhoneModeDIAG},
                 {badParameter, 20, kPhoneModeDIAG},
                 {DownloadDevice(), 5, kPhoneModeDL}};
    for (auto& c : cases) {
        Bytes answer = ProbeAnswer(c.options, c.length);
        uint32_t mode = 0, notification = 0;
        EXPECT_TRUE(ClassifyProbeAnswer(answer.data(), answer.size(), &mode, &notification))
            << ModeName(c.options.mode) << ": " << ToHex(answer);
        EXPECT_EQ(c.mode, mode) << ModeName(c.options.mode);
    }
}

TEST_F(ProbeTest, RepeatedProbesGetTheSameAnswerEachTime) {
    // The host probes again and again while it cannot tell the mode; echoed
    // binary bytes must not spoil the next AT line, and download junk must not
    // make the next probe's NOP go unanswered.
    for (DeviceOptions options : {AtDevice(), DownloadDevice(), DiagDevice()}) {
        CScopedDevice dev(options);
        ASSERT_TRUE(dev.Ok());
        CHostPort port;
        ASSERT_EQ(0, port.Open(dev.Path()));
        ASSERT_EQ(0, port.Write(test::Probe()));
        Bytes first = port.ReadQuiet(150ms);
        ASSERT_FALSE(first.empty()) << ModeName(options.mode);
        for (int i = 0; i < 3; ++i) {
            ASSERT_EQ(0, port.Write(test::Probe()));
            EXPECT_EQ(ToHex(first), ToHex(port.ReadQuiet(150ms))) << ModeName(options.mode) << " probe " << i;
        }
    }
}

TEST_F(ProbeTest, AllAnswersToOneProbeLeaveInOneWrite) {
    // The host classifies the first chunk it reads; an answer split over two
    // writes could leave a stray frame behind for its packet layer.
    CScopedDevice dev(DiagDevice());
    ASSERT_TRUE(dev.Ok());
    CHostPort port;
    ASSERT_EQ(0, port.Open(dev.Path()));
    ASSERT_EQ(0, port.Write(test::Probe()));
    ASSERT_TRUE(dev->Recording().WaitForCount(EventKind::Answer, 1, 3000ms));
    port.ReadQuiet(100ms);
    auto events = dev->Recording().Events();
    size_t answers = 0;
    for (const auto& e : events) answers += e.kind == EventKind::Answer ? 1 : 0;
    EXPECT_EQ(2u, dev->Recording().CountRequests(DeviceMode::Diag));
    // Two answer records, queued together and written as one piece: both carry
    // the same time stamp.
    ASSERT_EQ(2u, answers) << dev->Recording().Dump();
    std::vector<RecordedEvent> a;
    for (const auto& e : events)
        if (e.kind == EventKind::Answer) a.push_back(e);
    EXPECT_EQ(a[0].time, a[1].time);
}

TEST_F(ProbeTest, AtEchoOffChangesTheProbeAnswer) {
    CScopedDevice dev(AtDevice());
    ASSERT_TRUE(dev.Ok());
    CHostPort port;
    ASSERT_EQ(0, port.Open(dev.Path()));
    ASSERT_EQ(0, port.Write(std::string("ATE0\r")));
    EXPECT_EQ(ToHex(test::Text("ATE0\r\r\nOK\r\n")), ToHex(port.ReadQuiet(150ms)));
    ASSERT_EQ(0, port.Write(test::Probe()));
    EXPECT_EQ(ToHex(test::Text("\r\nOK\r\n")), ToHex(port.ReadQuiet(150ms)));
    EXPECT_EQ((std::vector<std::string>{"ATE0", "at"}), dev->Recording().AtCommands());
}

}  // namespace
}  // namespace fennix::sim
