#include "StationCommands.h"

namespace fennix::station {

void AddStationCommand(CLI::App&, int&) {}

}  // namespace fennix::station
