// CSerCOMLibrary: the packet layer of a session, the ISessionLink on a real
// port. It is made of three parts and only joins them:
//   CSerialIO      the channel: port, listener thread, read buffer
//   CFrameLink     HDLC framing and the hand-over of whole reply frames from
//                  the listener to the waiting exchange (the channel's listener)
//   CModeSwitcher  the raw conversations that move the device between modes,
//                  over the channel (CChannelSwitchAccess)
// The waits for a mode (IsDIAGConnected, IsDLConnected) are its own: they
// watch the channel's phone mode and call the switcher.
#pragma once

#include <cstdint>

#include "serial/FrameLink.h"
#include "serial/ModeSwitcher.h"
#include "serial/RawChannel.h"
#include "serial/SerialIO.h"
#include "serial/SessionLink.h"

namespace fennix {

class CSerCOMLibrary final : public ISessionLink {
public:
    static constexpr uint32_t kOpenBaudRate = 115200;

    CSerCOMLibrary();
    explicit CSerCOMLibrary(const Timeouts& times);
    // Stops the listener and closes the port before the parts go.
    ~CSerCOMLibrary() override;
    CSerCOMLibrary(const CSerCOMLibrary&) = delete;
    CSerCOMLibrary& operator=(const CSerCOMLibrary&) = delete;

    // Opens the port (OpenNow) and starts the listener, which probes it. The
    // label is only checked for presence. Ok (also when the port is open
    // already); NullParameter; OpenFailed when the port is missing or cannot
    // be opened now (OpenFailure tells why).
    PacketResult OpenComport(const char* label, const char* portName) override;
    // For a device that may be off the bus for a while (rebooting): names the
    // port and starts the listener, which opens it once it is there. Ok;
    // NullParameter.
    PacketResult ReopenComport(const char* label, const char* portName) override;
    // The channel's Close.
    ChannelResult CloseCOMPort() override;
    // The channel's Cancel, and the frame link's waits are woken.
    void Cancel() override;
    platform::PortOpenFailure OpenFailure() const override { return channel_.LastOpenFailure(); }

    // The frame link's TxRx in DIAG mode only, WrongMode otherwise.
    PacketReply DIAGTxRx(const uint8_t* request, uint32_t length, uint8_t* reply, uint32_t capacity,
                         uint32_t waitMs) override;
    // The frame link's TxRx in download mode only, WrongMode otherwise.
    PacketReply DLTxRx(const uint8_t* request, uint32_t length, uint8_t* reply, uint32_t capacity,
                       uint32_t waitMs) override;
    // The waiting half of DIAGTxRx alone, in DIAG mode only.
    PacketReply DIAGReceive(uint8_t* reply, uint32_t capacity, uint32_t waitMs) override;
    // The waiting half of DLTxRx alone: the next reply frame within `waitMs`,
    // with nothing sent (for a reply still due after a stale one was
    // discarded). In download mode only, WrongMode otherwise.
    PacketReply DLReceive(uint8_t* reply, uint32_t capacity, uint32_t waitMs) override;
    PacketResult DLSend(const uint8_t* request, uint32_t length) override;
    bool SendsAhead() const override { return true; }
    // The frame link's drain of posted frames.
    PacketReply ReadReturnPacket(uint8_t* buffer, uint32_t capacity, uint32_t* count, uint32_t maxFrames) override;

    // Wait for the device's mode and move it into DIAG, respectively download
    // mode. Ok; ModeIsDL (DIAG wanted, device downloading); DsSwitchFailed;
    // DiagSwitchFailed (IsDLConnected: the switch out of DIAG failed, or the
    // platform could not be read); ModeUnknown (no mode in time); Cancelled.
    PacketResult IsDIAGConnected() override;
    PacketResult IsDLConnected() override;
    uint32_t FoundPhoneMode() const override { return foundMode_; }

private:
    friend class SerComTestPeer;

    // Declared in this order: the channel notifies the link, the switcher
    // reaches the channel through the access.
    CSerialIO channel_;
    CFrameLink link_;
    CChannelSwitchAccess switchAccess_;
    CModeSwitcher switcher_;
    uint32_t foundMode_ = kPhoneModeUnknown;
};

}  // namespace fennix
