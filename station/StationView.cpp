#include "StationView.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "LiveLine.h"
#include "System.h"

namespace fennix::station {

namespace {

const char kSocketRed[] = "\033[31m";
const char kSocketGreen[] = "\033[32m";
const char kSocketReset[] = "\033[0m";

std::string FieldText(const nlohmann::ordered_json& fields, const char* key) {
    const auto it = fields.find(key);
    if (it == fields.end() || it->is_null()) return {};
    return it->is_string() ? it->get<std::string>() : it->dump();
}

// Who a device is, from the identity object of an event: as ShortName names it.
std::string DeviceName(const nlohmann::ordered_json& device) {
    if (!device.is_object()) return {};
    if (const std::string imei = FieldText(device, "imei"); !imei.empty()) return imei;
    if (const std::string esn = FieldText(device, "esn"); !esn.empty()) return "ESN " + esn;
    if (const std::string meid = FieldText(device, "meid"); !meid.empty()) return "MEID " + meid;
    return {};
}

// The record's result word as people read it beside the counters.
std::string ResultWord(const std::string& result) { return result == "success" ? "passed" : result; }

std::string Because(const std::string& cause, const std::string& causeText) {
    const std::string& why = causeText.empty() ? cause : causeText;
    return why.empty() ? std::string() : ": " + why;
}

std::string LastRunText(const LastRun& last) {
    std::string text = ResultWord(last.result) + Because(last.cause, last.causeText);
    return last.imei.empty() ? text : last.imei + " " + text;
}

// What a socket's line says after its bar.
std::string SocketText(const SocketSnapshot& s) {
    switch (s.state) {
        case SocketState::Waiting: return s.last ? "waiting; last " + LastRunText(*s.last) : "waiting";
        case SocketState::Running:
            if (s.run && !s.run->stage.empty()) return s.run->stage;
            return "running";
        case SocketState::Passed: return "passed; remove the device";
        case SocketState::Failed:
        case SocketState::Interrupted: {
            std::string text = SocketStateName(s.state);
            if (s.last)
                text += Because(s.last->cause, s.last->causeText);
            else if (s.run)
                text += Because(s.run->cause, s.run->causeText.empty() ? s.run->failure : s.run->causeText);
            return text + "; remove the device";
        }
    }
    return {};
}

std::string DeviceOf(const SocketSnapshot& s) {
    if (s.device) return cli::ShortName(*s.device);
    return s.state == SocketState::Waiting || !s.last ? std::string() : s.last->imei;
}

// The run's line of the plain output and of the terminal's history.
std::string EventText(const StationEvent& e) {
    const auto& f = e.fields;
    switch (e.kind) {
        case StationEventKind::DeviceArrived: {
            const std::string name = DeviceName(f.value("device", nlohmann::ordered_json()));
            return "device arrived on " + FieldText(f, "port") + (name.empty() ? "" : ": " + name);
        }
        case StationEventKind::DeviceLeft: return "device left";
        case StationEventKind::RunStarted:
            return "run " + FieldText(f, "run_id") + " started: " + FieldText(f, "recipe");
        case StationEventKind::RunEnded: {
            const std::string imei = FieldText(f, "imei");
            std::string text = "run " + FieldText(f, "run_id") + " ended: " + (imei.empty() ? "" : imei + " ") +
                               ResultWord(FieldText(f, "result")) +
                               Because(FieldText(f, "cause"), FieldText(f, "cause_text"));
            if (const std::string stage = FieldText(f, "stage"); !stage.empty() && FieldText(f, "result") != "success")
                text += " (at " + stage + ")";
            if (f.contains("seconds") && f["seconds"].is_number()) {
                char seconds[32];
                std::snprintf(seconds, sizeof seconds, " in %.1f s", f["seconds"].get<double>());
                text += seconds;
            }
            return text;
        }
        case StationEventKind::Flow:
            if (e.flow.kind != cli::EventKind::Line) return {};
            return (e.flow.status < 0 ? "FAIL " : "") + e.flow.text;
        case StationEventKind::Notice: return FieldText(f, "text");
    }
    return {};
}

void PrintEventJson(const nlohmann::ordered_json& j) {
    std::printf("%s\n", j.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace).c_str());
    std::fflush(stdout);
}

// Rows of the terminal on standard output; 0 when not known.
int TerminalRows() {
    winsize size{};
    return ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 ? size.ws_row : 0;
}

class TerminalStationView : public StationView {
public:
    void Update(const std::vector<StationEvent>& events, const std::vector<SocketSnapshot>& sockets,
                const Counters& counters) override {
        // Notices and ended runs stay above the block, as a history of the day.
        std::string above;
        for (const auto& e : events) {
            if (e.kind != StationEventKind::Notice && e.kind != StationEventKind::RunEnded) continue;
            above += cli::ClockTime(e.time) + " " + (e.socket.empty() ? "" : cli::PortBaseName(e.socket) + " ") +
                     EventText(e) + "\n";
        }
        Draw(above, sockets, counters);
    }
    void Finish(const std::vector<SocketSnapshot>& sockets, const Counters& counters) override {
        Draw({}, sockets, counters);
    }

private:
    void Draw(const std::string& above, const std::vector<SocketSnapshot>& sockets, const Counters& counters) {
        const int width = cli::TerminalWidth();
        int socketWidth = 4, deviceWidth = 0;
        for (const auto& s : sockets) {
            socketWidth = std::max(socketWidth, static_cast<int>(cli::PortBaseName(s.socket).size()));
            deviceWidth = std::max(deviceWidth, static_cast<int>(DeviceOf(s).size()));
        }
        size_t notShown = 0;
        const std::vector<size_t> shown = SocketsShown(sockets, TerminalRows(), &notShown);
        std::string block;
        for (const size_t index : shown) {
            const SocketSnapshot& s = sockets[index];
            const std::string line = SocketLine(s, socketWidth, deviceWidth, width);
            const bool red = s.state == SocketState::Failed || s.state == SocketState::Interrupted;
            block += "\033[2K";
            block += red                              ? kSocketRed + line + kSocketReset
                     : s.state == SocketState::Passed ? kSocketGreen + line + kSocketReset
                                                      : line;
            block += "\n";
        }
        std::string last = CountersText(counters);
        if (notShown) last += "  (" + std::to_string(notShown) + " sockets not shown)";
        block += "\033[2K" + last + "\n";
        // Idle sockets change nothing ten times a second: the terminal is left alone then.
        if (above.empty() && block == drawnBlock_) return;
        std::string frame;
        if (drawn_) frame += "\033[" + std::to_string(drawn_) + "A";
        // Clears the old block when lines go above it or it has fewer lines now.
        if (!above.empty() || static_cast<int>(shown.size()) + 1 < drawn_) frame += "\033[J";
        frame += above + block;
        std::fputs(frame.c_str(), stdout);
        std::fflush(stdout);
        drawn_ = static_cast<int>(shown.size()) + 1;
        drawnBlock_ = std::move(block);
    }
    std::string drawnBlock_;
    int drawn_ = 0;
};

class PlainStationView : public StationView {
public:
    void Update(const std::vector<StationEvent>& events, const std::vector<SocketSnapshot>&, const Counters&) override {
        for (const auto& e : events) {
            const std::string text = EventText(e);
            if (text.empty()) continue;
            std::printf("%s %s%s\n", cli::ClockTime(e.time).c_str(), e.socket.empty() ? "" : (e.socket + " ").c_str(),
                        text.c_str());
        }
        std::fflush(stdout);
    }
    void Finish(const std::vector<SocketSnapshot>&, const Counters& counters) override {
        std::printf("%s\n", CountersText(counters).c_str());
        std::fflush(stdout);
    }
};

class JsonStationView : public StationView {
public:
    void Update(const std::vector<StationEvent>& events, const std::vector<SocketSnapshot>& sockets,
                const Counters&) override {
        for (const auto& e : events) PrintEventJson(StationEventJson(e, sockets));
    }
    void Finish(const std::vector<SocketSnapshot>& sockets, const Counters& counters) override {
        nlohmann::ordered_json states = nlohmann::ordered_json::object();
        for (const auto& s : sockets) states[s.socket] = SocketStateName(s.state);
        const std::optional<double> yield = counters.YieldPercent();
        PrintEventJson({{"schema", 1},
                        {"time", cli::IsoTime(cli::WallClock::now())},
                        {"event", "summary"},
                        {"passed", counters.passed},
                        {"failed", counters.failed},
                        {"interrupted", counters.interrupted},
                        {"aborted", counters.aborted},
                        {"yield", yield ? nlohmann::ordered_json(*yield) : nlohmann::ordered_json()},
                        {"sockets", states}});
    }
};

}  // namespace

