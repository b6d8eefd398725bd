#include "serial/ModeSwitchTables.h"

#include <cstring>

namespace fennix {

PlatformGroup PlatformGroupOf(const char* upperPlatformId) {
    static const char* const kGroup1[] = {"K7M", "T7413", "PEXD4", "LUNW2"};
    for (const char* name : kGroup1) {
        if (std::strstr(upperPlatformId, name) != nullptr) return PlatformGroup::Group6280;
    }
    return PlatformGroup::Default;
}

MobileMode MobileModeOf(const char* lowerVersionDirectory) {
    struct Row {
        const char* text;
        MobileMode mode;
    };
    // In this order: the first row found decides.
    static const Row kRows[] = {
        {"pelomir", MobileMode::Reenumerates},
        {"pelq7e", MobileMode::Reenumerates},
        {"pelq7f", MobileMode::Reenumerates},
        {"pelz5", MobileMode::Reenumerates},
        {"gvd", MobileMode::Gvd},
        {"dvr4162", MobileMode::Dvr},
    };
    for (const Row& row : kRows) {
        if (std::strstr(lowerVersionDirectory, row.text) != nullptr) return row.mode;
    }
    return MobileMode::Unknown;
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
