// Waiting for the device's mode after the port was opened, and moving the
// device into the mode a flow needs.
#include "log/Log.h"
#include "serial/SerCOMLibrary.h"

namespace fennix {

namespace {
constexpr int kDetectionPolls = 120;
}

int32_t CSerCOMLibrary::IsDIAGConnected() {
    static const char* const kFunction = "CSerCOMLibrary::IsDIAGConnected";
    LogPortLine(kLogDebug, PortName(), kFunction, "Start phone mode detection.");
    for (int poll = 0; poll < kDetectionPolls; ++poll) {
        if (Cancelled()) return kPacketCancelled;
        switch (GetPhoneMode()) {
            case kPhoneModeDS:
                return ChangeDS2DIAG() == 1 ? 1 : kPacketDsSwitchFailed;
            case kPhoneModeDIAG:
                LogPortLine(kLogWarning, PortName(), kFunction, "DIAG detected.");
                return 1;
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
    for (int poll = 0; poll < kDetectionPolls; ++poll) {
        if (Cancelled()) return kPacketCancelled;
        switch (GetPhoneMode()) {
            case kPhoneModeDS:
                if (ChangeDS2DL() != 1) return kPacketDsSwitchFailed;
                LogPortLine(kLogWarning, PortName(), kFunction, "DS to DL change completed.");
                return 1;
            case kPhoneModeDIAG: {
                const int result = ChangeDIAG2DL();
                if (result == 1) {
                    LogPortLine(kLogWarning, PortName(), kFunction, "DIAG to DL change completed.");
                    return 1;
                }
                LogPortLine(kLogError, PortName(), kFunction, "DIAG to DL failed.");
                return result;
            }
            case kPhoneModeDL:
                LogPortLine(kLogError, PortName(), kFunction, "DL detected.");
                return 1;
            default:
                LogPortLine(kLogError, PortName(), kFunction, "Can not determine phone mode, so wait a moment.");
                Pause(Times().dlDetectionPoll);
                break;
        }
    }
    LogPortLine(kLogError, PortName(), kFunction, "Phone mode detection failed.");
    return kPacketModeUnknown;
}

}  // namespace fennix
