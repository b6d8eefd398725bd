// IRawChannel: what the mode switcher needs of the channel to talk to the
// device without the packet layer: raw writes and reply reads, the flow
// thread's pauses, the phone mode, and the few port moves a switch makes
// (restarting detection, reopening or letting go of the port).
// CChannelSwitchAccess gives it on a channel and its frame link.
#pragma once

#include <cstdint>

#include "serial/ChannelResult.h"
#include "serial/Timeouts.h"

namespace fennix {

class CSerialIO;
class CFrameLink;

class IRawChannel {
public:
    virtual const char* PortName() const = 0;
    virtual const Timeouts& Times() const = 0;

    // The raw conversation, marking a request (see CSerialIO::InternalWrite,
    // WaitandReadBuffer and Read).
    virtual ChannelResult WriteRaw(const uint8_t* bytes, uint32_t count, uint32_t* written) = 0;
    virtual ChannelResult ReadReply(uint8_t* buffer, uint32_t capacity) = 0;
    virtual ChannelResult ReadUnread(uint8_t* buffer, uint32_t capacity) = 0;
    virtual uint32_t UnreadBytes() const = 0;
    // Packet-layer writes under way.
    virtual uint32_t WritesInFlight() const = 0;

    // A pause of the flow thread: false, at once or as soon as it happens,
    // when the channel is cancelled.
    virtual bool Pause(uint32_t milliseconds) = 0;
    virtual bool Cancelled() const = 0;

    virtual uint32_t PhoneMode() const = 0;

    // The packet layer is kept out while a switch talks raw (writes blocked,
    // read notifications suppressed, frames it holds released, so that the
    // listener reads the port again); false lets it back in.
    virtual void KeepPacketLayerOut(bool out) = 0;
    // The listener stops (at most the listener stop wait), closing the port.
    virtual void StopListener() = 0;
    // A new listener reopens the port and probes the device afresh.
    virtual ChannelResult StartListener() = 0;
    // The next OpenPort keeps the rate in use (later ones go on through the
    // channel's rates).
    virtual void KeepBaudRate() = 0;
    // Opens the port without the listener (see CSerialIO::InternalOpen).
    virtual ChannelResult OpenPort() = 0;
    // Closes the port without the listener.
    virtual void ClosePort() = 0;
    // Probes the device again on the port as it is: no reopening, the port
    // set up afresh, unread bytes dropped.
    virtual void RedetectOnOpenPort() = 0;

protected:
    ~IRawChannel() = default;
};

class CChannelSwitchAccess final : public IRawChannel {
public:
    CChannelSwitchAccess(CSerialIO& channel, CFrameLink& link) : channel_(channel), link_(link) {}

    const char* PortName() const override;
    const Timeouts& Times() const override;
    ChannelResult WriteRaw(const uint8_t* bytes, uint32_t count, uint32_t* written) override;
    ChannelResult ReadReply(uint8_t* buffer, uint32_t capacity) override;
    ChannelResult ReadUnread(uint8_t* buffer, uint32_t capacity) override;
    uint32_t UnreadBytes() const override;
    uint32_t WritesInFlight() const override;
    bool Pause(uint32_t milliseconds) override;
    bool Cancelled() const override;
    uint32_t PhoneMode() const override;
    void KeepPacketLayerOut(bool out) override;
    void StopListener() override;
    ChannelResult StartListener() override;
    void KeepBaudRate() override;
    ChannelResult OpenPort() override;
    void ClosePort() override;
    void RedetectOnOpenPort() override;

private:
    CSerialIO& channel_;
    CFrameLink& link_;
};

}  // namespace fennix
