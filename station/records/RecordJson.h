// The records as JSON, the same objects for `fennix records --json` and the
// station's web interface: a run with every column under its own name, and a
// summary per socket, per cause and in total.
#pragma once

#include <nlohmann/json.hpp>

#include "RecordDb.h"

namespace fennix::records {

nlohmann::ordered_json RunJson(const RunRecord& run);
// {"sockets": [...], "causes": [...], "total": {...}}
nlohmann::ordered_json SummaryJson(const Summary& summary);
// The dump of the tool's JSON output: one line, invalid UTF-8 replaced.
std::string DumpJson(const nlohmann::ordered_json& json);

}  // namespace fennix::records
