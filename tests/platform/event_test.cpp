// Auto-reset events.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

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

TEST(AutoResetEvent, TryWaitTakesASignalWithoutWaitingAndOnlyOnce) {
    AutoResetEvent event;
    EXPECT_FALSE(event.TryWait());
    event.Set();
    EXPECT_TRUE(event.TryWait());
    EXPECT_FALSE(event.TryWait());
    EXPECT_FALSE(event.Wait(0));
    // A polling thread and a sleeping one share one signal: one gets it.
    std::atomic<int> taken{0};
    std::thread sleeper([&] {
        if (event.Wait(200)) ++taken;
    });
    std::thread poller([&] {
        for (auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
             std::chrono::steady_clock::now() < end;) {
            if (event.TryWait()) ++taken;
        }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    event.Set();
    sleeper.join();
    poller.join();
    EXPECT_EQ(1, taken.load());
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

}  // namespace
}  // namespace fennix::platform
