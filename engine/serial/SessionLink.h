// What a session needs from the port below it: the packet exchange plus opening,
// closing and the waits for (and switches into) DIAG and download mode.
// CSerCOMLibrary implements it on a real port; the session reaches the device
// through nothing else, so a scripted device can stand in for it in tests.
#pragma once

#include <cstdint>

#include "platform/SerialPort.h"
#include "serial/ChannelResult.h"
#include "serial/PacketExchange.h"
#include "serial/PhoneMode.h"
#include "serial/Timeouts.h"

namespace fennix {

class ISessionLink : public IPacketExchange {
public:
    // Ok, or a failure: at once when the port is missing or cannot be opened.
    virtual PacketResult OpenComport(const char* label, const char* portName) = 0;
    // The open after a reset, when the device may be off the bus for a while:
    // the port is opened once it is back. Ok, or a failure.
    virtual PacketResult ReopenComport(const char* label, const char* portName) { return OpenComport(label, portName); }
    // From any thread: every exchange and wait under way or to come fails at
    // once (see CSerCOMLibrary::Cancel).
    virtual void Cancel() {}
    // Why the latest OpenComport failed (None when it did not).
    virtual platform::PortOpenFailure OpenFailure() const { return platform::PortOpenFailure::None; }
    // Closed when it closed the port itself, SystemError when that failed
    // (the system's number stays with the channel), else Ok.
    virtual ChannelResult CloseCOMPort() = 0;
    // Ok when the device is (or was put) in that mode, else a failure.
    virtual PacketResult IsDLConnected() = 0;
    virtual PacketResult IsDIAGConnected() = 0;
    // The phone mode the latest wait for a mode found the device in, before
    // any switch (kPhoneModeUnknown when it found none).
    virtual uint32_t FoundPhoneMode() const { return kPhoneModeUnknown; }
    // Waits at most `waitMs` for the next download-mode reply without sending
    // anything: after a stale reply was discarded, the one the request is
    // owed. A link that cannot wait for a further reply gives Timeout.
    virtual PacketReply DLReceive(uint8_t* /*reply*/, uint32_t /*capacity*/, uint32_t /*waitMs*/) {
        return PacketReply::Failed(PacketResult::Timeout);
    }
    // Frames and writes one download-mode request and returns without waiting
    // for its reply, which DLReceive takes later: Ok, or WriteRefused,
    // WrongMode or Cancelled. Only a link whose SendsAhead() is true leaves
    // requests outstanding; the others refuse.
    virtual PacketResult DLSend(const uint8_t* /*request*/, uint32_t /*length*/) { return PacketResult::WriteRefused; }
    virtual bool SendsAhead() const { return false; }
    // Likewise in DIAG mode.
    PacketReply DIAGReceive(uint8_t* /*reply*/, uint32_t /*capacity*/, uint32_t /*waitMs*/) override {
        return PacketReply::Failed(PacketResult::Timeout);
    }
};

}  // namespace fennix
