// What the station's socket loops tell its display (and any other front-end
// of a running station): each socket's state now, the station's counters,
// and the events in the order they happened.
#pragma once

#include <cstdint>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "DeviceIdentity.h"
#include "Events.h"
#include "PortRun.h"

namespace fennix::station {

enum class SocketState { Waiting, Running, Passed, Failed, Interrupted };
// "waiting", "running", "passed", "failed", "interrupted".
const char* SocketStateName(SocketState state);

// The last run of a socket, as its line shows it after the device left.
struct LastRun {
    std::string result;  // the record's word: "success", "failed", "interrupted"
    std::string cause;   // empty on success
    std::string causeText;
    std::string imei;
    std::string endedAt;  // ISO 8601 UTC
};

struct SocketSnapshot {
    std::string socket;  // the path as given
    std::string port;    // the tty it resolved to at the arrival; empty while none
    SocketState state = SocketState::Waiting;
    std::optional<cli::DeviceIdentity> device;  // of the device in the socket
    std::optional<cli::RunSnapshot> run;        // the run going on, or the last one while its device is in
    std::optional<LastRun> last;
};

struct Counters {
    int passed = 0, failed = 0, interrupted = 0, aborted = 0;
    // passed ÷ (passed + failed) × 100; none before either.
    std::optional<double> YieldPercent() const;
};

enum class StationEventKind {
    DeviceArrived,  // fields: port, device (identity object or null)
    DeviceLeft,
    RunStarted,  // fields: run_id, recipe, port, device
    RunEnded,    // fields: run_id, result, cause, stage, seconds, and the record's summary
    Flow,        // one of the tool's flow events (line, progress, result): `flow`
    Notice,      // a message of the station about itself: text
};

struct StationEvent {
    cli::WallClock::time_point time;
    StationEventKind kind = StationEventKind::Notice;
    std::string socket;
    nlohmann::ordered_json fields = nlohmann::ordered_json::object();
    cli::Event flow;  // for Flow
};

// The station's event names: "device-arrived", "device-left", "run-started",
// "run-ended"; Flow events keep the tool's ("line", "progress", "result"); "notice".
const char* StationEventName(StationEventKind kind);

class StationEventQueue {
public:
    void Push(StationEvent event);
    std::vector<StationEvent> Take();

private:
    std::mutex mutex_;
    std::vector<StationEvent> events_;
};

// How a station is shown: a line per socket redrawn in place on a terminal,
// its events as lines otherwise, or one JSON object per event (--json).
class StationView {
public:
    virtual ~StationView() = default;
    // About ten times a second.
    virtual void Update(const std::vector<StationEvent>& events, const std::vector<SocketSnapshot>& sockets,
                        const Counters& counters) = 0;
    virtual void Finish(const std::vector<SocketSnapshot>& sockets, const Counters& counters) = 0;
};

}  // namespace fennix::station
