#include "platform/Event.h"

#include <atomic>
#include <chrono>
#include <cstdint>

#if defined(__linux__)
#include <cerrno>
#include <ctime>
#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>
#else
#include <condition_variable>
#include <mutex>
#endif

namespace fennix::platform {

#if defined(__linux__)

// On Linux the event is one word the kernel can sleep on: a set or a wait
// costs no lock, and a set makes a system call only while somebody sleeps.
// A condition variable would add a mutex that every waiter takes again after
// it wakes, and a second system call for that.
struct AutoResetEvent::Impl {
    std::atomic<uint32_t> signalled{0};
    std::atomic<uint32_t> sleepers{0};

    // Sleeps while the word is 0, at most `timeout` (null: no limit).
    void Sleep(const timespec* timeout) {
        syscall(SYS_futex, reinterpret_cast<uint32_t*>(&signalled), FUTEX_WAIT_PRIVATE, 0u, timeout, nullptr, 0);
    }
    void WakeOne() { syscall(SYS_futex, reinterpret_cast<uint32_t*>(&signalled), FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0); }
};

static_assert(sizeof(std::atomic<uint32_t>) == sizeof(uint32_t), "the kernel waits on the atomic word itself");

AutoResetEvent::AutoResetEvent() : impl_(new Impl) {}
AutoResetEvent::~AutoResetEvent() = default;

void AutoResetEvent::Set() {
    impl_->signalled.store(1);
    // Both sides use sequentially consistent operations: either the sleeper
    // counted itself before this load and is woken, or it sees the signal
    // before it sleeps (the kernel compares the word with 0 first).
    if (impl_->sleepers.load() > 0) impl_->WakeOne();
}

void AutoResetEvent::Reset() { impl_->signalled.store(0); }

bool AutoResetEvent::TryWait() {
    return impl_->signalled.load(std::memory_order_relaxed) != 0 && impl_->signalled.exchange(0) != 0;
}

bool AutoResetEvent::Wait(uint32_t milliseconds) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
    for (;;) {
        if (impl_->signalled.exchange(0) != 0) return true;
        timespec left{};
        const timespec* limit = nullptr;
        if (milliseconds != kWaitForever) {
            const auto remaining = std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - Clock::now());
            if (remaining.count() <= 0) return false;
            left.tv_sec = static_cast<time_t>(remaining.count() / 1000000000);
            left.tv_nsec = static_cast<long>(remaining.count() % 1000000000);
            limit = &left;
        }
        impl_->sleepers.fetch_add(1);
        impl_->Sleep(limit);
        impl_->sleepers.fetch_sub(1);
    }
}

#else

struct AutoResetEvent::Impl {
    std::mutex lock;
    std::condition_variable changed;
    // Set under the lock, so that a blocking wait cannot miss it; TryWait
    // reads and consumes it without the lock, so that a polling thread never
    // makes Set wait for the lock.
    std::atomic<bool> signalled{false};
};

AutoResetEvent::AutoResetEvent() : impl_(new Impl) {}
AutoResetEvent::~AutoResetEvent() = default;

void AutoResetEvent::Set() {
    {
        std::lock_guard<std::mutex> hold(impl_->lock);
        impl_->signalled.store(true);
    }
    impl_->changed.notify_one();
}

void AutoResetEvent::Reset() {
    std::lock_guard<std::mutex> hold(impl_->lock);
    impl_->signalled.store(false);
}

bool AutoResetEvent::Wait(uint32_t milliseconds) {
    std::unique_lock<std::mutex> hold(impl_->lock);
    // exchange, not load: a TryWait may take the signal between the wake-up
    // and this check, and then this wait goes on waiting.
    auto take = [this] { return impl_->signalled.exchange(false); };
    if (milliseconds == kWaitForever) {
        impl_->changed.wait(hold, take);
        return true;
    }
    return impl_->changed.wait_for(hold, std::chrono::milliseconds(milliseconds), take);
}

bool AutoResetEvent::TryWait() {
    return impl_->signalled.load(std::memory_order_relaxed) && impl_->signalled.exchange(false);
}

#endif

}  // namespace fennix::platform
