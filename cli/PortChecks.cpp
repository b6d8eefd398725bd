#include "PortChecks.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <map>

#ifdef _WIN32
#include <windows.h>

#include "AsciiCase.h"
#include "System.h"
#endif

namespace fennix::cli {

namespace {

#ifdef _WIN32
// COM names are case-blind, and "\\.\COM12" is COM12 itself.
std::string DeviceKey(const std::string& port) {
    return AsciiUpper(port.rfind("\\\\.\\", 0) == 0 ? port.substr(4) : port);
}

// The ports the drivers registered (SERIALCOMM), or a device name the system knows.
bool Exists(const std::string& port) {
    const std::string key = DeviceKey(port);
    for (const auto& entry : AllSerialPorts())
        if (DeviceKey(entry.name) == key) return true;
    char target[1024];
    return QueryDosDeviceA(key.c_str(), target, sizeof target) != 0;
}
#else
// Links (/dev/serial/by-path/..., a link of one's own) lead to the device they name.
std::string DeviceKey(const std::string& port) {
    std::error_code error;
    const std::filesystem::path canonical = std::filesystem::canonical(port, error);
    return error ? port : canonical.string();
}

bool Exists(const std::string& port) {
    std::error_code error;
    return std::filesystem::exists(port, error);
}
#endif

}  // namespace

std::string PortListProblem(const std::string& command, const std::vector<std::string>& ports) {
    const std::string prefix = "fennix " + command + ": ";
    for (const auto& port : ports)
        if (!Exists(port)) return prefix + "the port " + port + " does not exist; no port was opened";
    std::map<std::string, std::string> named;  // device → the port that named it first
    for (const auto& port : ports) {
        const auto [first, added] = named.emplace(DeviceKey(port), port);
        if (added) continue;
        if (first->second == port) return prefix + "the port " + port + " is named twice; no port was opened";
        return prefix + first->second + " and " + port + " are the same device (" + first->first +
               "); no port was opened";
    }
    return {};
}

}  // namespace fennix::cli
