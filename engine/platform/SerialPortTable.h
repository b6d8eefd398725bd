// The system's table of serial ports and the naming rules of ports.
//
// Windows: the table is HKEY_LOCAL_MACHINE\HARDWARE\DEVICEMAP\SERIALCOMM (value
// name = kernel device name such as \Device\QCUSB_A, data = port name such as
// COM3); a port is named COMn, opened through "COMn" (n up to 9) or "\\.\COMn".
// Linux: the table is the tty class of sysfs (/sys/class/tty, or the root named
// by FENNIX_SYSFS_ROOT); the device name is the tty's driver (qcserial for the
// Qualcomm USB serial driver) and the port name its device path. A port is
// named by its device path (/dev/ttyUSB0, a pseudo-terminal path, or a symbolic
// link to one); the short name used in log lines is its last component.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace fennix::platform {

struct SerialPortEntry {
    std::string deviceName;  // kernel device name, or the driver name on Linux
    std::string portName;    // the name callers open the port by
};

// The table in enumeration order; empty when it cannot be read. On Windows a
// value whose name or data does not fit 128 bytes is left out.
std::vector<SerialPortEntry> ReadSerialPortTable();

// Lower-case text whose presence in the lower-cased device name marks a port
// of the Qualcomm USB serial driver.
const char* QualcommDeviceNameMarker();

struct SerialPortNames {
    std::string devicePath;  // what the port is opened by
    std::string shortName;   // the port field of log lines
};

// Names of the port a caller gave as `givenName`, whose number (the decimal
// number after the first M, as the channel parses it) is `portNumber`.
SerialPortNames NameSerialPort(const std::string& givenName, uint32_t portNumber);

// Whether the port is present on the system now. Windows: some SERIALCOMM
// value's data parses (with `parsePortNumber`) to `portNumber`. Linux: the path
// exists and is a terminal device (not /dev/tty, the console or a pty master).
bool IsSerialPortPresent(const std::string& givenName, uint32_t portNumber,
                         uint32_t (*parsePortNumber)(const char* text));

}  // namespace fennix::platform
