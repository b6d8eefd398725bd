// The station's display: on a terminal a line per socket and a line of
// counters redrawn in place, with notices and ended runs printed above them;
// otherwise one line per event with its time and socket; or one JSON object
// per event (--json).
#pragma once

#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "StationEvents.h"
#include "Views.h"

namespace fennix::station {

std::unique_ptr<StationView> MakeStationView(cli::OutputMode mode);

// One event as --json prints it: "schema", "time", "socket", then the tool's
// own fields of a flow event (a result takes the socket's run from
// `sockets`), or "event" and the station event's fields.
nlohmann::ordered_json StationEventJson(const StationEvent& event, const std::vector<SocketSnapshot>& sockets);

// A socket's live line of at most `width - 1` columns; `socketWidth` and
// `deviceWidth` are the widest socket name and device name of the station.
std::string SocketLine(const SocketSnapshot& socket, int socketWidth, int deviceWidth, int width);

// The sockets (their indexes, in order) whose lines a terminal of `rows`
// rows shows: a block taller than the terminal cannot be redrawn in place.
// All of them when they fit (or `rows` is 0, not known); else the sockets
// with a device first. `notShown` gets how many are left out.
std::vector<size_t> SocketsShown(const std::vector<SocketSnapshot>& sockets, int rows, size_t* notShown);

// "passed 12  failed 1  interrupted 0  aborted 0  yield 92.3%".
std::string CountersText(const Counters& counters);

}  // namespace fennix::station
