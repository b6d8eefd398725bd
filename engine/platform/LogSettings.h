// Where the diagnostic log takes its settings from: the registry key
// HKEY_LOCAL_MACHINE\SOFTWARE\Korvane on Windows, the environment variables
// FENNIX_LOG_LEVEL, FENNIX_LOG_APPEND and FENNIX_LOG_APP elsewhere.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace fennix::platform {

struct LogSettings {
    bool present = false;           // the settings key exists at all
    std::optional<uint32_t> level;  // 0xFFFFFFFF switches logging off
    std::optional<uint32_t> appendOption;
    std::optional<std::string> app;  // file name prefix, at most 100 bytes
};

LogSettings ReadLogSettings();

}  // namespace fennix::platform
