#include "WebView.h"

#include <chrono>
#include <cmath>

#include "StationView.h"

namespace fennix::station::web {

namespace {

using Json = nlohmann::ordered_json;

Json TextOrNull(const std::string& text) { return text.empty() ? Json() : Json(text); }

class WebStationView : public StationView {
public:
    WebStationView(std::unique_ptr<StationView> console, WebServer& server)
        : console_(std::move(console)), server_(server) {}

    void Update(const std::vector<StationEvent>& events, const std::vector<SocketSnapshot>& sockets,
                const Counters& counters) override {
        console_->Update(events, sockets, counters);
        std::vector<Json> json;
        json.reserve(events.size());
        for (const auto& e : events) json.push_back(StationEventJson(e, sockets));
        server_.Publish(json, SocketsJson(sockets));
    }
    void Finish(const std::vector<SocketSnapshot>& sockets, const Counters& counters) override {
        console_->Finish(sockets, counters);
        server_.Publish({}, SocketsJson(sockets));
    }

private:
    std::unique_ptr<StationView> console_;
    WebServer& server_;
};

}  // namespace

std::unique_ptr<StationView> MakeWebStationView(std::unique_ptr<StationView> console, WebServer& server) {
    return std::make_unique<WebStationView>(std::move(console), server);
}

Json SocketsJson(const std::vector<SocketSnapshot>& sockets) {
    Json list = Json::array();
    for (const auto& s : sockets) {
        // A waiting socket's run is over and its device gone: only its last result speaks for it.
        const cli::RunSnapshot* run = s.run && s.state != SocketState::Waiting ? &*s.run : nullptr;
        Json last;
        if (s.last)
            last = Json{{"result", s.last->result},
                        {"cause", TextOrNull(s.last->cause)},
                        {"cause_text", TextOrNull(s.last->causeText)},
                        {"imei", TextOrNull(s.last->imei)},
                        {"ended_at", TextOrNull(s.last->endedAt)}};
        Json j{
            {"socket", s.socket},
            {"port", TextOrNull(s.port)},
            {"state", SocketStateName(s.state)},
            {"device", s.device ? cli::IdentityJson(*s.device) : Json()},
            {"stage", run ? TextOrNull(run->stage) : Json()},
            {"percent", run ? Json(std::round(run->fraction * 1000) / 10) : Json()},
            {"rate", run && s.state == SocketState::Running ? Json(std::round(run->bytesPerSecond)) : Json()},
            {"elapsed", run ? Json(std::round(std::chrono::duration<double>(run->elapsed).count() * 10) / 10) : Json()},
            {"cause", run ? TextOrNull(run->cause) : Json()},
            {"cause_text", run ? TextOrNull(run->causeText.empty() ? run->failure : run->causeText) : Json()},
            {"last", last}};
        list.push_back(std::move(j));
    }
    return list;
}

}  // namespace fennix::station::web
