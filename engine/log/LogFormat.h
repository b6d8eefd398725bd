// Building the text of log lines: tags, the three line forms, hex digits.
// Pure functions with no state, so every writer builds its line privately.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <string>

#include "platform/Time.h"

namespace fennix::logformat {

constexpr size_t kPlainMessageLimit = 16384;  // message of a plain line
constexpr size_t kFieldMessageLimit = 4095;   // message of a function or port line
constexpr size_t kLineLimit = 4096;           // a whole line; longer ones lose their end
constexpr size_t kHexDumpLimit = 4096;        // bytes shown by one hex dump

// "<NML>", "<!ER>", "<WRN>", "<DBG>" or "" for any other level.
const char* LevelTag(int level);

// printf-formats `format` and cuts the result at `limit` bytes.
std::string FormatMessageText(size_t limit, const char* format, va_list args);

// "%02X " for each byte.
std::string HexDigits(const void* bytes, size_t count);

// Whole lines with CR LF, cut at kLineLimit bytes (a cut line has no CR LF).
std::string PlainLine(int level, const platform::LocalTime& time, const char* message);
std::string FunctionLine(int level, const platform::LocalTime& time, const char* function, const char* message);
std::string PortLine(int level, const platform::LocalTime& time, const char* port, const char* function,
                     const char* message);

// A null name is written as an empty field.
inline const char* OrEmpty(const char* text) { return text != nullptr ? text : ""; }

}  // namespace fennix::logformat
