#include "platform/Time.h"

#include <windows.h>

namespace fennix::platform {

LocalTime NowLocal() {
    SYSTEMTIME st;
    GetLocalTime(&st);
    LocalTime t;
    t.year = st.wYear;
    t.month = st.wMonth;
    t.day = st.wDay;
    t.hour = st.wHour;
    t.minute = st.wMinute;
    t.second = st.wSecond;
    t.millisecond = st.wMilliseconds;
    return t;
}

uint64_t MonotonicMs() {
    // GetTickCount64 moves in 10-16 ms steps; the performance counter does not.
    static const uint64_t frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return static_cast<uint64_t>(f.QuadPart);
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<uint64_t>(now.QuadPart) / (frequency / 1000);
}

void SleepMs(uint32_t milliseconds) { Sleep(milliseconds); }

}  // namespace fennix::platform
