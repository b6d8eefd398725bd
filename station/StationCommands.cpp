#include "StationCommands.h"

namespace fennix::station {

void AddStationCommand(CLI::App&, int&) {}
void AddRecordsCommand(CLI::App&, int&) {}

}  // namespace fennix::station