nlohmann::ordered_json StationEventJson(const StationEvent& event, const std::vector<SocketSnapshot>& sockets) {
    nlohmann::ordered_json j{{"schema", 1}, {"time", cli::IsoTime(event.time)}, {"socket", event.socket}};
    if (event.kind == StationEventKind::Flow) {
        const cli::RunSnapshot* run = nullptr;
        for (const auto& s : sockets)
            if (s.socket == event.socket && s.run) run = &*s.run;
        j.update(cli::EventJson(event.flow, run));
        return j;
    }
    j["event"] = StationEventName(event.kind);
    j.update(event.fields);
    return j;
}

std::string SocketLine(const SocketSnapshot& s, int socketWidth, int deviceWidth, int width) {
    cli::LiveLineParts parts;
    parts.port = s.socket;
    parts.device = DeviceOf(s);
    if (s.run && s.state != SocketState::Waiting) {
        parts.fraction = s.run->fraction;
        parts.elapsed = cli::ElapsedText(s.run->elapsed);
        if (s.state == SocketState::Running && s.run->bytesPerSecond > 0)
            parts.rate = cli::ByteText(s.run->bytesPerSecond) + "/s";
    }
    parts.text = SocketText(s);
    return cli::LayOutLiveLine(parts, socketWidth, width, deviceWidth);
}

