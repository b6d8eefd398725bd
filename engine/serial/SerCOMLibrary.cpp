#include "serial/SerCOMLibrary.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <thread>

#include "log/Log.h"

namespace fennix {

CSerCOMLibrary::CSerCOMLibrary() : CSerCOMLibrary(Timeouts::FromEnvironment()) {}

CSerCOMLibrary::CSerCOMLibrary(const Timeouts& times)
    : channel_(times, &link_), link_(channel_), switchAccess_(channel_, link_), switcher_(switchAccess_) {}

CSerCOMLibrary::~CSerCOMLibrary() {
    // The listener calls the frame link: it has to end before the link goes.
    // Close waits only so long; a listener still running after it is waited
    // for to the end here.
    channel_.Close();
    if (channel_.IsListenerRunning()) channel_.StopListener(platform::kWaitForever);
}

namespace {

bool ArgumentsPresent(const char* label, const char* portName) {
    if (label != nullptr && portName != nullptr) return true;
    LogFuncLine(kLogDebug, "CSerCOMLibrary::OpenComport", "Function parameters contain null.");
    return false;
}

}  // namespace

PacketResult CSerCOMLibrary::OpenComport(const char* label, const char* portName) {
    if (!ArgumentsPresent(label, portName)) return PacketResult::NullParameter;
    link_.PrepareToOpen();
    const ChannelResult result = channel_.OpenNow(portName, kOpenBaudRate);
    return result == ChannelResult::Ok || result == ChannelResult::AlreadyOpen ? PacketResult::Ok
                                                                               : PacketResult::OpenFailed;
}

PacketResult CSerCOMLibrary::ReopenComport(const char* label, const char* portName) {
    if (!ArgumentsPresent(label, portName)) return PacketResult::NullParameter;
    link_.PrepareToOpen();
    // The listener opens the port when the device is back; a listener that
    // cannot start shows in the wait for the device's mode that follows.
    channel_.Open(portName, kOpenBaudRate);
    return PacketResult::Ok;
}

ChannelResult CSerCOMLibrary::CloseCOMPort() {
    LogPortLine(kLogWarning, channel_.PortName(), "CSerCOMLibrary::CloseCOMPort", "Try to close COM %s",
                channel_.DevicePath());
    return channel_.Close();
}

PacketReply CSerCOMLibrary::DIAGTxRx(const uint8_t* request, uint32_t length, uint8_t* reply, uint32_t capacity,
                                     uint32_t waitMs) {
    if (channel_.GetPhoneMode() != kPhoneModeDIAG) return PacketReply::Failed(PacketResult::WrongMode);
    return link_.TxRx(request, length, reply, capacity, waitMs);
}

PacketReply CSerCOMLibrary::DLTxRx(const uint8_t* request, uint32_t length, uint8_t* reply, uint32_t capacity,
                                   uint32_t waitMs) {
    if (channel_.GetPhoneMode() != kPhoneModeDL) return PacketReply::Failed(PacketResult::WrongMode);
    return link_.TxRx(request, length, reply, capacity, waitMs);
}

PacketReply CSerCOMLibrary::DIAGReceive(uint8_t* reply, uint32_t capacity, uint32_t waitMs) {
    if (channel_.GetPhoneMode() != kPhoneModeDIAG) return PacketReply::Failed(PacketResult::WrongMode);
    return link_.Receive(reply, capacity, waitMs);
}

PacketReply CSerCOMLibrary::DLReceive(uint8_t* reply, uint32_t capacity, uint32_t waitMs) {
    if (channel_.GetPhoneMode() != kPhoneModeDL) return PacketReply::Failed(PacketResult::WrongMode);
    return link_.Receive(reply, capacity, waitMs);
}

PacketResult CSerCOMLibrary::DLSend(const uint8_t* request, uint32_t length) {
    if (channel_.GetPhoneMode() != kPhoneModeDL) return PacketResult::WrongMode;
    return link_.Send(request, length);
}

PacketReply CSerCOMLibrary::ReadReturnPacket(uint8_t* buffer, uint32_t capacity, uint32_t* count, uint32_t maxFrames) {
    return link_.ReadReturnPacket(buffer, capacity, count, maxFrames);
}

void CSerCOMLibrary::Cancel() {
    channel_.Cancel();
    link_.WakeWaits();
}

// Waiting for the device's mode after the port was opened, and the switch
// into the mode wanted.
PacketResult CSerCOMLibrary::IsDIAGConnected() {
    static const char* const kFunction = "CSerCOMLibrary::IsDIAGConnected";
    LogPortLine(kLogDebug, channel_.PortName(), kFunction, "Start phone mode detection.");
    foundMode_ = kPhoneModeUnknown;
    for (int poll = 0; poll < kModeDetectionPolls; ++poll) {
        if (channel_.Cancelled()) return PacketResult::Cancelled;
        foundMode_ = channel_.GetPhoneMode();
        switch (foundMode_) {
            case kPhoneModeAt: return switcher_.ChangeDS2DIAG() ? PacketResult::Ok : PacketResult::DsSwitchFailed;
            case kPhoneModeDIAG:
                LogPortLine(kLogWarning, channel_.PortName(), kFunction, "DIAG detected.");
                return PacketResult::Ok;
            case kPhoneModeDL:
                LogPortLine(kLogError, channel_.PortName(), kFunction,
                            "Mobile current mode is DL, can not change to DIAG.");
                return PacketResult::ModeIsDL;
            default:
                LogPortLine(kLogError, channel_.PortName(), kFunction,
                            "Can not determine phone mode, so wait a moment.");
                channel_.Pause(channel_.Times().diagDetectionPoll);
                break;
        }
    }
    LogPortLine(kLogError, channel_.PortName(), kFunction, "Phone mode detection failed.");
    return PacketResult::ModeUnknown;
}

PacketResult CSerCOMLibrary::IsDLConnected() {
    static const char* const kFunction = "CSerCOMLibrary::IsDLConnected";
    LogPortLine(kLogWarning, channel_.PortName(), kFunction, "Start phone mode detection.");
    foundMode_ = kPhoneModeUnknown;
    for (int poll = 0; poll < kModeDetectionPolls; ++poll) {
        if (channel_.Cancelled()) return PacketResult::Cancelled;
        foundMode_ = channel_.GetPhoneMode();
        switch (foundMode_) {
            case kPhoneModeAt:
                if (!switcher_.ChangeDS2DL()) return PacketResult::DsSwitchFailed;
                LogPortLine(kLogWarning, channel_.PortName(), kFunction, "DS to DL change completed.");
                return PacketResult::Ok;
            case kPhoneModeDIAG: {
                if (switcher_.ChangeDIAG2DL()) {
                    LogPortLine(kLogWarning, channel_.PortName(), kFunction, "DIAG to DL change completed.");
                    return PacketResult::Ok;
                }
                LogPortLine(kLogError, channel_.PortName(), kFunction, "DIAG to DL failed.");
                return PacketResult::DiagSwitchFailed;
            }
            case kPhoneModeDL:
                LogPortLine(kLogError, channel_.PortName(), kFunction, "DL detected.");
                return PacketResult::Ok;
            default:
                LogPortLine(kLogError, channel_.PortName(), kFunction,
                            "Can not determine phone mode, so wait a moment.");
                channel_.Pause(channel_.Times().dlDetectionPoll);
                break;
        }
    }
    LogPortLine(kLogError, channel_.PortName(), kFunction, "Phone mode detection failed.");
    return PacketResult::ModeUnknown;
}

}  // namespace fennix
