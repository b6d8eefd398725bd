#include "platform/SystemError.h"

#include <cerrno>
#include <cstring>

namespace fennix::platform {

int LastSystemError() { return errno; }

std::string SystemErrorText(int code) {
    char buffer[256] = {};
    // The GNU variant may return a static string instead of filling the buffer.
    const char* text = strerror_r(code, buffer, sizeof buffer);
    if (text == nullptr || *text == '\0') return {};
    if (std::strncmp(text, "Unknown error", 13) == 0) return {};
    // Windows' texts end with their own line end; keep the log identical.
    return std::string(text) + "\r\n";
}

}  // namespace fennix::platform
