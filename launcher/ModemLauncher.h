// The launcher's behaviour, free of any operating system: once a second it
// looks for the modem's COM port; while the port is absent it tries to switch
// the modem's storage disk into modem mode, and once the port is present it
// starts the connection manager, once per appearance of the port.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "LauncherSystem.h"

namespace quillon {

// Pause between deciding to launch and starting the manager, giving the
// modem's ports time to settle.
constexpr uint32_t kLaunchDelayMs = 10000;
constexpr uint32_t kPassIntervalMs = 1000;

// Device names of the modem driver's ports contain this (case-sensitive).
extern const char kModemDriverDeviceMark[];
// Device paths of the modem's storage disk contain this (case-sensitive).
extern const char kModemDiskPathMark[];
// Longest device path taken, without its terminator.
constexpr size_t kMaxDevicePathLength = 255;

// True for a device path of the modem's storage disk that fits into 256
// characters with its terminator.
bool IsModemDiskPath(const std::string& devicePath);

class CModemLauncher {
public:
    explicit CModemLauncher(ILauncherSystem& system) : system_(system) {}

    // Opens the serial map and reads the install path. False when the
    // "InstallPath" value exists in name only: the program then ends.
    bool Start();

    // One pass of the main loop, the one-second pause at its end included.
    void RunPass();

    // The modem's port is listed in the serial map under its driver and is the
    // port name the modem's interface 2 was given.
    bool IsPortPresent();

    // Looks for the modem's storage disk and sends it the mode switch request.
    void MakeSwitchAttempt();

    bool Launched() const { return launched_; }
    bool SerialMapOpened() const { return serialMapOpened_; }
    const std::string& InstallPath() const { return installPath_; }

private:
    std::optional<std::string> FindModemDisk();
    void Launch();

    ILauncherSystem& system_;
    bool serialMapOpened_ = false;
    std::string installPath_;
    bool managerWindow_ = false;
    bool launched_ = false;
};

// The program: start, then passes without end. Returns (with 0) only when
// the start fails.
int RunLauncher(ILauncherSystem& system);

}  // namespace quillon
