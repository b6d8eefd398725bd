// How the channel names its port: the number a caller's port name carries,
// the device path and log name made from it, and whether the system has
// that port now.
#include <cctype>
#include <cstring>
#include <string>

#include "platform/SerialPortTable.h"
#include "serial/SerialIO.h"

namespace fennix {

uint32_t CSerialIO::ParsePortNumber(const char* text) {
    if (text == nullptr) return 0;
    char copy[16] = {};
    for (size_t i = 0; i < 15 && text[i] != '\0'; ++i) {
        copy[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[i])));
    }
    const char* m = std::strchr(copy, 'M');
    if (m == nullptr) return 0;
    uint64_t number = 0;
    for (const char* digit = m + 1; *digit >= '0' && *digit <= '9'; ++digit) {
        number = number * 10 + static_cast<uint64_t>(*digit - '0');
        if (number > 0xFFFFFFFFu) return 0;  // no such port
    }
    return static_cast<uint32_t>(number);
}

bool CSerialIO::IsPortRegistered() {
    return platform::IsSerialPortPresent(devicePath_, portNumber_, &CSerialIO::ParsePortNumber);
}

ChannelResult CSerialIO::NamePort(const char* portName) {
    // A running listener owns the names and opens the port itself: renaming
    // under it would race with it, so the channel counts as open.
    if (IsPortOpen() || IsListenerRunning()) return ChannelResult::AlreadyOpen;
    std::string given = portName != nullptr ? portName : "";
    portNumber_ = ParsePortNumber(given.c_str());
    platform::SerialPortNames names = platform::NameSerialPort(given, portNumber_);
    devicePath_ = names.devicePath;
    portName_ = names.shortName;
    return ChannelResult::Ok;
}

}  // namespace fennix
