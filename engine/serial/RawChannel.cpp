#include "serial/RawChannel.h"

#include "serial/FrameLink.h"
#include "serial/PhoneMode.h"
#include "serial/SerialIO.h"

namespace fennix {

const char* CChannelSwitchAccess::PortName() const { return channel_.PortName(); }

const Timeouts& CChannelSwitchAccess::Times() const { return channel_.Times(); }

ChannelResult CChannelSwitchAccess::WriteRaw(const uint8_t* bytes, uint32_t count, uint32_t* written) {
    return channel_.InternalWrite(bytes, count, written);
}

ChannelResult CChannelSwitchAccess::ReadReply(uint8_t* buffer, uint32_t capacity) {
    return channel_.WaitandReadBuffer(buffer, capacity, nullptr);
}

ChannelResult CChannelSwitchAccess::ReadUnread(uint8_t* buffer, uint32_t capacity) {
    return channel_.Read(buffer, capacity, nullptr);
}

uint32_t CChannelSwitchAccess::UnreadBytes() const { return channel_.UnreadBytes(); }

uint32_t CChannelSwitchAccess::WritesInFlight() const { return channel_.WritesInFlight(); }

bool CChannelSwitchAccess::Pause(uint32_t milliseconds) { return channel_.Pause(milliseconds); }

bool CChannelSwitchAccess::Cancelled() const { return channel_.Cancelled(); }

uint32_t CChannelSwitchAccess::PhoneMode() const { return channel_.GetPhoneMode(); }

void CChannelSwitchAccess::KeepPacketLayerOut(bool out) {
    channel_.SetWritesBlocked(out);
    channel_.SetNotificationsSuppressed(out);
    // A frame left posted (unsolicited traffic, a late reply) would keep the
    // listener waiting for a taker, and no raw answer would ever be read.
    if (out) link_.ReleaseHeldData();
}

void CChannelSwitchAccess::StopListener() { channel_.StopListener(channel_.Times().listenerStopWait); }

ChannelResult CChannelSwitchAccess::StartListener() { return channel_.StartListener(); }

void CChannelSwitchAccess::KeepBaudRate() { channel_.KeepBaudRate(); }

ChannelResult CChannelSwitchAccess::OpenPort() { return channel_.InternalOpen(); }

void CChannelSwitchAccess::ClosePort() { channel_.InternalClose(); }

void CChannelSwitchAccess::RedetectOnOpenPort() {
    channel_.SetReopenOnDetection(false);
    channel_.SetPhoneMode(kPhoneModeUnknown);
    channel_.InternalResetCOM();
    channel_.DiscardUnreadBytes();
}

}  // namespace fennix
