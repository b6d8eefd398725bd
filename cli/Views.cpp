#include "Views.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "LiveLine.h"
#include "System.h"

namespace fennix::cli {

namespace {

const char kRed[] = "\033[31m";
const char kGreen[] = "\033[32m";
const char kReset[] = "\033[0m";

double Seconds(SteadyClock::duration d) { return std::chrono::duration<double>(d).count(); }

size_t PortWidth(const std::vector<RunSnapshot>& ports) {
    size_t width = 4;
    for (const auto& p : ports) width = std::max(width, p.port.size());
    return width;
}

// The last column of a port's row: a failed port's cause in the engine's
// words before its failure line, else the last line.
std::string Outcome(const RunSnapshot& p) {
    std::string text;
    if (p.state != RunState::Failed)
        text = p.lastLine;
    else if (p.causeText.empty())
        text = p.failure;
    else
        text = p.failure.empty() ? p.causeText : p.causeText + " (" + p.failure + ")";
    if (p.resultNote.empty()) return text;
    return text.empty() ? p.resultNote : p.resultNote + "; " + text;
}

// The table at the end, for people (terminal and plain output).
void PrintTable(const std::vector<RunSnapshot>& ports, const Summary& summary, bool colour) {
    const int w = static_cast<int>(PortWidth(ports));
    // The device column only when a device of the run said who it is.
    int d = 0;
    for (const auto& p : ports) d = std::max(d, static_cast<int>(p.deviceName.size()));
    if (d) d = std::max(d, 6);
    std::printf("\n%-*s  %-*s%s%-11s  %7s  %9s  %10s  %s\n", w, "port", d, d ? "device" : "", d ? "  " : "", "result",
                "time", "bytes", "rate", "last line");
    for (const auto& p : ports) {
        const char* mark = !colour ? "" : p.state == RunState::Succeeded ? kGreen : kRed;
        const double rate = p.bytesPerSecond;
        std::printf("%-*s  %-*s%s%s%-11s%s  %6.1fs  %9s  %10s  %s\n", w, p.port.c_str(), d, p.deviceName.c_str(),
                    d ? "  " : "", mark, RunStateName(p.state), colour ? kReset : "", Seconds(p.elapsed),
                    ByteText(static_cast<double>(p.bytesDone)).c_str(),
                    rate > 0 ? (ByteText(rate) + "/s").c_str() : "-", Outcome(p).c_str());
    }
    std::printf("\n%d succeeded, %d failed, %d interrupted in %.1f s\n", summary.succeeded, summary.failed,
                summary.interrupted, summary.seconds);
    std::fflush(stdout);
}

class TerminalView : public View {
public:
    void Update(const std::vector<Event>&, const std::vector<RunSnapshot>& ports) override { Draw(ports); }
    void Notice(const std::string& text) override {
        Erase();
        std::printf("%s\n", text.c_str());
        drawn_ = 0;
    }
    void Finish(const std::vector<RunSnapshot>& ports, const Summary& summary) override {
        Draw(ports);
        PrintTable(ports, summary, true);
    }

private:
    void Erase() {
        if (drawn_) std::printf("\033[%dA\033[J", drawn_);
    }
    void Draw(const std::vector<RunSnapshot>& ports) {
        const int width = TerminalWidth();
        int portWidth = 4;
        int deviceWidth = 0;
        for (const auto& p : ports) {
            portWidth = std::max(portWidth, static_cast<int>(PortBaseName(p.port).size()));
            deviceWidth = std::max(deviceWidth, static_cast<int>(p.deviceName.size()));
        }
        std::string frame;
        if (drawn_) frame += "\033[" + std::to_string(drawn_) + "A";
        for (const auto& p : ports) {
            const double rate = p.state == RunState::Running ? p.bytesPerSecond : 0;
            const std::string line = LayOutLiveLine(
                {p.port, p.deviceName, p.fraction, ElapsedText(p.elapsed),
                 rate > 0 ? ByteText(rate) + "/s" : std::string(), p.state == RunState::Failed ? p.failure : p.stage},
                portWidth, width, deviceWidth);
            const bool red = p.state == RunState::Failed || p.state == RunState::Interrupted;
            frame += "\033[2K";
            frame += red ? kRed + line + kReset : line;
            frame += "\n";
        }
        std::fputs(frame.c_str(), stdout);
        std::fflush(stdout);
        drawn_ = static_cast<int>(ports.size());
    }
    int drawn_ = 0;
};

class PlainView : public View {
public:
    void Update(const std::vector<Event>& events, const std::vector<RunSnapshot>&) override {
        for (const auto& e : events) {
            if (e.kind != EventKind::Line) continue;
            std::printf("%s %s %s%s\n", ClockTime(e.time).c_str(), e.port.c_str(), e.status < 0 ? "FAIL " : "",
                        e.text.c_str());
        }
        std::fflush(stdout);
    }
    void Notice(const std::string& text) override {
        std::printf("%s %s\n", ClockTime(WallClock::now()).c_str(), text.c_str());
        std::fflush(stdout);
    }
    void Finish(const std::vector<RunSnapshot>& ports, const Summary& summary) override {
        PrintTable(ports, summary, false);
    }
};

class JsonView : public View {
public:
    void Update(const std::vector<Event>& events, const std::vector<RunSnapshot>& ports) override {
        for (const auto& e : events) {
            const RunSnapshot* run = nullptr;
            for (const auto& p : ports)
                if (p.port == e.port) run = &p;
            Print(EventJson(e, run));
        }
    }
    void Notice(const std::string& text) override {
        Print({{"schema", 1}, {"time", IsoTime(WallClock::now())}, {"event", "notice"}, {"text", text}});
    }
    void Finish(const std::vector<RunSnapshot>& ports, const Summary& summary) override {
        nlohmann::ordered_json results = nlohmann::ordered_json::object();
        for (const auto& p : ports) results[p.port] = RunStateName(p.state);
        Print({{"schema", 1},
               {"time", IsoTime(WallClock::now())},
               {"event", "summary"},
               {"succeeded", summary.succeeded},
               {"failed", summary.failed},
               {"interrupted", summary.interrupted},
               {"seconds", summary.seconds},
               {"exit", summary.exitCode},
               {"ports", results}});
    }

private:
    static void Print(const nlohmann::ordered_json& j) {
        std::printf("%s\n", j.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace).c_str());
        std::fflush(stdout);
    }
};

}  // namespace

