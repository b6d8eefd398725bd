// The serial port table of Windows: the values of
// HKEY_LOCAL_MACHINE\HARDWARE\DEVICEMAP\SERIALCOMM.
#include "platform/SerialPortTable.h"

#include <windows.h>

#include <cstdio>

namespace fennix::platform {

std::vector<SerialPortEntry> ReadSerialPortTable() {
    std::vector<SerialPortEntry> entries;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_QUERY_VALUE, &key) !=
        ERROR_SUCCESS) {
        return entries;
    }
    for (DWORD index = 0;; ++index) {
        char name[128] = {};
        BYTE data[129] = {};
        DWORD nameLength = sizeof name;
        DWORD dataLength = sizeof data - 1;
        DWORD type = 0;
        LONG status = RegEnumValueA(key, index, name, &nameLength, nullptr, &type, data, &dataLength);
        if (status == ERROR_MORE_DATA) continue;  // a value that does not fit is no port of ours
        if (status != ERROR_SUCCESS) break;
        if (type != REG_SZ && type != REG_EXPAND_SZ) continue;
        entries.push_back({std::string(name, nameLength), std::string(reinterpret_cast<char*>(data))});
    }
    RegCloseKey(key);
    return entries;
}

const char* QualcommDeviceNameMarker() { return "\\device\\qcusb"; }

SerialPortNames NameSerialPort(const std::string&, uint32_t portNumber) {
    char name[32];
    std::snprintf(name, sizeof name, "COM%u", static_cast<unsigned>(portNumber));
    SerialPortNames names;
    names.shortName = name;
    // Only COM1..COM9 have names of their own in the DOS device namespace;
    // the others are reached through the device path.
    names.devicePath = portNumber <= 9 ? names.shortName : "\\\\.\\" + names.shortName;
    return names;
}

bool IsSerialPortPresent(const std::string&, uint32_t portNumber, uint32_t (*parsePortNumber)(const char*)) {
    for (const SerialPortEntry& entry : ReadSerialPortTable()) {
        if (parsePortNumber(entry.portName.c_str()) == portNumber) return true;
    }
    return false;
}

}  // namespace fennix::platform
