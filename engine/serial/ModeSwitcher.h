// The mode switcher: the conversations that wait for the device's mode and
// move the device into the mode a flow needs. They are operations of the
// channel (CSerialIO) and the packet layer (CSerCOMLibrary), declared there;
// this unit defines them in two files, split by conversation:
//   ModeSwitcher.cpp        waiting for a mode, and the switches themselves
//                           (AT to DIAG, DIAG to download mode)
//   ModeSwitcherDevice.cpp  the questions a download switch asks the device
//                           first (platform, firmware family, offline) and
//                           silencing its unsolicited traffic
// The requests and the rules that read the answers are in ModeSwitchTables.
// This header holds how often each conversation looks before it gives up.
#pragma once

#include "serial/ModeSwitchTables.h"
#include "serial/SerCOMLibrary.h"

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

}  // namespace fennix
