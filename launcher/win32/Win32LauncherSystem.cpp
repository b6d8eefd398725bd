#include "win32/Win32LauncherSystem.h"

#include <windows.h>

#include <setupapi.h>
#include <shellapi.h>

#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <new>
#include <utility>

#include "win32/PlatformModeSwitchRequest.h"

namespace quillon {

namespace {

// GUID_DEVINTERFACE_DISK, the interface class of disks.
const GUID kDiskInterfaceClass = {0x53F56307, 0xB6BF, 0x11D0, {0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}};

// An open registry key, closed when it goes out of scope.
class CRegKey {
public:
    CRegKey() = default;
    explicit CRegKey(HKEY key) : key_(key) {}
    ~CRegKey() { Reset(); }
    CRegKey(CRegKey&& other) noexcept : key_(std::exchange(other.key_, nullptr)) {}
    CRegKey& operator=(CRegKey&& other) noexcept {
        if (this != &other) {
            Reset();
            key_ = std::exchange(other.key_, nullptr);
        }
        return *this;
    }
    CRegKey(const CRegKey&) = delete;
    CRegKey& operator=(const CRegKey&) = delete;

    HKEY Get() const { return key_; }
    explicit operator bool() const { return key_ != nullptr; }
    HKEY Release() { return std::exchange(key_, nullptr); }

private:
    void Reset() {
        if (key_) RegCloseKey(key_);
        key_ = nullptr;
    }
    HKEY key_ = nullptr;
};

CRegKey OpenSubkey(HKEY parent, const char* name, REGSAM access = KEY_QUERY_VALUE) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(parent, name, 0, access, &key) != ERROR_SUCCESS) return CRegKey();
    return CRegKey(key);
}

// Opens a path one key at a time from its root, closing each key as soon as
// the next one is open. The last key gets `lastAccess`.
CRegKey OpenKeyPath(HKEY root, std::initializer_list<const char*> names, REGSAM lastAccess = KEY_QUERY_VALUE) {
    CRegKey current;
    size_t left = names.size();
    for (const char* name : names) {
        --left;
        CRegKey next = OpenSubkey(current ? current.Get() : root, name, left == 0 ? lastAccess : KEY_QUERY_VALUE);
        if (!next) return CRegKey();
        current = std::move(next);
    }
    return current;
}

// Keeps `size` bytes of registry string data as text. Data that does not hold
// its terminator within `capacity` bytes does not fit and is refused rather
// than read past.
std::optional<std::string> TextFromData(const char* data, DWORD size, DWORD capacity) {
    const size_t length = strnlen(data, size);
    if (length >= capacity) return std::nullopt;
    return std::string(data, length);
}

std::optional<std::string> QueryText(HKEY key, const char* name, DWORD capacity) {
    std::string buffer(capacity, '\0');
    DWORD size = capacity;
    if (RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&buffer[0]), &size) != ERROR_SUCCESS)
        return std::nullopt;
    return TextFromData(buffer.data(), size, capacity);
}

constexpr DWORD kSerialNameChars = 256;
constexpr DWORD kSerialDataBytes = 256;
constexpr DWORD kPortNameBytes = 256;
constexpr DWORD kInstallPathBytes = 260;

class CDiskInterfaceList final : public IDiskInterfaceList {
public:
    explicit CDiskInterfaceList(HDEVINFO info) : info_(info) {}
    ~CDiskInterfaceList() override { SetupDiDestroyDeviceInfoList(info_); }
    CDiskInterfaceList(const CDiskInterfaceList&) = delete;
    CDiskInterfaceList& operator=(const CDiskInterfaceList&) = delete;

    DiskInterfaceStep Next() override {
        DiskInterfaceStep step;
        SP_DEVICE_INTERFACE_DATA interfaceData = {};
        interfaceData.cbSize = sizeof interfaceData;
        if (!SetupDiEnumDeviceInterfaces(info_, nullptr, &kDiskInterfaceClass, index_++, &interfaceData)) {
            step.kind = DiskInterfaceStep::Kind::End;
            step.error = GetLastError();
            return step;
        }
        DWORD required = 0;
        SetupDiGetDeviceInterfaceDetailA(info_, &interfaceData, nullptr, 0, &required, nullptr);
        const DWORD size =
            required > sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) ? required : sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
        std::unique_ptr<char[]> storage(new (std::nothrow) char[size]);
        if (!storage) {
            step.kind = DiskInterfaceStep::Kind::OutOfMemory;
            return step;
        }
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(storage.get());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
        if (!SetupDiGetDeviceInterfaceDetailA(info_, &interfaceData, detail, size, nullptr, nullptr)) {
            step.kind = DiskInterfaceStep::Kind::DetailFailed;
            step.error = GetLastError();
            return step;
        }
        const size_t pathCapacity = size - offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
        step.kind = DiskInterfaceStep::Kind::Path;
        step.path.assign(detail->DevicePath, strnlen(detail->DevicePath, pathCapacity));
        return step;
    }

private:
    HDEVINFO info_;
    DWORD index_ = 0;
};

class CStorageDisk final : public IStorageDisk {
public:
    explicit CStorageDisk(HANDLE handle) : handle_(handle) {}
    ~CStorageDisk() override { CloseHandle(handle_); }
    CStorageDisk(const CStorageDisk&) = delete;
    CStorageDisk& operator=(const CStorageDisk&) = delete;