std::vector<size_t> SocketsShown(const std::vector<SocketSnapshot>& sockets, int rows, size_t* notShown) {
    std::vector<size_t> shown;
    // One row for the counters, one for the cursor below the block.
    const size_t room = rows > 0 ? static_cast<size_t>(std::max(rows - 2, 1)) : sockets.size();
    for (const bool busy : {true, false})
        for (size_t i = 0; i < sockets.size() && shown.size() < room; ++i)
            if ((sockets[i].state != SocketState::Waiting) == busy) shown.push_back(i);
    std::sort(shown.begin(), shown.end());
    *notShown = sockets.size() - shown.size();
    return shown;
}

std::string CountersText(const Counters& c) {
    char text[160];
    const std::optional<double> yield = c.YieldPercent();
    char yieldText[16] = "-";
    if (yield) std::snprintf(yieldText, sizeof yieldText, "%.1f%%", *yield);
    std::snprintf(text, sizeof text, "passed %d  failed %d  interrupted %d  aborted %d  yield %s", c.passed, c.failed,
                  c.interrupted, c.aborted, yieldText);
    return text;
}

std::unique_ptr<StationView> MakeStationView(cli::OutputMode mode) {
    switch (mode) {
        case cli::OutputMode::Terminal: return std::make_unique<TerminalStationView>();
        case cli::OutputMode::Plain: return std::make_unique<PlainStationView>();
        case cli::OutputMode::Json: return std::make_unique<JsonStationView>();
    }
    return nullptr;
}

}  // namespace fennix::station
