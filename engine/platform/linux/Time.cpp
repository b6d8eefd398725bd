#include "platform/Time.h"

#include <cerrno>
#include <ctime>
#include <sys/time.h>

namespace fennix::platform {

LocalTime NowLocal() {
    struct timespec ts {};
    clock_gettime(CLOCK_REALTIME, &ts);
    time_t seconds = ts.tv_sec;
    struct tm parts {};
    localtime_r(&seconds, &parts);
    LocalTime t;
    t.year = parts.tm_year + 1900;
    t.month = parts.tm_mon + 1;
    t.day = parts.tm_mday;
    t.hour = parts.tm_hour;
    t.minute = parts.tm_min;
    t.second = parts.tm_sec;
    t.millisecond = static_cast<int>(ts.tv_nsec / 1000000);
    return t;
}

uint64_t MonotonicMs() {
    struct timespec ts {};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec / 1000000);
}

void SleepMs(uint32_t milliseconds) {
    struct timespec req {};
    req.tv_sec = milliseconds / 1000;
    req.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
    while (nanosleep(&req, &req) != 0 && errno == EINTR) {
    }
}

}  // namespace fennix::platform
