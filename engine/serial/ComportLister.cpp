#include "serial/ComportLister.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "platform/SerialPortTable.h"

namespace fennix {

const char* CComportLister::BuildList() {
    list_.clear();
    const std::string marker = platform::QualcommDeviceNameMarker();
    for (const platform::SerialPortEntry& entry : platform::ReadSerialPortTable()) {
        std::string name = entry.deviceName;
        std::transform(name.begin(), name.end(), name.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        if (name.find(marker) == std::string::npos) continue;
        if (!list_.empty()) list_ += ';';
        list_ += entry.portName;
    }
    return list_.c_str();
}

void CopyPortList(const char* list, char* buffer, size_t capacity) {
    if (buffer == nullptr || capacity == 0) return;
    size_t length = std::strlen(list);
    if (length >= capacity) {
        // Cut before the first name that does not fit whole.
        length = 0;
        for (const char* separator = std::strchr(list, ';');
             separator != nullptr && static_cast<size_t>(separator - list) < capacity;
             separator = std::strchr(separator + 1, ';')) {
            length = static_cast<size_t>(separator - list);
        }
    }
    std::memcpy(buffer, list, length);
    buffer[length] = '\0';
}

}  // namespace fennix
