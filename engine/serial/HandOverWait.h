// CHandOverWait: how one side of the packet layer's frame hand-over waits for
// the other. Waking a sleeping thread costs tens of microseconds on some
// machines, as much as a fast device needs to answer a whole stream write, so
// a wait first polls the event for a short while and sleeps only after.
//
// Polling pays only when the signal comes soon and a processor would idle
// otherwise. So each wait keeps a running estimate of how long its recent
// waits took and polls only while that estimate is within its polling limit
// (a slow device, or one stalled by flash work, then finds the caller asleep,
// apart from one probing poll in every kProbeInterval waits that keeps the
// estimate current). And polling needs a processor for each thread that
// polls: every exchange has two (its caller waiting for the frame, the
// listener waiting for the take), so waits poll only while no more exchanges
// that expect a quick answer run at once, process-wide, than half the
// processors. Several downloads on two processors therefore sleep: their
// polling would only take processor time from the devices' and the other
// sessions' threads, and stretch their replies towards the stream-write
// wait. One object serves one thread at a time.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/Event.h"

namespace fennix {

class CHandOverWait {
public:
    static constexpr uint32_t kProbeInterval = 16;

    explicit CHandOverWait(uint32_t pollLimitMicroseconds) : pollLimit_(pollLimitMicroseconds) {}
    CHandOverWait(const CHandOverWait&) = delete;
    CHandOverWait& operator=(const CHandOverWait&) = delete;

    // Like event.Wait(milliseconds): true when the event was signalled within
    // the time (platform::kWaitForever: no limit); the signal is consumed.
    bool Wait(platform::AutoResetEvent& event, uint32_t milliseconds);
    // The polling part of Wait alone: true when the signal came while
    // polling (and was consumed); false at once when this wait does not poll.
    bool Poll(platform::AutoResetEvent& event);

    // The running estimate of a wait's length, in microseconds.
    uint32_t TypicalWaitMicroseconds() const { return typicalWait_.load(std::memory_order_relaxed); }

    // Threads that may poll at once, process-wide: one per processor, none
    // on a single processor.
    static uint32_t MaxPollers();

    // Counts an exchange under way, process-wide, for as long as it lives.
    class ExchangeUnderWay {
    public:
        ExchangeUnderWay();
        ~ExchangeUnderWay();
        ExchangeUnderWay(const ExchangeUnderWay&) = delete;
        ExchangeUnderWay& operator=(const ExchangeUnderWay&) = delete;
    };
    // Exchanges under way now, process-wide.
    static uint32_t ExchangesUnderWay();

private:
    bool ShouldPoll();
    // Polls until the signal or the limit: the microseconds it took, or -1.
    int64_t PollFor(platform::AutoResetEvent& event);
    void Record(uint64_t microseconds);

    const uint32_t pollLimit_;
    std::atomic<uint32_t> typicalWait_{0};
    uint32_t skipped_ = 0;  // waits since the last poll
};

}  // namespace fennix
