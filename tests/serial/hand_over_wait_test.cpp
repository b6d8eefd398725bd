// The hand-over wait: polls while recent waits were short, sleeps at once
// while they were long (apart from a probe now and then), and never loses or
// invents a signal either way.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "platform/Event.h"
#include "serial/HandOverWait.h"

namespace fennix {
namespace {

using Clock = std::chrono::steady_clock;

// Waits that time out count as long: enough of them turn polling off.
void MakeWaitsLong(CHandOverWait& wait, platform::AutoResetEvent& silent, uint32_t limit) {
    for (int i = 0; i < 40 && wait.TypicalWaitMicroseconds() <= limit; ++i) EXPECT_FALSE(wait.Wait(silent, 2));
    ASSERT_GT(wait.TypicalWaitMicroseconds(), limit);
}

TEST(HandOverWait, ASignalIsTakenOnceWhetherItCameBeforeOrDuringTheWait) {
    CHandOverWait wait(200);
    platform::AutoResetEvent event;
    event.Set();
    EXPECT_TRUE(wait.Wait(event, 0));
    EXPECT_FALSE(event.TryWait());  // consumed

    std::thread setter([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        event.Set();
    });
    EXPECT_TRUE(wait.Wait(event, 5000));
    setter.join();
    EXPECT_FALSE(wait.Wait(event, 0));
}

TEST(HandOverWait, NoSignalMeansATimeoutAfterTheWholeTimeAndNotBefore) {
    CHandOverWait wait(200);
    platform::AutoResetEvent event;
    const auto start = Clock::now();
    EXPECT_FALSE(wait.Wait(event, 60));
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(55));
}

TEST(HandOverWait, LongWaitsTurnPollingOffUntilAProbeAndShortOnesTurnItBackOn) {
    if (CHandOverWait::MaxPollers() == 0) GTEST_SKIP() << "a single processor never polls";
    // Far below the 2 ms waits that make the estimate long, far above what a
    // wait that ends at once costs even on a loaded machine under Wine (a
    // limit of 50 us was passed there by 63).
    const uint32_t limit = 500;
    CHandOverWait wait(limit);
    platform::AutoResetEvent event;
    MakeWaitsLong(wait, event, limit);

    // Polling off: Poll leaves even a waiting signal where it is, until the
    // probe that comes with every kProbeInterval-th wait.
    event.Set();
    uint32_t calls = 1;
    while (!wait.Poll(event)) {
        EXPECT_TRUE(event.TryWait()) << "the skipped poll must not consume the signal";
        event.Set();
        ASSERT_LE(++calls, CHandOverWait::kProbeInterval);
    }
    EXPECT_EQ(CHandOverWait::kProbeInterval, calls);
    EXPECT_FALSE(event.TryWait());

    // Waits that end at once pull the estimate down and polling resumes.
    for (int i = 0; i < 200 && wait.TypicalWaitMicroseconds() > limit; ++i) {
        event.Set();
        EXPECT_TRUE(wait.Wait(event, 1000));
    }
    EXPECT_LE(wait.TypicalWaitMicroseconds(), limit);
    event.Set();
    EXPECT_TRUE(wait.Poll(event));
}

TEST(HandOverWait, MoreExchangesThanHalfTheProcessorsSleepWithoutPolling) {
    if (CHandOverWait::MaxPollers() == 0) GTEST_SKIP() << "a single processor never polls";
    CHandOverWait wait(200);
    platform::AutoResetEvent event;
    {
        std::vector<std::unique_ptr<CHandOverWait::ExchangeUnderWay>> exchanges;
        while (2 * CHandOverWait::ExchangesUnderWay() <= CHandOverWait::MaxPollers())
            exchanges.push_back(std::make_unique<CHandOverWait::ExchangeUnderWay>());
        event.Set();
        EXPECT_FALSE(wait.Poll(event));
        EXPECT_TRUE(event.TryWait()) << "a wait that does not poll leaves the signal alone";
        // A plain wait still gets its signal.
        event.Set();
        EXPECT_TRUE(wait.Wait(event, 1000));
    }
    EXPECT_EQ(0u, CHandOverWait::ExchangesUnderWay());
    event.Set();
    EXPECT_TRUE(wait.Poll(event));
}

TEST(HandOverWait, AStallCountsAsAFewLimitsOnly) {
    const uint32_t limit = 100;
    CHandOverWait wait(limit);
    platform::AutoResetEvent event;
    EXPECT_FALSE(wait.Wait(event, 50));  // 500 polling limits long
    EXPECT_LE(wait.TypicalWaitMicroseconds(), limit);
    for (int i = 0; i < 40; ++i) EXPECT_FALSE(wait.Wait(event, 1));
    EXPECT_LE(wait.TypicalWaitMicroseconds(), 4 * limit);
}

TEST(HandOverWait, NoLimitMeansAPlainWait) {
    CHandOverWait wait(0);
    platform::AutoResetEvent event;
    event.Set();
    EXPECT_FALSE(wait.Poll(event));
    EXPECT_TRUE(wait.Wait(event, 0));
}

}  // namespace
}  // namespace fennix
