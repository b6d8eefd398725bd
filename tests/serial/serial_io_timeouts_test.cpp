// The one table of pauses and time limits and its scale factor.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdlib>
#include <string>

#include "serial/Timeouts.h"

namespace fennix {
namespace {

void SetScale(const char* value, const char* name = "FENNIX_TIME_SCALE") {
#if defined(_WIN32)
    _putenv_s(name, value == nullptr ? "" : value);
#else
    if (value == nullptr)
        unsetenv(name);
    else
        setenv(name, value, 1);
#endif
}

class TimeScaleEnv : public ::testing::Test {
protected:
    void TearDown() override {
        SetScale(nullptr);
        SetScale(nullptr, "FENNIX_WAIT_SCALE");
    }
};

TEST_F(TimeScaleEnv, UnsetOrInvalidFactorsLeaveTheRealTimes) {
    for (const char* text : {static_cast<const char*>(nullptr), "", "abc", "0", "-2", "1.5x", "nan", "inf"}) {
        SetScale(text);
        Timeouts t = Timeouts::FromEnvironment();
        EXPECT_EQ(1.0, t.scale) << (text ? text : "(unset)");
        EXPECT_EQ(5000u, t.replyWait);
        EXPECT_EQ(180000u, t.listenerStopWait);
    }
}

TEST_F(TimeScaleEnv, ADecimalFactorScalesEveryDuration) {
    SetScale(" 0.01 ");
    Timeouts t = Timeouts::FromEnvironment();
    EXPECT_DOUBLE_EQ(0.01, t.scale);
    EXPECT_EQ(50u, t.replyWait);
    EXPECT_EQ(20u, t.rawReplyWait);
    EXPECT_EQ(7u, t.diagDetectionPoll);
    EXPECT_EQ(200u, t.cefsOpenWait);
    EXPECT_EQ(1800u, t.listenerStopWait);
    EXPECT_EQ(10u, t.reopenPause[0]);
    EXPECT_EQ(80u, t.reopenPause[3]);
    // 1 ms scaled to 0.01 ms still pauses: nothing non-zero becomes zero.
    EXPECT_EQ(1u, t.versionRequestPause);
    EXPECT_EQ(1u, t.Scale(3));
    EXPECT_EQ(0u, t.Scale(0));
}

// The demo's setting: the pauses at a quarter, every wait for an answer real.
TEST_F(TimeScaleEnv, TheWaitFactorScalesOnlyTheWaitsForAnAnswer) {
    SetScale("0.25");
    SetScale("1", "FENNIX_WAIT_SCALE");
    const Timeouts t = Timeouts::FromEnvironment();
    EXPECT_DOUBLE_EQ(0.25, t.scale);
    EXPECT_DOUBLE_EQ(1.0, t.waitScale);
    EXPECT_EQ(500u, t.streamWriteWait);
    EXPECT_EQ(5000u, t.replyWait);
    EXPECT_EQ(2000u, t.rawReplyWait);
    EXPECT_EQ(3000u, t.drainFrameWait);
    EXPECT_EQ(15000u, t.closeImageWait);
    EXPECT_EQ(20000u, t.cefsOpenWait);
    EXPECT_EQ(5000u, t.skipCheckPause);
    EXPECT_EQ(125u, t.portReadTimeout);
    EXPECT_EQ(25u, t.probePause);
    // Without it the waits follow the time scale.
    SetScale(nullptr, "FENNIX_WAIT_SCALE");
    EXPECT_EQ(125u, Timeouts::FromEnvironment().streamWriteWait);
}

TEST(Timeouts, TheFactorIsAppliedToTheWholeTable) {
    const Timeouts one = Timeouts::WithScale(1.0);
    const Timeouts two = Timeouts::WithScale(2.0);
    // The table as plain durations, field by field.
    const uint32_t* a = &one.listenerReopenPause;
    const uint32_t* b = &two.listenerReopenPause;
    const size_t fields =
        (offsetof(Timeouts, powerOnPause) - offsetof(Timeouts, listenerReopenPause)) / sizeof(uint32_t) + 1;
    EXPECT_EQ(27u, fields);
    for (size_t i = 0; i < fields; ++i) {
        EXPECT_GT(a[i], 0u) << "field " << i;
        EXPECT_EQ(2 * a[i], b[i]) << "field " << i;
    }
    // The real values where they matter most.
    EXPECT_EQ(500u, one.portReadTimeout);
    EXPECT_EQ(2000u, one.rawReplyWait);
    EXPECT_EQ(700u, one.diagDetectionPoll);
    EXPECT_EQ(1000u, one.dlDetectionPoll);
    EXPECT_EQ(15000u, one.closeImageWait);
    EXPECT_EQ(10000u, one.powerOnPause);
}

TEST(Timeouts, HugeFactorsStopShortOfWaitingForever) {
    Timeouts t = Timeouts::WithScale(1e9);
    EXPECT_EQ(4294967294u, t.listenerStopWait);
    EXPECT_EQ(1.0, Timeouts::WithScale(-1.0).scale);
}

}  // namespace
}  // namespace fennix
