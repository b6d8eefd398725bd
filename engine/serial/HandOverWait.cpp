#include "serial/HandOverWait.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace fennix {

namespace {

using Clock = std::chrono::steady_clock;

// Polls between two offers of the processor to other ready threads: a system
// call on every poll would cost more than it saves.
constexpr uint32_t kPollsPerYield = 32;

// Threads polling at this moment, and exchanges under way, process-wide.
std::atomic<uint32_t> gPollers{0};
std::atomic<uint32_t> gExchanges{0};

// Tells the processor this is a polling loop (less power, and the other
// hardware thread of the core runs faster meanwhile).
inline void CpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
}

// A polling place, if one is free; given back when it goes.
class PollerPlace {
public:
    PollerPlace() : held_(gPollers.fetch_add(1) < CHandOverWait::MaxPollers()) {
        if (!held_) gPollers.fetch_sub(1);
    }
    ~PollerPlace() {
        if (held_) gPollers.fetch_sub(1);
    }
    PollerPlace(const PollerPlace&) = delete;
    PollerPlace& operator=(const PollerPlace&) = delete;
    bool Held() const { return held_; }

private:
    const bool held_;
};

uint64_t MicrosecondsSince(Clock::time_point start) {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count());
}

}  // namespace

uint32_t CHandOverWait::MaxPollers() {
    // Both sides of one hand-over poll at the same moment (the listener for
    // the take while the exchange still polls for the frame), so one place
    // per processor; a single processor has nothing to gain from polling.
    static const uint32_t limit = [] {
        const uint32_t processors = std::thread::hardware_concurrency();
        return processors > 1 ? processors : 0;
    }();
    return limit;
}

CHandOverWait::ExchangeUnderWay::ExchangeUnderWay() { gExchanges.fetch_add(1, std::memory_order_relaxed); }
CHandOverWait::ExchangeUnderWay::~ExchangeUnderWay() { gExchanges.fetch_sub(1, std::memory_order_relaxed); }
uint32_t CHandOverWait::ExchangesUnderWay() { return gExchanges.load(std::memory_order_relaxed); }

void CHandOverWait::Record(uint64_t microseconds) {
    // A long wait counts as a few polling limits at most, so that one stall
    // (a device busy erasing) turns polling off for a few waits, not for good.
    const uint64_t counted = std::min<uint64_t>(microseconds, 4ull * pollLimit_);
    const uint64_t previous = typicalWait_.load(std::memory_order_relaxed);
    typicalWait_.store(static_cast<uint32_t>((previous * 7 + counted) / 8), std::memory_order_relaxed);
}

bool CHandOverWait::ShouldPoll() {
    if (pollLimit_ == 0 || 2 * ExchangesUnderWay() > MaxPollers()) return false;
    if (TypicalWaitMicroseconds() <= pollLimit_ || ++skipped_ >= kProbeInterval) {
        skipped_ = 0;
        return true;
    }
    return false;
}

int64_t CHandOverWait::PollFor(platform::AutoResetEvent& event) {
    PollerPlace place;
    if (!place.Held()) return -1;
    const Clock::time_point start = Clock::now();
    const Clock::time_point end = start + std::chrono::microseconds(pollLimit_);
    for (uint32_t polls = 1;; ++polls) {
        if (event.TryWait()) return static_cast<int64_t>(MicrosecondsSince(start));
        if (Clock::now() >= end) return -1;
        if (polls % kPollsPerYield == 0)
            std::this_thread::yield();
        else
            CpuRelax();
    }
}

bool CHandOverWait::Poll(platform::AutoResetEvent& event) {
    if (!ShouldPoll()) return false;
    const int64_t took = PollFor(event);
    Record(took >= 0 ? static_cast<uint64_t>(took) : 4ull * pollLimit_);
    return took >= 0;
}

bool CHandOverWait::Wait(platform::AutoResetEvent& event, uint32_t milliseconds) {
    const bool polls = ShouldPoll();
    const Clock::time_point start = Clock::now();
    if (polls) {
        const int64_t took = PollFor(event);
        if (took >= 0) {
            Record(static_cast<uint64_t>(took));
            return true;
        }
    }
    bool signalled;
    if (milliseconds == platform::kWaitForever) {
        signalled = event.Wait(platform::kWaitForever);
    } else {
        const uint64_t spentMs = MicrosecondsSince(start) / 1000;
        signalled = event.Wait(spentMs < milliseconds ? milliseconds - static_cast<uint32_t>(spentMs) : 0);
    }
    Record(MicrosecondsSince(start));
    return signalled;
}

}  // namespace fennix
