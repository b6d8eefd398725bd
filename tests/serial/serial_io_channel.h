// A serial channel that records its notifications, for the channel's tests.
#pragma once

#include <functional>
#include <mutex>
#include <vector>

#include "serial/SerialIO.h"
#include "serial/Timeouts.h"

namespace fennix::testsupport {

// Short pauses, so that whole detection passes take tens of milliseconds.
inline Timeouts FastTimes() { return Timeouts::WithScale(0.05); }

// The notifications a channel sent, in order.
class ChannelEvents : public IChannelListener {
public:
    void OnChannelEvent(uint32_t code) override {
        {
            std::lock_guard<std::mutex> hold(lock_);
            events_.push_back(code);
        }
        if (then_) then_(code);
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

protected:
    // Runs on the listener thread after each notification is recorded; set
    // before the channel opens.
    std::function<void(uint32_t)> then_;

private:
    mutable std::mutex lock_;
    std::vector<uint32_t> events_;
};

class RecordingChannel : public ChannelEvents, public CSerialIO {
public:
    explicit RecordingChannel(const Timeouts& times = FastTimes()) : CSerialIO(times, this) {}
    // The listener calls OnChannelEvent: it must stop before this object's members go.
    ~RecordingChannel() { StopListener(platform::kWaitForever); }

    using CSerialIO::AppendBuffer;
    using CSerialIO::BaudRateIndex;
    using CSerialIO::BufferCapacity;
    using CSerialIO::Destroying;
    using CSerialIO::NamePort;
};

}  // namespace fennix::testsupport