std::string ByteText(double bytes) {
    char text[32];
    if (bytes >= 1e6)
        std::snprintf(text, sizeof text, "%.2f MB", bytes / 1e6);
    else if (bytes >= 1e3)
        std::snprintf(text, sizeof text, "%.1f kB", bytes / 1e3);
    else
        std::snprintf(text, sizeof text, "%.0f B", bytes);
    return text;
}

nlohmann::ordered_json EventJson(const Event& e, const RunSnapshot* run) {
    nlohmann::ordered_json j{{"schema", 1}, {"time", IsoTime(e.time)}, {"port", e.port}};
    switch (e.kind) {
        case EventKind::Line:
            j["event"] = "line";
            j["text"] = e.text;
            j["status"] = e.status;
            if (e.fromTool) j["source"] = "fennix";
            break;
        case EventKind::Progress:
            j["event"] = "progress";
            j["percent"] = e.percent;
            j["stage"] = e.stage;
            break;
        case EventKind::Result:
            j["event"] = "result";
            j["text"] = e.text;
            j["status"] = e.status;
            j["code_hex"] = CodeHex(e.status);
            j["percent"] = e.percent;
            if (run) {
                j["result"] = RunStateName(run->state);
                j["seconds"] = Seconds(run->elapsed);
                j["bytes"] = run->bytesDone;
                j["cause"] = run->cause.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(run->cause);
                j.update(run->fields);
            }
            break;
    }
    return j;
}

std::string ElapsedText(SteadyClock::duration d) {
    const int total = static_cast<int>(Seconds(d));
    char text[16];
    std::snprintf(text, sizeof text, "%d:%02d", total / 60, total % 60);
    return text;
}

std::unique_ptr<View> MakeView(OutputMode mode) {
    switch (mode) {
        case OutputMode::Terminal: return std::make_unique<TerminalView>();
        case OutputMode::Plain: return std::make_unique<PlainView>();
        case OutputMode::Json: return std::make_unique<JsonView>();
    }
    return nullptr;
}

}  // namespace fennix::cli
