// The launcher's view of Windows: registry, window search, shell, SetupAPI
// disk interfaces, the storage disk and standard output.
#pragma once

#include <windows.h>

#include "LauncherSystem.h"

namespace quillon {

class CWin32LauncherSystem final : public ILauncherSystem {
public:
    CWin32LauncherSystem() = default;
    ~CWin32LauncherSystem() override;
    CWin32LauncherSystem(const CWin32LauncherSystem&) = delete;
    CWin32LauncherSystem& operator=(const CWin32LauncherSystem&) = delete;

    bool OpenSerialMap() override;
    std::optional<uint32_t> CountSerialMapValues() override;
    std::optional<SerialMapEntry> ReadSerialMapValue(uint32_t index) override;
    std::vector<std::string> ReadModemPortNames() override;
    InstallPathResult ReadInstallPath() override;
    bool ManagerWindowExists() override;
    void StartProgram(const std::string& path) override;
    std::unique_ptr<IDiskInterfaceList> ListDiskInterfaces() override;
    DiskOpenResult OpenStorageDisk(const std::string& devicePath) override;
    std::string DescribeError(uint32_t error) override;
    void Print(const std::string& text) override;
    void Pause(uint32_t milliseconds) override;

private:
    HKEY serialMap_ = nullptr;
};

}  // namespace quillon
