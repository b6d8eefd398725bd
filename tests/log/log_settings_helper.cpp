#include "log_settings_helper.h"

#if defined(_WIN32)

#include <windows.h>

#include <stdexcept>

namespace fennix::testsupport {

namespace {

const char kKey[] = "SOFTWARE\\Korvane";

HKEY CreateKey() {
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        throw std::runtime_error("cannot create HKLM\\SOFTWARE\\Korvane");
    return key;
}

void SetDword(const char* name, uint32_t value) {
    HKEY key = CreateKey();
    DWORD data = value;
    LONG rc = RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data), sizeof data);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS) throw std::runtime_error("cannot set a log setting");
}

}  // namespace

void ClearLogSettings() { RegDeleteKeyA(HKEY_LOCAL_MACHINE, kKey); }

void SetLogLevel(uint32_t level) { SetDword("Level", level); }

void RemoveLogLevel() {
    HKEY key = CreateKey();
    RegDeleteValueA(key, "Level");
    RegCloseKey(key);
}

void SetLogAppend(uint32_t option) { SetDword("AppendOption", option); }

void SetLogApp(const std::string& prefix) {
    HKEY key = CreateKey();
    LONG rc = RegSetValueExA(key, "App", 0, REG_SZ, reinterpret_cast<const BYTE*>(prefix.c_str()),
                             static_cast<DWORD>(prefix.size() + 1));
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS) throw std::runtime_error("cannot set the log prefix");
}

}  // namespace fennix::testsupport

#else

#include <cstdlib>

namespace fennix::testsupport {

void ClearLogSettings() {
    unsetenv("FENNIX_LOG_LEVEL");
    unsetenv("FENNIX_LOG_APPEND");
    unsetenv("FENNIX_LOG_APP");
}

void SetLogLevel(uint32_t level) { setenv("FENNIX_LOG_LEVEL", std::to_string(level).c_str(), 1); }

void RemoveLogLevel() { unsetenv("FENNIX_LOG_LEVEL"); }

void SetLogAppend(uint32_t option) { setenv("FENNIX_LOG_APPEND", std::to_string(option).c_str(), 1); }

void SetLogApp(const std::string& prefix) { setenv("FENNIX_LOG_APP", prefix.c_str(), 1); }

}  // namespace fennix::testsupport

#endif