    void SendModeSwitch() override {
        PlatformModeSwitchBuffer request;
        BuildModeSwitchRequest(request);
        DWORD returned = 0;
        // The device's answer and the call's result are of no use: a modem
        // that did not switch is tried again in the next pass.
        DeviceIoControl(handle_, IOCTL_SCSI_PASS_THROUGH, &request, ModeSwitchInputLength<SCSI_PASS_THROUGH>(),
                        &request, ModeSwitchOutputLength<SCSI_PASS_THROUGH>(), &returned, nullptr);
    }

private:
    HANDLE handle_;
};

}  // namespace

CWin32LauncherSystem::~CWin32LauncherSystem() {
    if (serialMap_) RegCloseKey(serialMap_);
}

bool CWin32LauncherSystem::OpenSerialMap() {
    if (serialMap_) return true;
    serialMap_ = OpenKeyPath(HKEY_LOCAL_MACHINE, {"HARDWARE", "DEVICEMAP", "SERIALCOMM"}).Release();
    return serialMap_ != nullptr;
}

std::optional<uint32_t> CWin32LauncherSystem::CountSerialMapValues() {
    if (!serialMap_) return std::nullopt;
    DWORD count = 0;
    if (RegQueryInfoKeyA(serialMap_, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count, nullptr, nullptr,
                         nullptr, nullptr) != ERROR_SUCCESS)
        return std::nullopt;
    return count;
}

std::optional<SerialMapEntry> CWin32LauncherSystem::ReadSerialMapValue(uint32_t index) {
    char name[kSerialNameChars + 1] = {};
    DWORD nameLength = sizeof name;
    char data[kSerialDataBytes] = {};
    DWORD dataSize = sizeof data;
    if (RegEnumValueA(serialMap_, index, name, &nameLength, nullptr, nullptr, reinterpret_cast<BYTE*>(data),
                      &dataSize) != ERROR_SUCCESS)
        return std::nullopt;
    std::optional<std::string> port = TextFromData(data, dataSize, sizeof data);
    if (!port) return std::nullopt;
    return SerialMapEntry{std::string(name, strnlen(name, nameLength)), std::move(*port)};
}

std::vector<std::string> CWin32LauncherSystem::ReadModemPortNames() {
    std::vector<std::string> portNames;
    CRegKey modem =
        OpenKeyPath(HKEY_LOCAL_MACHINE, {"SYSTEM", "CurrentControlSet", "Enum", "USB", "Vid_0abc&Pid_1234&MI_02"},
                    KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS);
    if (!modem) return portNames;
    for (DWORD index = 0;; ++index) {
        char instance[256] = {};
        DWORD instanceLength = sizeof instance;
        const LONG result =
            RegEnumKeyExA(modem.Get(), index, instance, &instanceLength, nullptr, nullptr, nullptr, nullptr);
        if (result == ERROR_MORE_DATA) continue;
        if (result != ERROR_SUCCESS) break;
        CRegKey parameters = OpenKeyPath(modem.Get(), {instance, "Device Parameters"});
        if (!parameters) continue;
        if (std::optional<std::string> portName = QueryText(parameters.Get(), "PortName", kPortNameBytes))
            portNames.push_back(std::move(*portName));
    }
    return portNames;
}

InstallPathResult CWin32LauncherSystem::ReadInstallPath() {
    InstallPathResult result;
    CRegKey software = OpenSubkey(HKEY_CURRENT_USER, "SOFTWARE");
    if (!software) return result;
    CRegKey manager = OpenSubkey(software.Get(), "HSPA modem");
    if (!manager) return result;
    std::optional<std::string> path = QueryText(manager.Get(), "InstallPath", kInstallPathBytes);
    if (!path) {
        result.status = InstallPathStatus::ValueUnreadable;
        return result;
    }
    result.status = InstallPathStatus::Read;
    result.path = std::move(*path);
    return result;
}

bool CWin32LauncherSystem::ManagerWindowExists() { return FindWindowA("Static", "HSPA modem") != nullptr; }

void CWin32LauncherSystem::StartProgram(const std::string& path) {
    ShellExecuteA(nullptr, nullptr, path.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

std::unique_ptr<IDiskInterfaceList> CWin32LauncherSystem::ListDiskInterfaces() {
    HDEVINFO info = SetupDiGetClassDevsA(&kDiskInterfaceClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (info == INVALID_HANDLE_VALUE) return nullptr;
    return std::make_unique<CDiskInterfaceList>(info);
}

DiskOpenResult CWin32LauncherSystem::OpenStorageDisk(const std::string& devicePath) {
    DiskOpenResult result;
    HANDLE handle = CreateFileA(devicePath.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        result.error = GetLastError();
        return result;
    }
    result.disk = std::make_unique<CStorageDisk>(handle);
    return result;
}

std::string CWin32LauncherSystem::DescribeError(uint32_t error) {
    char* text = nullptr;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
        MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<char*>(&text), 0, nullptr);
    std::string described;
    if (length != 0 && text) described.assign(text, length);
    if (text) LocalFree(text);
    return described;
}

void CWin32LauncherSystem::Print(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    // Without a console nobody may ever read this; when standard output is
    // redirected, each line should be there as soon as it is written.
    std::fflush(stdout);
}

void CWin32LauncherSystem::Pause(uint32_t milliseconds) { Sleep(milliseconds); }

}  // namespace quillon
