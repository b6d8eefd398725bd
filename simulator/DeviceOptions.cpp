#include "DeviceOptions.h"

#include <cctype>

namespace fennix::sim {

const char* ModeName(DeviceMode mode) {
    switch (mode) {
        case DeviceMode::At: return "at";
        case DeviceMode::Diag: return "diag";
        case DeviceMode::Download: return "download";
    }
    return "?";
}

bool ParseModeName(const std::string& text, DeviceMode* mode) {
    std::string lower;
    for (char c : text) lower.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
    if (lower == "at" || lower == "ds") {
        *mode = DeviceMode::At;
    } else if (lower == "diag") {
        *mode = DeviceMode::Diag;
    } else if (lower == "download" || lower == "dl") {
        *mode = DeviceMode::Download;
    } else {
        return false;
    }
    return true;
}

bool IsPlatformGroup1(const std::string& platformId) {
    std::string upper;
    for (char c : platformId) upper.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
    for (const char* id : {"K7M", "T7413", "PEXD4", "LUNW2"})
        if (upper.find(id) != std::string::npos) return true;
    return false;
}

std::string BuildIdText(const DeviceOptions& options) { return options.platformId + options.buildIdTail; }

std::string PlatformText(const DeviceOptions& options) { return BuildIdText(options).substr(0, 5); }

bool Vanishes(VanishPolicy policy, const DeviceOptions& options) {
    switch (policy) {
        case VanishPolicy::Never: return false;
        case VanishPolicy::Always: return true;
        case VanishPolicy::ByPlatform: return !IsPlatformGroup1(PlatformText(options));
    }
    return false;
}

}  // namespace fennix::sim
