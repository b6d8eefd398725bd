// Time stamps of the tool's output.
#pragma once

#include <chrono>
#include <string>

namespace fennix::cli {

using WallClock = std::chrono::system_clock;

// "2026-12-09T09:01:02.345Z": for JSON and reports.
std::string IsoTime(WallClock::time_point t);
// "09:01:02.345" local time: for plain output lines.
std::string ClockTime(WallClock::time_point t);

}  // namespace fennix::cli
