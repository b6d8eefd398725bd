// The operating system's error numbers and their texts.
#pragma once

#include <string>

namespace fennix::platform {

// The calling thread's last system error number (GetLastError / errno).
int LastSystemError();
// The system's own text for an error number in its default language, with the
// line end the system puts after it; empty when the system has no text.
std::string SystemErrorText(int code);

}  // namespace fennix::platform
