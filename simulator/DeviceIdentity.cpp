#include "DeviceIdentity.h"

#include <string>

namespace fennix::sim {
namespace {

std::vector<uint8_t> LittleEndian(uint64_t value, size_t bytes) {
    std::vector<uint8_t> out;
    for (size_t i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
    return out;
}

// 35 209900 176148 with the device's place added, and its Luhn check digit.
uint64_t DefaultImei(uint32_t place) {
    const uint64_t body = 35209900176148ULL + place;
    const std::string digits = std::to_string(body);
    int sum = 0;
    for (size_t i = 0; i < digits.size(); ++i) {
        int digit = digits[i] - '0';
        if (i % 2 == 1) digit = digit * 2 > 9 ? digit * 2 - 9 : digit * 2;
        sum += digit;
    }
    return body * 10 + static_cast<uint64_t>((10 - sum % 10) % 10);
}

}  // namespace

std::vector<uint8_t> ImeiItemOf(uint64_t digits) {
    std::string text = std::to_string(digits % 1000000000000000ULL);
    text.insert(0, 15 - text.size(), '0');
    std::vector<uint8_t> item{0x08, static_cast<uint8_t>(0x0A | ((text[0] - '0') << 4))};
    for (size_t i = 1; i < text.size(); i += 2)
        item.push_back(static_cast<uint8_t>((text[i] - '0') | ((text[i + 1] - '0') << 4)));
    return item;
}

std::optional<std::vector<uint8_t>> IdentityItemValue(const DeviceOptions& options, uint16_t item) {
    const uint32_t place = options.identityPlace;
    const auto knob = [&](const char* name, uint64_t fallback) {
        const int64_t value = options.knobs.Get(name);
        return value >= 0 ? static_cast<uint64_t>(value) : fallback;
    };
    switch (item) {
        case 0: return LittleEndian(knob("id.esn", options.esn + place), 4);
        case 550: return ImeiItemOf(knob("id.imei", DefaultImei(place)));
        case 1943: return LittleEndian(knob("id.meid", 0xA0000012345600ULL + place), 7);
        default: return std::nullopt;
    }
}

}  // namespace fennix::sim
