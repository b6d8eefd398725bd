// Waiting for the device's mode after the port was opened, and the switches
// between the modes: AT command mode to DIAG with an AT command, DIAG to
// download mode with the DIAG download command. Each switch ends by letting
// the listener probe the device again and watching the mode it finds.
#include "log/Log.h"
#include "serial/ModeSwitcher.h"

namespace fennix {

int32_t CSerCOMLibrary::IsDIAGConnected() {
    static const char* const kFunction = "CSerCOMLibrary::IsDIAGConnected";
    LogPortLine(kLogDebug, PortName(), kFunction, "Start phone mode detection.");
    for (int poll = 0; poll < kModeDetectionPolls; ++poll) {
        if (Cancelled()) return kPacketCancelled;
        switch (GetPhoneMode()) {
            case kPhoneModeAt: return ChangeDS2DIAG() ? 1 : kPacketDsSwitchFailed;
            case kPhoneModeDIAG: LogPortLine(kLogWarning, PortName(), kFunction, "DIAG detected."); return 1;
            case kPhoneModeDL:
                LogPortLine(kLogError, PortName(), kFunction, "Mobile current mode is DL, can not change to DIAG.");
                return kPacketModeIsDL;
            default:
                LogPortLine(kLogError, PortName(), kFunction, "Can not determine phone mode, so wait a moment.");
                Pause(Times().diagDetectionPoll);
                break;
        }
    }
    LogPortLine(kLogError, PortName(), kFunction, "Phone mode detection failed.");
    return kPacketModeUnknown;
}

int32_t CSerCOMLibrary::IsDLConnected() {
    static const char* const kFunction = "CSerCOMLibrary::IsDLConnected";
    LogPortLine(kLogWarning, PortName(), kFunction, "Start phone mode detection.");
    for (int poll = 0; poll < kModeDetectionPolls; ++poll) {
        if (Cancelled()) return kPacketCancelled;
        switch (GetPhoneMode()) {
            case kPhoneModeAt:
                if (!ChangeDS2DL()) return kPacketDsSwitchFailed;
                LogPortLine(kLogWarning, PortName(), kFunction, "DS to DL change completed.");
                return 1;
            case kPhoneModeDIAG: {
                if (ChangeDIAG2DL()) {
                    LogPortLine(kLogWarning, PortName(), kFunction, "DIAG to DL change completed.");
                    return 1;
                }
                LogPortLine(kLogError, PortName(), kFunction, "DIAG to DL failed.");
                return kPacketDiagSwitchFailed;
            }
            case kPhoneModeDL: LogPortLine(kLogError, PortName(), kFunction, "DL detected."); return 1;
            default:
                LogPortLine(kLogError, PortName(), kFunction, "Can not determine phone mode, so wait a moment.");
                Pause(Times().dlDetectionPoll);
                break;
        }
    }
    LogPortLine(kLogError, PortName(), kFunction, "Phone mode detection failed.");
    return kPacketModeUnknown;
}

namespace {

// Watches the phone mode after a download switch: kDownloadModeChecks, one
// switch-check pause apart. Download mode is success; AT or DIAG mode means
// the device answered and did not switch.
bool AwaitDownloadMode(CSerialIO& channel, const char* function) {
    for (int check = 0; check < kDownloadModeChecks; ++check) {
        uint32_t mode = channel.GetPhoneMode();
        if (mode == kPhoneModeAt || mode == kPhoneModeDIAG) return false;
        if (mode == kPhoneModeDL) {
            LogPortLine(kLogError, channel.PortName(), function, "Change to DL successfully.");
            return true;
        }
        if (!channel.Pause(channel.Times().switchCheck)) return false;
    }
    return false;
}

}  // namespace

void CSerialIO::KeepPacketLayerOut(bool out) {
    SetWritesBlocked(out);
    SetNotificationsSuppressed(out);
    // A frame left posted (unsolicited traffic, a late reply) would keep the
    // listener waiting for a taker, and no raw answer would ever be read.
    if (out) ReleaseHeldData();
}

bool CSerialIO::ChangeDS2DIAG() {
    LogPortLine(kLogDebug, PortName(), "CSerialIO::ChangeDS2DIAG", "Start change mode DS to DIAG");
    if (InternalWrite(kAtSwitchToDiag, sizeof kAtSwitchToDiag, nullptr) != ChannelResult::Ok) return false;
    // The restarted listener reopens the port and probes the device afresh.
    StopListener(Times().listenerStopWait);
    StartListener();
    for (int poll = 0; poll < kDiagAppearancePolls; ++poll) {
        uint32_t mode = GetPhoneMode();
        if (mode == kPhoneModeDIAG) return true;
        if (mode == kPhoneModeAt || mode == kPhoneModeDL) return false;
        if (!Pause(Times().switchPoll)) return false;
    }
    return false;
}

bool CSerialIO::ChangeDS2DL() {
    static const char* const kFunction = "CSerialIO::ChangeDS2DL";
    if (!ChangeDS2DIAG()) {
        LogPortLine(kLogError, PortName(), kFunction, "Change DS to DIAG fails.");
        return false;
    }
    if (!ChangeDIAG2DL()) {
        LogPortLine(kLogError, PortName(), kFunction, "Change DIAG to DL fails.");
        return false;
    }
    return true;
}

bool CSerialIO::ChangeDIAG2DL() {
    switch (GetPlatformID()) {
        case PlatformGroup::Default: return InternalChange2DLDefault();
        case PlatformGroup::Group6280: return InternalChange2DL6280();
        default: return false;  // no usable build ID: no switch is tried
    }
}

bool CSerialIO::InternalChange2DL6280() {
    static const char* const kFunction = "InternalChange2DL6280";
    LogPortLine(kLogWarning, PortName(), kFunction, "Change DIAG to DL");
    KeepPacketLayerOut(true);
    QuietDevice();
    LogPortLine(kLogWarning, PortName(), kFunction, "Write DIAG command to change to DL mode.");
    // A cancelled flow leaves the device where it is.
    if (Cancelled()) return false;
    // A failed switch leaves the packet layer blocked: the device's state is
    // unknown and no further request should reach it on this session (the
    // next open lets it in again).
    if (InternalWrite(kDownloadSwitchRequest, sizeof kDownloadSwitchRequest, nullptr) != ChannelResult::Ok) {
        return false;
    }

    // These devices keep their port through the switch: probe on the open
    // port. Detection starts before the packet layer comes back, and what the
    // device said after the switch request (an acknowledgement, late DIAG
    // traffic) is dropped: none of it is an answer anybody waits for.
    SetReopenOnDetection(false);
    SetPhoneMode(kPhoneModeUnknown);
    InternalResetCOM();
    DiscardUnreadBytes();
    KeepPacketLayerOut(false);
    return AwaitDownloadMode(*this, kFunction);
}

bool CSerialIO::InternalChange2DLDefault() {
    static const char* const kFunction = "InternalChange2DLDefault";
    const Timeouts& times = Times();
    LogPortLine(kLogWarning, PortName(), kFunction, "Change DIAG to DL");
    KeepPacketLayerOut(true);
    Pause(times.switchSettlePause);

    QuietDevice();
    const MobileMode mobileMode = GetMobileMode();
    if (!ChangeToOffline()) {
        LogPortLine(kLogError, PortName(), kFunction, "Change to offline fails.");
        KeepPacketLayerOut(false);
        return false;
    }

    // The listener closes the port as it ends; the port is reopened here at
    // the rate in use, without the listener's baud-rate cycling.
    StopListener(times.listenerStopWait);
    Pause(times.switchCheck);
    for (uint32_t i = 0; i < 3; ++i) {
        if (kBaudRates[i] == CurrentBaudRate()) SetBaudRateIndex(i);
    }
    bool reopened = false;
    for (uint32_t attempt = 0; attempt < 4 && !reopened && !Cancelled(); ++attempt) {
        reopened = InternalOpen() == ChannelResult::Ok;
        if (!reopened) Pause(times.reopenPause[attempt]);
    }
    if (!reopened) return false;

    LogPortLine(kLogWarning, PortName(), kFunction, "Write DIAG command to change to DL mode.");
    // A cancelled flow leaves the device where it is.
    if (!Pause(times.switchCheck)) return false;
    if (InternalWrite(kDownloadSwitchRequest, sizeof kDownloadSwitchRequest, nullptr) != ChannelResult::Ok) {
        return false;
    }
    if (mobileMode == MobileMode::Reenumerates) {
        // These devices leave the bus to come back in download mode: let go of
        // the port and give them time to do so.
        InternalClose();
        Pause(times.portReleasePause);
    }

    KeepPacketLayerOut(false);
    StartListener();
    return AwaitDownloadMode(*this, kFunction);
}

}  // namespace fennix
