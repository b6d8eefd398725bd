#include "platform/Event.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <ctime>

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace fennix::platform {

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
    void WakeOne() {
        syscall(SYS_futex, reinterpret_cast<uint32_t*>(&signalled), FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
    }
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

}  // namespace fennix::platform
