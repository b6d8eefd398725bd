// The station seen from the web: a StationView that hands every update to
// the console's view and to the web server, so the Station knows nothing of HTTP.
#pragma once

#include <memory>
#include <nlohmann/json.hpp>
#include <vector>

#include "StationEvents.h"
#include "WebServer.h"

namespace fennix::station::web {

std::unique_ptr<StationView> MakeWebStationView(std::unique_ptr<StationView> console, WebServer& server);

// /api/sockets: per socket "socket", "port", "state", "device" (the identity
// object or null), "stage", "percent", "rate" (bytes per second), "elapsed"
// (seconds) and "last" (result, cause, cause_text, imei, ended_at) or null.
nlohmann::ordered_json SocketsJson(const std::vector<SocketSnapshot>& sockets);

}  // namespace fennix::station::web
