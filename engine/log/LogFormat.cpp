#include "log/LogFormat.h"

#include <algorithm>
#include <cstdio>

namespace fennix::logformat {

namespace {

// snprintf into a line buffer, keeping at most kLineLimit bytes.
template <typename... Args>
std::string CutLine(const char* format, Args... args) {
    char line[kLineLimit + 1];
    int needed = std::snprintf(line, sizeof line, format, args...);
    if (needed <= 0) return {};
    return std::string(line, std::min(static_cast<size_t>(needed), kLineLimit));
}

}  // namespace

const char* LevelTag(int level) {
    switch (level) {
        case 0: return "<NML>";
        case 1: return "<!ER>";
        case 3: return "<WRN>";
        case 5: return "<DBG>";
        default: return "";
    }
}

std::string FormatMessageText(size_t limit, const char* format, va_list args) {
    if (format == nullptr) return {};
    // Most messages are short: try a small buffer before sizing one.
    char small[512];
    va_list again;
    va_copy(again, args);
    int needed = std::vsnprintf(small, sizeof small, format, args);
    if (needed < 0) {
        va_end(again);
        return {};
    }
    size_t kept = std::min(static_cast<size_t>(needed), limit);
    if (static_cast<size_t>(needed) < sizeof small) {
        va_end(again);
        return std::string(small, kept);
    }
    std::string text(kept + 1, '\0');
    std::vsnprintf(&text[0], text.size(), format, again);
    va_end(again);
    text.resize(kept);
    return text;
}

std::string HexDigits(const void* bytes, size_t count) {
    static const char kDigits[] = "0123456789ABCDEF";
    const auto* p = static_cast<const unsigned char*>(bytes);
    std::string text;
    if (p == nullptr) return text;
    text.resize(count * 3);
    for (size_t i = 0; i < count; ++i) {
        text[3 * i] = kDigits[p[i] >> 4];
        text[3 * i + 1] = kDigits[p[i] & 0x0F];
        text[3 * i + 2] = ' ';
    }
    return text;
}

std::string PlainLine(int level, const platform::LocalTime& t, const char* message) {
    return CutLine("%s\t%04d-%02d-%02d %02d:%02d:%02d:%03d\t%s\r\n", LevelTag(level), t.year, t.month, t.day, t.hour,
                   t.minute, t.second, t.millisecond, OrEmpty(message));
}

std::string FunctionLine(int level, const platform::LocalTime& t, const char* function, const char* message) {
    return CutLine("%s\t%04d-%02d-%02d %02d:%02d:%02d:%03d\t%s\t %s\r\n", LevelTag(level), t.year, t.month, t.day,
                   t.hour, t.minute, t.second, t.millisecond, OrEmpty(function), OrEmpty(message));
}

std::string PortLine(int level, const platform::LocalTime& t, const char* port, const char* function,
                     const char* message) {
    return CutLine("%s\t%04d-%02d-%02d %02d:%02d:%02d:%03d\t%s\t%s\t%s\r\n", LevelTag(level), t.year, t.month, t.day,
                   t.hour, t.minute, t.second, t.millisecond, OrEmpty(port), OrEmpty(function), OrEmpty(message));
}

}  // namespace fennix::logformat
