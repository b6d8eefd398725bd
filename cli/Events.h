// What the port threads tell the display: every engine line, progress steps
// and stages, and each port's result, in the order they happened.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "TimeText.h"

namespace fennix::cli {

enum class EventKind { Line, Progress, Result };

struct Event {
    WallClock::time_point time;
    std::string port;
    EventKind kind = EventKind::Line;
    std::string text;
    int status = 0;
    int percent = -1;       // overall percent of the port's flow (progress, result)
    bool fromTool = false;  // a line of this tool, not of the engine
    std::string stage;      // the stage's stable name (progress)
};

class EventQueue {
public:
    void Push(Event event);
    std::vector<Event> Take();

private:
    std::mutex mutex_;
    std::vector<Event> events_;
};

}  // namespace fennix::cli
