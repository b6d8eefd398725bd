// The station's subcommands of the tool: `station` and `records`.
#pragma once

#include <CLI/CLI.hpp>

namespace fennix::station {

void AddStationCommand(CLI::App& app, int& exitCode);
void AddRecordsCommand(CLI::App& app, int& exitCode);

}  // namespace fennix::station
