// Wall-clock and monotonic time, and sleeping.
#pragma once

#include <cstdint>

namespace fennix::platform {

struct LocalTime {
    int year = 0;
    int month = 0;  // 1..12
    int day = 0;    // 1..31
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;
};

LocalTime NowLocal();
// Milliseconds since an arbitrary fixed point; never goes backwards.
uint64_t MonotonicMs();
void SleepMs(uint32_t milliseconds);

}  // namespace fennix::platform
