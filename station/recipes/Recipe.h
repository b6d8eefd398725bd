// What a station does with each device that arrives: the recipe's files,
// checked once when the station starts, and its flow, run on the socket's
// thread through the run's PortRun. The flow tells the record what it did
// through the run's result fields:
//   "device_after"  the identity read after a flash (RecordIdentity)
//   "backup_path", "backup_sha256"  the BRT a backup wrote (upgrade, backup)
//   "in" / "out"    the BRT read / written
//   "missing"       the listed items not backed up (array of numbers)
//   "nv_verified"   upgrade: every backed-up item read back equal (bool)
// The station records "device" (the identity read at arrival) itself.
#pragma once

#include <CLI/CLI.hpp>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "DeviceIdentity.h"
#include "FlashFlow.h"
#include "ImageSet.h"
#include "PortRun.h"
#include "Report.h"

namespace fennix::station {

using cli::DeviceIdentity;
using cli::PortRun;

// The recipe options as the command line and the config file give them.
struct RecipeOptions {
    std::string name;  // flash | upgrade | backup | restore | import
    // flash, upgrade: the image set as `fennix flash` takes it.
    cli::ImageChoice images;
    std::map<std::string, std::string> files;  // by role option (--amss FILE)
    std::map<std::string, bool> leftOut;       // by role option (--no-obl)
    bool skipCheck = false;                    // flash only
    cli::StreamingChoice streaming;            // flash and upgrade
    bool forceModel = false;
    // The NV recipes.
    std::string items;    // LIST.csv: upgrade, backup
    std::string backups;  // the folder of backups (upgrade; backup's default --out)
    std::string out;      // backup: template ({imei} {esn} {meid} {port} {date} {time})
    std::string in;       // restore: template
    std::string duck;     // import
};

// A device that arrived in a socket.
struct Arrival {
    std::string socket;                    // the path as given
    std::string port;                      // the tty it resolved to
    std::optional<DeviceIdentity> device;  // null: in download mode (nothing to read there)
    cli::WallClock::time_point at;
};

struct Recipe {
    std::string name;
    std::vector<cli::SentFile> files;              // described once; recorded with each run
    std::function<cli::ProgressModel()> progress;  // a fresh model for each run
    // 1 for success, like the engine's flows; a failure gives its cause
    // through ToolFailure or the engine's events.
    std::function<int32_t(PortRun&, const Arrival&)> run;
};

void AddRecipeOptions(CLI::App* command, RecipeOptions& options);
// Checks the options and the files (as the tool's commands do before any
// port opens) and builds the recipe; false with the usage error in `error`.
bool BuildRecipe(const RecipeOptions& options, Recipe* recipe, std::string* error);

}  // namespace fennix::station
