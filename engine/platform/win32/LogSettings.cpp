#include "platform/LogSettings.h"

#include <windows.h>

namespace fennix::platform {

namespace {

std::optional<uint32_t> ReadDword(HKEY key, const char* name) {
    DWORD value = 0;
    DWORD size = sizeof value;
    if (RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS)
        return std::nullopt;
    return static_cast<uint32_t>(value);
}

}  // namespace

LogSettings ReadLogSettings() {
    LogSettings settings;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Korvane", 0, KEY_READ, &key) != ERROR_SUCCESS) return settings;
    settings.present = true;
    settings.level = ReadDword(key, "Level");
    settings.appendOption = ReadDword(key, "AppendOption");
    char app[101] = {};
    DWORD size = 100;
    if (RegQueryValueExA(key, "App", nullptr, nullptr, reinterpret_cast<BYTE*>(app), &size) == ERROR_SUCCESS) {
        app[size < 100 ? size : 100] = '\0';
        settings.app = std::string(app);
    }
    RegCloseKey(key);
    return settings;
}

}  // namespace fennix::platform
