// One fault at a chosen request: only that request's answer changes, and the
// port faults take the port away (for good, or for a moment with the firmware
// still running).
#include <gtest/gtest.h>

#include "DeviceTest.h"
#include "TestBytes.h"
#include "simulator/FaultInjection.h"

namespace fennix::sim {
namespace {

using namespace std::chrono_literals;
using test::Bytes;
using test::Hex;
using test::ToHex;

class FaultInjectionTest : public test::DeviceTest {
protected:
    // Arms the fault at the second status request (0x0C) in DIAG mode and
    // returns the raw bytes of the answer to it; the first answer is checked
    // to be the plain one.
    Bytes SecondStatusAnswer(InjectedFault fault, uint32_t lateMs = 3000) {
        port_.Close();
        Start(DiagDevice());
        FaultPoint point;
        point.fault = fault;
        point.mode = static_cast<int>(DeviceMode::Diag);
        point.command = 0x0C;
        point.nth = 2;
        point.lateMs = lateMs;
        Dev().InjectFault(point);
        EXPECT_EQ(0, port_.Write(Hex("7C 93 49 7E")));  // another command: not counted
        port_.ReadFrames(1, false, 2000ms);
        plain_ = port_.Exchange({0x0C}, false);
        EXPECT_EQ(60u, plain_.size());
        EXPECT_EQ(0, port_.WriteFrame({0x0C}, false));
        return port_.ReadQuiet(300ms, 2000ms);
    }
    Bytes plain_;
};

TEST_F(FaultInjectionTest, SpoilsOnlyTheChosenAnswer) {
    Bytes packet = CHostPort::Unframe(SecondStatusAnswer(InjectedFault::WrongCommand));
    ASSERT_EQ(60u, packet.size());
    EXPECT_EQ(0xF3, packet[0]);
    EXPECT_EQ(plain_, port_.Exchange({0x0C}, false)) << "the fault hits one request";
}

TEST_F(FaultInjectionTest, WrongEchoInvertsTheEchoedField) {
    Bytes packet = CHostPort::Unframe(SecondStatusAnswer(InjectedFault::WrongEcho));
    ASSERT_EQ(60u, packet.size());
    EXPECT_EQ(0x0C, packet[0]);
    EXPECT_EQ(static_cast<uint8_t>(plain_[1] ^ 0xFF), packet[1]);

    Bytes fs{0x4B, 0x13, 0x13, 0x00};
    SpoilEcho(fs);  // a subsystem answer echoes its command in bytes 2-3
    EXPECT_EQ(Hex("4B 13 EC FF"), fs);
}

TEST_F(FaultInjectionTest, TruncatedFrameStillChecksGood) {
    Bytes packet = CHostPort::Unframe(SecondStatusAnswer(InjectedFault::Truncated));
    EXPECT_EQ(Bytes(plain_.begin(), plain_.begin() + 30), packet);
}

TEST_F(FaultInjectionTest, BadCrcFailsTheCheck) {
    const Bytes frame = SecondStatusAnswer(InjectedFault::BadCrc);
    EXPECT_FALSE(frame.empty());
    EXPECT_TRUE(CHostPort::Unframe(frame).empty()) << ToHex(frame);
}

TEST_F(FaultInjectionTest, StrayLogRecordGoesOutBeforeTheAnswer) {
    const Bytes both = SecondStatusAnswer(InjectedFault::StrayFrame);
    const Bytes first = CHostPort::Unframe(both);
    EXPECT_EQ(StrayLogRecord(), first);
    const size_t second = both.size() - (plain_.size() + 3);  // the answer's frame is the tail
    EXPECT_EQ(plain_, CHostPort::Unframe(Bytes(both.begin() + second, both.end())));
    EXPECT_EQ(1u, Dev().Recording().Count(EventKind::Unsolicited));
}

TEST_F(FaultInjectionTest, NoAnswerAndLateAnswer) {
    EXPECT_TRUE(SecondStatusAnswer(InjectedFault::NoAnswer).empty());
    EXPECT_EQ(1u, Dev().Recording().Count(EventKind::Suppressed));

    Bytes late = SecondStatusAnswer(InjectedFault::LateAnswer, 600);
    EXPECT_TRUE(late.empty()) << "nothing within the first 300 ms";
    EXPECT_EQ(plain_, CHostPort::Unframe(port_.ReadFrames(1, false, 2000ms)));
}

TEST_F(FaultInjectionTest, VanishIsForGoodAndAGlitchKeepsTheFirmware) {
    EXPECT_TRUE(SecondStatusAnswer(InjectedFault::Vanish).empty());
    EXPECT_TRUE(Dev().WaitForPresent(false, 2000ms));
    EXPECT_FALSE(Dev().WaitForPresent(true, 500ms));

    EXPECT_TRUE(SecondStatusAnswer(InjectedFault::VanishAndReturn).empty());
    EXPECT_TRUE(Dev().WaitForPresent(false, 2000ms));
    EXPECT_TRUE(Dev().WaitForPresent(true, 2000ms));
    EXPECT_EQ(0u, Dev().BootCount());
    EXPECT_EQ(DeviceMode::Diag, Dev().Mode());
}

// msm-sim sets the point through knobs; AT answers are text.
TEST_F(FaultInjectionTest, KnobsChooseTheNthAtLine) {
    DeviceOptions o = AtDevice();
    o.knobs = {{"fault.kind", static_cast<int>(InjectedFault::Truncated)}, {"fault.mode", 0}, {"fault.nth", 2}};
    Start(o);
    ASSERT_EQ(0, port_.Write(std::string("ATE0\r")));
    EXPECT_EQ(test::Text("ATE0\r\r\nOK\r\n"), port_.ReadCount(11, 2000ms));
    ASSERT_EQ(0, port_.Write(std::string("AT\r")));
    EXPECT_EQ(test::Text("\r\nO"), port_.ReadQuiet(300ms, 2000ms)) << "half of the answer, echo off";
}

// A misspelt knob or a value out of range must stop the test that sets it,
// not leave the device without its fault.
TEST(SimKnobs, UnknownNamesAndValuesOutOfRangeAreRefusedNamingTheKnob) {
    CVirtualDevice dev;
    EXPECT_EQ("unknown knob dl.refuse-opn", dev.SetKnob("dl.refuse-opn", 5).Message());
    EXPECT_EQ("knob dl.refuse takes -1..255, not 300", dev.SetKnob("dl.refuse", 300).Message());
    EXPECT_TRUE(dev.SetKnob("dl.refuse", 7).Ok());

    FaultPoint point;
    point.fault = InjectedFault::NoAnswer;
    point.nth = 2;
    ASSERT_TRUE(dev.InjectFault(point).Ok());
    point.fault = InjectedFault::Truncated;
    point.nth = 0;  // would never fire
    const KnobCheck refused = dev.InjectFault(point);
    EXPECT_EQ(KnobStatus::OutOfRange, refused.status);
    EXPECT_EQ("fault.nth", refused.name);
    point.nth = 1;
    point.fault = static_cast<InjectedFault>(11);
    EXPECT_EQ("fault.kind", dev.InjectFault(point).name);
    // A refused point leaves the armed one whole.
    const KnobValues knobs = dev.Options().knobs;
    EXPECT_EQ(static_cast<int64_t>(InjectedFault::NoAnswer), knobs.Get("fault.kind"));
    EXPECT_EQ(2, knobs.Get("fault.nth"));
    EXPECT_EQ(7, knobs.Get("dl.refuse"));

    DeviceOptions o;
    EXPECT_THROW(o.knobs["dl.stay-awya"] = 1, std::invalid_argument);
    EXPECT_THROW((o.knobs = {{"dl.late-ms", -1}}), std::invalid_argument);
    EXPECT_THROW(DeviceState{}.Knob("dl.stay-awya"), std::logic_error);

    // The table itself: one entry per name, each default a value it accepts.
    for (const KnobSpec& k : DeviceKnobs()) {
        EXPECT_EQ(&k, FindKnob(k.name)) << k.name;
        EXPECT_TRUE(CheckKnob(k.name, k.fallback).Ok()) << k.name;
    }
}

}  // namespace
}  // namespace fennix::sim
