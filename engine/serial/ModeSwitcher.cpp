// The switches between the modes: AT command mode to DIAG with an AT
// command, DIAG to download mode with the DIAG download command. Each switch
// ends by letting the listener probe the device again and watching the mode
// it finds.
#include "log/Log.h"
#include "serial/ModeSwitcher.h"
#include "serial/PhoneMode.h"

namespace fennix {

namespace {

// Watches the phone mode after a download switch: kDownloadModeChecks, one
// switch-check pause apart. Download mode is success; AT or DIAG mode means
// the device answered and did not switch.
bool AwaitDownloadMode(IRawChannel& channel, const char* function) {
    for (int check = 0; check < kDownloadModeChecks; ++check) {
        uint32_t mode = channel.PhoneMode();
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

bool CModeSwitcher::ChangeDS2DIAG() {
    LogPortLine(kLogDebug, raw_.PortName(), "CSerialIO::ChangeDS2DIAG", "Start change mode DS to DIAG");
    if (raw_.WriteRaw(kAtSwitchToDiag, sizeof kAtSwitchToDiag, nullptr) != ChannelResult::Ok) return false;
    // The restarted listener reopens the port and probes the device afresh.
    raw_.StopListener();
    raw_.StartListener();
    for (int poll = 0; poll < kDiagAppearancePolls; ++poll) {
        uint32_t mode = raw_.PhoneMode();
        if (mode == kPhoneModeDIAG) return true;
        if (mode == kPhoneModeAt || mode == kPhoneModeDL) return false;
        if (!raw_.Pause(raw_.Times().switchPoll)) return false;
    }
    return false;
}

bool CModeSwitcher::ChangeDS2DL() {
    static const char* const kFunction = "CSerialIO::ChangeDS2DL";
    if (!ChangeDS2DIAG()) {
        LogPortLine(kLogError, raw_.PortName(), kFunction, "Change DS to DIAG fails.");
        return false;
    }
    if (!ChangeDIAG2DL()) {
        LogPortLine(kLogError, raw_.PortName(), kFunction, "Change DIAG to DL fails.");
        return false;
    }
    return true;
}

bool CModeSwitcher::ChangeDIAG2DL() {
    switch (GetPlatformID()) {
        case PlatformGroup::Default: return InternalChange2DLDefault();
        case PlatformGroup::Group6280: return InternalChange2DL6280();
        default: return false;  // no usable build ID: no switch is tried
    }
}

bool CModeSwitcher::InternalChange2DL6280() {
    static const char* const kFunction = "InternalChange2DL6280";
    LogPortLine(kLogWarning, raw_.PortName(), kFunction, "Change DIAG to DL");
    raw_.KeepPacketLayerOut(true);
    QuietDevice();
    LogPortLine(kLogWarning, raw_.PortName(), kFunction, "Write DIAG command to change to DL mode.");
    // A cancelled flow leaves the device where it is.
    if (raw_.Cancelled()) return false;
    // A failed switch leaves the packet layer blocked: the device's state is
    // unknown and no further request should reach it on this session (the
    // next open lets it in again).
    if (raw_.WriteRaw(kDownloadSwitchRequest, sizeof kDownloadSwitchRequest, nullptr) != ChannelResult::Ok) {
        return false;
    }

    // These devices keep their port through the switch: probe on the open
    // port. Detection starts before the packet layer comes back, and what the
    // device said after the switch request (an acknowledgement, late DIAG
    // traffic) is dropped: none of it is an answer anybody waits for.
    raw_.RedetectOnOpenPort();
    raw_.KeepPacketLayerOut(false);
    return AwaitDownloadMode(raw_, kFunction);
}

bool CModeSwitcher::InternalChange2DLDefault() {
    static const char* const kFunction = "InternalChange2DLDefault";
    const Timeouts& times = raw_.Times();
    LogPortLine(kLogWarning, raw_.PortName(), kFunction, "Change DIAG to DL");
    raw_.KeepPacketLayerOut(true);
    raw_.Pause(times.switchSettlePause);

    QuietDevice();
    const MobileMode mobileMode = GetMobileMode();
    if (!ChangeToOffline()) {
        LogPortLine(kLogError, raw_.PortName(), kFunction, "Change to offline fails.");
        raw_.KeepPacketLayerOut(false);
        return false;
    }

    // The listener closes the port as it ends; the port is reopened here at
    // the rate in use, without the listener's baud-rate cycling.
    raw_.StopListener();
    raw_.Pause(times.switchCheck);
    raw_.KeepBaudRate();
    bool reopened = false;
    for (uint32_t attempt = 0; attempt < 4 && !reopened && !raw_.Cancelled(); ++attempt) {
        reopened = raw_.OpenPort() == ChannelResult::Ok;
        if (!reopened) raw_.Pause(times.reopenPause[attempt]);
    }
    if (!reopened) return false;

    LogPortLine(kLogWarning, raw_.PortName(), kFunction, "Write DIAG command to change to DL mode.");
    // A cancelled flow leaves the device where it is.
    if (!raw_.Pause(times.switchCheck)) return false;
    if (raw_.WriteRaw(kDownloadSwitchRequest, sizeof kDownloadSwitchRequest, nullptr) != ChannelResult::Ok) {
        return false;
    }
    if (mobileMode == MobileMode::Reenumerates) {
        // These devices leave the bus to come back in download mode: let go of
        // the port and give them time to do so.
        raw_.ClosePort();
        raw_.Pause(times.portReleasePause);
    }

    raw_.KeepPacketLayerOut(false);
    raw_.StartListener();
    return AwaitDownloadMode(raw_, kFunction);
}

}  // namespace fennix
