// Everything the modem launcher asks of the operating system, kept small so that
// the pass logic runs unchanged against the Windows implementation
// (win32/Win32LauncherSystem) and against a scripted fake in the tests.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quillon {

// One value of the serial map: the driver's device name and the COM port name.
struct SerialMapEntry {
    std::string name;
    std::string port;
};

enum class InstallPathStatus {
    Read,             // the value was read into `path`
    KeyMissing,       // "SOFTWARE" or "HSPA modem" cannot be opened
    ValueUnreadable,  // the key exists but "InstallPath" cannot be read
};

struct InstallPathResult {
    InstallPathStatus status = InstallPathStatus::KeyMissing;
    std::string path;
};

// One step through the list of present disk interfaces.
struct DiskInterfaceStep {
    enum class Kind {
        Path,          // `path` holds the interface's device path
        End,           // the list ended or its enumeration failed; `error` says why
        OutOfMemory,   // no memory for the interface's details
        DetailFailed,  // the interface's details cannot be read; `error` says why
    };
    Kind kind = Kind::End;
    std::string path;
    uint32_t error = 0;
};

class IDiskInterfaceList {
public:
    virtual ~IDiskInterfaceList() = default;
    // Every call moves on by one interface; after End the list is spent.
    virtual DiskInterfaceStep Next() = 0;
};

// The modem's storage disk, open for reading and writing. Destroying it
// releases the handle.
class IStorageDisk {
public:
    virtual ~IStorageDisk() = default;
    // Sends the mode switch request; its outcome is of no use to the caller.
    virtual void SendModeSwitch() = 0;
};

struct DiskOpenResult {
    std::unique_ptr<IStorageDisk> disk;  // empty when opening failed
    uint32_t error = 0;                  // the platform's error number then
};

class ILauncherSystem {
public:
    virtual ~ILauncherSystem() = default;

    // HKEY_LOCAL_MACHINE\HARDWARE\DEVICEMAP\SERIALCOMM, kept open once opened.
    virtual bool OpenSerialMap() = 0;
    // Number of values, or nothing when the key is not open or cannot be queried.
    virtual std::optional<uint32_t> CountSerialMapValues() = 0;
    // Nothing when the value cannot be read (name or data too long, gone, ...).
    virtual std::optional<SerialMapEntry> ReadSerialMapValue(uint32_t index) = 0;
    // "PortName" of every instance below the modem's interface-2 USB key that
    // has one, in subkey order; empty when the key is missing.
    virtual std::vector<std::string> ReadModemPortNames() = 0;

    // HKEY_CURRENT_USER\SOFTWARE\HSPA modem, value "InstallPath".
    virtual InstallPathResult ReadInstallPath() = 0;

    // A top-level window of class "Static" titled "HSPA modem" exists.
    virtual bool ManagerWindowExists() = 0;
    // Starts a program through the shell; the outcome is not reported.
    virtual void StartProgram(const std::string& path) = 0;

    // The present interfaces of the disk class, or nothing when the platform
    // refuses the list.
    virtual std::unique_ptr<IDiskInterfaceList> ListDiskInterfaces() = 0;
    virtual DiskOpenResult OpenStorageDisk(const std::string& devicePath) = 0;

    // The platform's text for an error number in the user's default language.
    virtual std::string DescribeError(uint32_t error) = 0;
    // Writes one diagnostic text to standard output as it is.
    virtual void Print(const std::string& text) = 0;
    virtual void Pause(uint32_t milliseconds) = 0;
};

}  // namespace quillon
