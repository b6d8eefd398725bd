#include "ModemLauncher.h"

#include <utility>

namespace quillon {

const char kModemDriverDeviceMark[] = "\\Device\\QCUSB_";
const char kModemDiskPathMark[] = "usbstor#disk&ven_k7m&prod_mmc_storage";

bool IsModemDiskPath(const std::string& devicePath) {
    return devicePath.size() <= kMaxDevicePathLength && devicePath.find(kModemDiskPathMark) != std::string::npos;
}

bool CModemLauncher::Start() {
    serialMapOpened_ = system_.OpenSerialMap();
    InstallPathResult install = system_.ReadInstallPath();
    switch (install.status) {
        case InstallPathStatus::Read: installPath_ = std::move(install.path); return true;
        case InstallPathStatus::KeyMissing: installPath_.clear(); return true;
        case InstallPathStatus::ValueUnreadable: break;
    }
    return false;
}

void CModemLauncher::RunPass() {
    const bool portPresent = IsPortPresent();
    managerWindow_ = system_.ManagerWindowExists();
    if (!portPresent && launched_) launched_ = false;
    // The manager window counts whatever the flag says: a manager started by
    // hand is not started a second time.
    if (!portPresent || managerWindow_ || launched_)
        MakeSwitchAttempt();
    else
        Launch();
    system_.Pause(kPassIntervalMs);
}

void CModemLauncher::Launch() {
    system_.Pause(kLaunchDelayMs);
    // Without a configured path there is nothing to start, but the port still
    // counts as served.
    if (!installPath_.empty()) system_.StartProgram(installPath_);
    launched_ = true;
}

bool CModemLauncher::IsPortPresent() {
    const std::optional<uint32_t> count = system_.CountSerialMapValues();
    if (!count) {
        if (!serialMapOpened_) serialMapOpened_ = system_.OpenSerialMap();
        return false;
    }
    for (uint32_t index = 0; index < *count; ++index) {
        const std::optional<SerialMapEntry> entry = system_.ReadSerialMapValue(index);
        if (!entry || entry->name.find(kModemDriverDeviceMark) == std::string::npos) continue;
        // Another device on the same driver has a port too: only the port
        // the modem's own interface was given counts.
        for (const std::string& portName : system_.ReadModemPortNames()) {
            if (entry->port == portName) return true;
        }
    }
    return false;
}

std::optional<std::string> CModemLauncher::FindModemDisk() {
    std::unique_ptr<IDiskInterfaceList> list = system_.ListDiskInterfaces();
    if (!list) {
        system_.Print("SetupDiGetClassDevs failed!\n");
        return std::nullopt;
    }
    for (;;) {
        DiskInterfaceStep step = list->Next();
        switch (step.kind) {
            case DiskInterfaceStep::Kind::Path:
                if (IsModemDiskPath(step.path)) return std::move(step.path);
                break;
            case DiskInterfaceStep::Kind::OutOfMemory: system_.Print("Failed to allocate memory.\n"); break;
            case DiskInterfaceStep::Kind::DetailFailed:
                system_.Print("Error in SetupDiGetDeviceInterfaceDetail: " + system_.DescribeError(step.error) + "\n");
                break;
            case DiskInterfaceStep::Kind::End:
                system_.Print("SetupDiEnumDeviceInterfaces failed: " + system_.DescribeError(step.error));
                return std::nullopt;
        }
    }
}

void CModemLauncher::MakeSwitchAttempt() {
    const std::optional<std::string> devicePath = FindModemDisk();
    if (!devicePath) return;
    DiskOpenResult opened = system_.OpenStorageDisk(*devicePath);
    if (!opened.disk) {
        // The error number shows as a signed decimal.
        system_.Print("Failed to open the device, error - " + std::to_string(static_cast<int32_t>(opened.error)));
        return;
    }
    system_.Print("Opened the device successfully.\n");
    opened.disk->SendModeSwitch();
    // The disk is released here: an attempt runs every second for as long as
    // the modem stays in storage mode, and a kept handle would pile up.
}

int RunLauncher(ILauncherSystem& system) {
    CModemLauncher launcher(system);
    if (!launcher.Start()) return 0;
    for (;;) launcher.RunPass();
}

}  // namespace quillon
