// CModeSwitcher: the conversations that move the device into the mode a flow
// needs, talking to it raw over an IRawChannel while the packet layer is kept
// out. Its two files are split by conversation:
//   ModeSwitcher.cpp        the switches themselves (AT to DIAG, DIAG to
//                           download mode)
//   ModeSwitcherDevice.cpp  the questions a download switch asks the device
//                           first (platform, firmware family, offline) and
//                           silencing its unsolicited traffic
// The requests and the rules that read the answers are in ModeSwitchTables.
// All of it runs on the session's flow thread.
#pragma once

#include "serial/ModeSwitchTables.h"
#include "serial/RawChannel.h"

namespace fennix {

// Looks at the phone mode while waiting for the device's mode.
constexpr int kModeDetectionPolls = 120;
// Looks at the phone mode for DIAG after the AT command switch.
constexpr int kDiagAppearancePolls = 100;
// Looks at the phone mode for download mode after a download switch.
constexpr int kDownloadModeChecks = 20;
// Status requests while waiting for the device to go offline.
constexpr int kOfflineStatusChecks = 20;
// Draining unsolicited traffic: done after this many empty checks in a row,
// given up after this many checks in all.
constexpr int kQuietChecks = 5;
constexpr int kMaxQuietChecks = 200;

class CModeSwitcher {
public:
    explicit CModeSwitcher(IRawChannel& channel) : raw_(channel) {}
    CModeSwitcher(const CModeSwitcher&) = delete;
    CModeSwitcher& operator=(const CModeSwitcher&) = delete;

    bool ChangeDS2DIAG();  // the listener then finds DIAG
    bool ChangeDS2DL();    // both steps succeeded
    // Runs the download switch of the device's platform group: true when the
    // device is then in download mode; false when the switch failed or the
    // platform could not be read, so that no switch was tried.
    bool ChangeDIAG2DL();

private:
    friend class ModeSwitcherTestPeer;

    PlatformGroup GetPlatformID();    // Unknown without a usable reply
    MobileMode GetMobileMode();       // Unknown without a usable reply
    void QuietDevice();               // silences unsolicited DIAG traffic, drains
    bool ChangeToOffline();           // the device is (taken to be) offline
    bool InternalChange2DL6280();     // download mode appeared in time
    bool InternalChange2DLDefault();  // download mode appeared in time

    IRawChannel& raw_;
};

}  // namespace fennix
