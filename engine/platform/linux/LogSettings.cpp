#include "platform/LogSettings.h"

#include <cstdlib>
#include <cstring>

namespace fennix::platform {

namespace {

std::optional<uint32_t> DecimalVariable(const char* name) {
    const char* text = std::getenv(name);
    if (text == nullptr) return std::nullopt;
    char* end = nullptr;
    long long value = std::strtoll(text, &end, 10);
    if (end == text) return std::nullopt;
    // -1 reads as 0xFFFFFFFF, like the registry's DWORD.
    return static_cast<uint32_t>(value);
}

}  // namespace

LogSettings ReadLogSettings() {
    LogSettings settings;
    const char* level = std::getenv("FENNIX_LOG_LEVEL");
    const char* append = std::getenv("FENNIX_LOG_APPEND");
    const char* app = std::getenv("FENNIX_LOG_APP");
    settings.present = level != nullptr || append != nullptr || app != nullptr;
    if (!settings.present) return settings;
    settings.level = DecimalVariable("FENNIX_LOG_LEVEL");
    settings.appendOption = DecimalVariable("FENNIX_LOG_APPEND");
    if (app != nullptr) settings.app = std::string(app, strnlen(app, 100));
    return settings;
}

}  // namespace fennix::platform
