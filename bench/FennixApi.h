// The library's exported session functions, looked up at run time in
// libFennix.so, the way a bench script or another program would use it.
#pragma once

#include <string>

#include "fennix/fennix.h"

namespace fennix::bench {

struct FennixApi {
    decltype(&::StartLog) startLog = nullptr;
    decltype(&::EndLog) endLog = nullptr;
    decltype(&::SetComPort) setComPort = nullptr;
    decltype(&::SetHexFile) setHexFile = nullptr;
    decltype(&::SetMbnFile) setMbnFile = nullptr;
    decltype(&::SetSkipCheck) setSkipCheck = nullptr;
    decltype(&::SetEventCallback) setEventCallback = nullptr;
    decltype(&::SetStreaming) setStreaming = nullptr;
    decltype(&::StartDownload) startDownload = nullptr;
    decltype(&::Close) close = nullptr;

    // Loads the library and every function; false with the reason otherwise.
    bool Load(const std::string& libraryPath, std::string* error);
};

// The libFennix.so of this build (next to the program, or the build's path).
std::string DefaultLibraryPath();

}  // namespace fennix::bench
