// Auto-reset events.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "platform/Event.h"

namespace fennix::platform {
namespace {

TEST(AutoResetEvent, ASignalLetsExactlyOneWaitThrough) {
    AutoResetEvent event;
    EXPECT_FALSE(event.Wait(0));
    event.Set();
    event.Set();  // no count: still one
    EXPECT_TRUE(event.Wait(0));
    EXPECT_FALSE(event.Wait(10));
}

TEST(AutoResetEvent, ResetTakesBackASignal) {
    AutoResetEvent event;
    event.Set();
    event.Reset();
    EXPECT_FALSE(event.Wait(0));
}

TEST(AutoResetEvent, SetWakesAWaiterInAnotherThread) {
    AutoResetEvent event, ready;
    std::atomic<int> woken{0};
    std::thread waiter([&] {
        ready.Set();
        if (event.Wait(kWaitForever)) ++woken;
    });
    ASSERT_TRUE(ready.Wait(5000));
    event.Set();
    waiter.join();
    EXPECT_EQ(1, woken.load());
    EXPECT_FALSE(event.Wait(0));
}

TEST(AutoResetEvent, TwoWaitersNeedTwoSignals) {
    AutoResetEvent event;
    std::atomic<int> woken{0};
    auto wait = [&] {
        if (event.Wait(5000)) ++woken;
    };
    std::thread first(wait), second(wait);
    event.Set();
    // Whichever waiter took the first signal, the other needs its own.
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (woken.load() < 1 && std::chrono::steady_clock::now() < end) std::this_thread::yield();
    EXPECT_EQ(1, woken.load());
    event.Set();
    first.join();
    second.join();
    EXPECT_EQ(2, woken.load());
}

TEST(AutoResetEvent, PollingWaitTakesOneSignalAndLeavesNoneBehind) {
    AutoResetEvent event;
    event.Set();
    EXPECT_TRUE(event.SpinThenWait(200, 0));
    EXPECT_FALSE(event.Wait(0));
    // Nothing comes: the poll and the wait after it both end, within the limit
    // counted from the start of the poll.
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(event.SpinThenWait(5000, 20));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

TEST(AutoResetEvent, PollingWaitSeesASignalDuringThePollAndAfterIt) {
    for (int delayMs : {0, 30}) {  // within a 20 ms poll, and once it has gone to sleep
        AutoResetEvent event, ready;
        std::atomic<int> woken{0};
        std::thread waiter([&] {
            ready.Set();
            if (event.SpinThenWait(20000, 5000)) ++woken;
        });
        ASSERT_TRUE(ready.Wait(5000));
        std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
        event.Set();
        waiter.join();
        EXPECT_EQ(1, woken.load()) << delayMs;
        EXPECT_FALSE(event.Wait(0)) << delayMs;
    }
}

TEST(AutoResetEvent, ManyPollingWaitersEachTakeTheirOwnSignal) {
    // More waiters than processors: some poll, the rest sleep; none is lost.
    constexpr int kWaiters = 12;
    std::vector<std::unique_ptr<AutoResetEvent>> events;
    for (int i = 0; i < kWaiters; ++i) events.push_back(std::make_unique<AutoResetEvent>());
    std::atomic<int> woken{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < kWaiters; ++i)
        waiters.emplace_back([&, i] {
            if (events[static_cast<size_t>(i)]->SpinThenWait(1000, 5000)) ++woken;
        });
    for (auto& e : events) e->Set();
    for (auto& t : waiters) t.join();
    EXPECT_EQ(kWaiters, woken.load());
}

}  // namespace
}  // namespace fennix::platform
