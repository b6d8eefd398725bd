#include "StationEvents.h"

#include <utility>

namespace fennix::station {

const char* SocketStateName(SocketState state) {
    switch (state) {
        case SocketState::Waiting: return "waiting";
        case SocketState::Running: return "running";
        case SocketState::Passed: return "passed";
        case SocketState::Failed: return "failed";
        case SocketState::Interrupted: return "interrupted";
    }
    return "?";
}

std::optional<double> Counters::YieldPercent() const {
    if (passed + failed == 0) return std::nullopt;
    return 100.0 * passed / (passed + failed);
}

const char* StationEventName(StationEventKind kind) {
    switch (kind) {
        case StationEventKind::DeviceArrived: return "device-arrived";
        case StationEventKind::DeviceLeft: return "device-left";
        case StationEventKind::RunStarted: return "run-started";
        case StationEventKind::RunEnded: return "run-ended";
        case StationEventKind::Flow: return "flow";
        case StationEventKind::Notice: return "notice";
    }
    return "?";
}

void StationEventQueue::Push(StationEvent event) {
    std::lock_guard<std::mutex> lock(mutex_);
    events_.push_back(std::move(event));
}

std::vector<StationEvent> StationEventQueue::Take() {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::exchange(events_, {});
}

}  // namespace fennix::station
