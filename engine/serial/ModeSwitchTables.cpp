#include "serial/ModeSwitchTables.h"

#include <cstring>

namespace fennix {

int PlatformGroupOf(const char* upperPlatformId) {
    static const char* const kGroup1[] = {"K7M", "T7413", "PEXD4", "LUNW2"};
    for (const char* name : kGroup1) {
        if (std::strstr(upperPlatformId, name) != nullptr) return kPlatform6280;
    }
    return kPlatformDefault;
}

int MobileModeOf(const char* lowerVersionDirectory) {
    struct Row {
        const char* text;
        int mode;
    };
    // In this order: the first row found decides.
    static const Row kRows[] = {
        {"pelomir", kMobileModeReenumerates},
        {"pelq7e", kMobileModeReenumerates},
        {"pelq7f", kMobileModeReenumerates},
        {"pelz5", kMobileModeReenumerates},
        {"gvd", kMobileModeGvd},
        {"dvr4162", kMobileModeDvr},
    };
    for (const Row& row : kRows) {
        if (std::strstr(lowerVersionDirectory, row.text) != nullptr) return row.mode;
    }
    return kMobileModeUnknown;
}

bool LocateStatusFields(const uint8_t* raw, size_t length, uint16_t* rfMode, uint16_t* state) {
    constexpr size_t kRfModeAfter = 8;
    constexpr size_t kStateAfter = 32;
    size_t rfAt = 0, stateAt = 0, counted = 0;
    for (size_t i = 0; i < length && stateAt == 0; ++i) {
        if (raw[i] == 0x7D) continue;
        ++counted;
        if (counted == kRfModeAfter) rfAt = i + 1;
        if (counted == kStateAfter) stateAt = i + 1;
    }
    if (stateAt == 0 || stateAt + 1 >= length) return false;
    *rfMode = static_cast<uint16_t>(raw[rfAt] | (raw[rfAt + 1] << 8));
    *state = static_cast<uint16_t>(raw[stateAt] | (raw[stateAt + 1] << 8));
    return true;
}

bool IsOfflineStatus(uint16_t rfMode, uint16_t state) {
    return (rfMode == 0 && state == 6) || (rfMode == 1 && state == 2);
}

}  // namespace fennix
