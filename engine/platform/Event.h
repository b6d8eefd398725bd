// Auto-reset events with timed waits, the hand-over signal between a serial
// channel's listener thread and the session's flow thread.
#pragma once

#include <cstdint>
#include <memory>

namespace fennix::platform {

constexpr uint32_t kWaitForever = 0xFFFFFFFFu;

// Set() lets exactly one wait through: a thread waiting now, or else the next
// thread to wait. The signal then resets itself. Set() on an event already set
// changes nothing. All operations may be called from any thread.
class AutoResetEvent {
public:
    AutoResetEvent();
    ~AutoResetEvent();
    AutoResetEvent(const AutoResetEvent&) = delete;
    AutoResetEvent& operator=(const AutoResetEvent&) = delete;

    void Set();
    void Reset();
    // True when the event was signalled within `milliseconds` (kWaitForever:
    // no limit); the signal is consumed.
    bool Wait(uint32_t milliseconds);
    // Takes the signal when it is set, without waiting: true when it was.
    // Cheap enough to be called in a polling loop.
    bool TryWait();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace fennix::platform
