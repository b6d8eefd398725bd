#include "EventLines.h"

#include <cstdio>

#include "TimeText.h"

namespace fennix::station {

namespace {

using nlohmann::ordered_json;

ordered_json EventJson(const StationEvent& e) {
    ordered_json j{{"schema", 1}, {"time", cli::IsoTime(e.time)}, {"socket", e.socket}};
    if (e.kind != StationEventKind::Flow) {
        j["event"] = StationEventName(e.kind);
        j.update(e.fields);
        return j;
    }
    switch (e.flow.kind) {
        case cli::EventKind::Line:
            j["event"] = "line";
            j["text"] = e.flow.text;
            j["status"] = e.flow.status;
            if (e.flow.fromTool) j["source"] = "fennix";
            break;
        case cli::EventKind::Progress:
            j["event"] = "progress";
            j["percent"] = e.flow.percent;
            j["stage"] = e.flow.stage;
            break;
        case cli::EventKind::Result:
            j["event"] = "result";
            j["text"] = e.flow.text;
            j["status"] = e.flow.status;
            j["percent"] = e.flow.percent;
            j["stage"] = e.flow.stage;
            break;
    }
    return j;
}

class EventLines : public StationView {
public:
    explicit EventLines(bool json) : json_(json) {}
    void Update(const std::vector<StationEvent>& events, const std::vector<SocketSnapshot>&, const Counters&) override {
        for (const auto& e : events) {
            if (json_)
                Print(EventJson(e));
            else if (e.kind != StationEventKind::Flow || e.flow.kind == cli::EventKind::Line)
                std::printf("%s %s %s\n", cli::ClockTime(e.time).c_str(), e.socket.c_str(),
                            e.kind == StationEventKind::Flow ? e.flow.text.c_str() : EventJson(e).dump().c_str());
        }
        std::fflush(stdout);
    }
    void Finish(const std::vector<SocketSnapshot>&, const Counters& c) override {
        ordered_json j{{"schema", 1},        {"time", cli::IsoTime(cli::WallClock::now())},
                       {"event", "summary"}, {"passed", c.passed},
                       {"failed", c.failed}, {"interrupted", c.interrupted}};
        if (json_)
            Print(j);
        else
            std::printf("passed %d, failed %d, interrupted %d\n", c.passed, c.failed, c.interrupted);
        std::fflush(stdout);
    }

private:
    static void Print(const ordered_json& j) {
        std::printf("%s\n", j.dump(-1, ' ', false, ordered_json::error_handler_t::replace).c_str());
    }
    const bool json_;
};

}  // namespace

std::unique_ptr<StationView> MakeEventLines(bool json) { return std::make_unique<EventLines>(json); }

}  // namespace fennix::station
