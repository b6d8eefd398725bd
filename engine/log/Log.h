// The process-wide daily diagnostic log. Every writer returns 1 when it wrote
// (or tried to write) its line and 0 when the line was filtered out or the log
// is closed. Each line goes to the file in one write, so threads need no lock.
#pragma once

#include <cstddef>

#if defined(__MINGW32__)
// MinGW's C99 stdio (not msvcrt's) formats the lines, so check against it.
#define FENNIX_PRINTF(fmt, args) __attribute__((format(gnu_printf, fmt, args)))
#elif defined(__GNUC__)
#define FENNIX_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define FENNIX_PRINTF(fmt, args)
#endif

namespace fennix {

enum LogLevel : int {
    kLogNormal = 0,   // "<NML>" banners
    kLogError = 1,    // "<!ER>"
    kLogWarning = 3,  // "<WRN>"
    kLogDebug = 5,    // "<DBG>"
};

// Opens the day's log file from the log settings (the body of StartLog).
void OpenLog();
// Writes the closing banner and closes the file (the body of EndLog).
void CloseLog();

int LogLine(int level, const char* format, ...) FENNIX_PRINTF(2, 3);
int LogFuncLine(int level, const char* function, const char* format, ...) FENNIX_PRINTF(3, 4);
int LogPortLine(int level, const char* port, const char* function, const char* format, ...) FENNIX_PRINTF(4, 5);
int LogSystemError(const char* port, const char* function, int error);
int LogHexDump(int level, const void* bytes, size_t count);
int LogPortHexDump(int level, const char* port, const char* function, const void* bytes, size_t count);

}  // namespace fennix
