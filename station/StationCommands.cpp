#include "StationCommands.h"

namespace fennix::station {

void AddRecordsCommand(CLI::App&, int&) {}

}  // namespace fennix::station
