#include "TimeText.h"

#include <cstdio>
#include <ctime>

namespace fennix::cli {

namespace {
std::tm Broken(std::time_t seconds, bool utc) {
    std::tm out{};
#if defined(_WIN32)
    utc ? gmtime_s(&out, &seconds) : localtime_s(&out, &seconds);
#else
    utc ? gmtime_r(&seconds, &out) : localtime_r(&seconds, &out);
#endif
    return out;
}
int Millis(WallClock::time_point t) {
    return static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count() % 1000);
}
}  // namespace

std::string IsoTime(WallClock::time_point t) {
    const std::tm tm = Broken(WallClock::to_time_t(t), true);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", tm.tm_year + 1900, tm.tm_mon + 1,
                  tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, Millis(t));
    return text;
}

std::string ClockTime(WallClock::time_point t) {
    const std::tm tm = Broken(WallClock::to_time_t(t), false);
    char text[20];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", tm.tm_hour, tm.tm_min, tm.tm_sec, Millis(t));
    return text;
}

}  // namespace fennix::cli
