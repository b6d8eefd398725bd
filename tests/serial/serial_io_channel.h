// A serial channel that records its notifications, for the channel's tests.
#pragma once

#include <mutex>
#include <vector>

#include "serial/SerialIO.h"
#include "serial/Timeouts.h"

namespace fennix::testsupport {

// Short pauses, so that whole detection passes take tens of milliseconds.
inline Timeouts FastTimes() { return Timeouts::WithScale(0.05); }

class RecordingChannel : public CSerialIO {
public:
    explicit RecordingChannel(const Timeouts& times = FastTimes()) : CSerialIO(times) {}
    // The listener calls OnEvent: it must stop before this object's members go.
    ~RecordingChannel() override { StopListener(platform::kWaitForever); }

    void OnEvent(uint32_t code) override {
        std::lock_guard<std::mutex> hold(lock_);
        events_.push_back(code);
    }

    std::vector<uint32_t> Events() const {
        std::lock_guard<std::mutex> hold(lock_);
        return events_;
    }
    size_t Count(uint32_t code) const {
        std::lock_guard<std::mutex> hold(lock_);
        size_t n = 0;
        for (uint32_t e : events_) n += e == code ? 1 : 0;
        return n;
    }

    using CSerialIO::Destroying;

private:
    mutable std::mutex lock_;
    std::vector<uint32_t> events_;
};

}  // namespace fennix::testsupport
