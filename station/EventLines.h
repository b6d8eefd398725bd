// A plain view of a station: each event as one line, or one JSON object per
// event; the counters at the end.
#pragma once

#include <memory>

#include "StationEvents.h"

namespace fennix::station {

std::unique_ptr<StationView> MakeEventLines(bool json);

}  // namespace fennix::station
