#include "platform/Event.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace fennix::platform {

namespace {

// Tells the processor this is a polling loop (less power, no penalty for the
// other hardware thread of the core).
inline void CpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
}

// Polls between two offers of the processor to other ready threads: a system
// call per poll would cost more than the wait it saves.
constexpr unsigned kPollsPerYield = 32;

// Threads polling at this moment, process-wide. Polling pays only while a
// processor would otherwise idle: once every processor has a poller, further
// waiters sleep at once (eight downloads on two cores).
std::atomic<unsigned> gPollers{0};

unsigned MaxPollers() {
    static const unsigned limit = std::max(1u, std::thread::hardware_concurrency());
    return limit;
}

// A place among the pollers, if one is free; given back on leaving.
class PollerSlot {
public:
    PollerSlot() : held_(gPollers.fetch_add(1) < MaxPollers()) {
        if (!held_) gPollers.fetch_sub(1);
    }
    ~PollerSlot() {
        if (held_) gPollers.fetch_sub(1);
    }
    PollerSlot(const PollerSlot&) = delete;
    PollerSlot& operator=(const PollerSlot&) = delete;
    bool Held() const { return held_; }

private:
    const bool held_;
};

}  // namespace

struct AutoResetEvent::Impl {
    std::mutex lock;
    std::condition_variable changed;
    // Written under the lock (so that a blocking wait cannot miss it); read
    // and consumed without it by the spinning phase.
    std::atomic<bool> signalled{false};

    bool TakeSignal() { return signalled.load(std::memory_order_relaxed) && signalled.exchange(false); }
};

AutoResetEvent::AutoResetEvent() : impl_(new Impl) {}
AutoResetEvent::~AutoResetEvent() = default;

void AutoResetEvent::Set() {
    {
        std::lock_guard<std::mutex> hold(impl_->lock);
        impl_->signalled = true;
    }
    impl_->changed.notify_one();
}

void AutoResetEvent::Reset() {
    std::lock_guard<std::mutex> hold(impl_->lock);
    impl_->signalled = false;
}

bool AutoResetEvent::Wait(uint32_t milliseconds) {
    std::unique_lock<std::mutex> hold(impl_->lock);
    auto isSet = [this] { return impl_->signalled.load(); };
    if (milliseconds == kWaitForever) {
        impl_->changed.wait(hold, isSet);
    } else if (!impl_->changed.wait_for(hold, std::chrono::milliseconds(milliseconds), isSet)) {
        return false;
    }
    impl_->signalled = false;
    return true;
}

bool AutoResetEvent::SpinThenWait(uint32_t spinMicroseconds, uint32_t milliseconds) {
    using Clock = std::chrono::steady_clock;
    const auto spinStart = Clock::now();
    const auto spinEnd = spinStart + std::chrono::microseconds(spinMicroseconds);
    {
        PollerSlot slot;
        unsigned polls = 0;
        while (slot.Held()) {
            if (impl_->TakeSignal()) return true;
            if (Clock::now() >= spinEnd) break;
            if (++polls % kPollsPerYield == 0) std::this_thread::yield();
            else CpuRelax();
        }
    }
    if (milliseconds == kWaitForever) return Wait(kWaitForever);
    const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - spinStart).count();
    return Wait(milliseconds > spent ? milliseconds - static_cast<uint32_t>(spent) : 0);
}

}  // namespace fennix::platform
