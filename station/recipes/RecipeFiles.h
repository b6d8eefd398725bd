// The files of the station's recipes: their checks when the station starts,
// and the BRT files per arrival, a template filled with the arrival's values
// ({port} the tty, {date} and {time} of the arrival) and held by the running
// recipes. Devices that arrive in the same second in different sockets may
// fill a template alike; the later one then takes the first free
// "name-2.brt", "name-3.brt", ..., so that no run writes another's file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "FileTemplate.h"
#include "Recipe.h"

namespace fennix::station {

struct BackupFiles {
    cli::FileTemplate name;
    bool fresh = false;  // never the name of a file that exists (a backup is never replaced)
    cli::ClaimedFiles claimed;
};

// The file of one run, held until the run ends.
class BackupClaim {
public:
    // Path() is empty after failing the port when the device does not give
    // what the template needs.
    BackupClaim(BackupFiles& files, PortRun& run, const Arrival& arrival);
    ~BackupClaim();
    BackupClaim(const BackupClaim&) = delete;
    BackupClaim& operator=(const BackupClaim&) = delete;
    const std::string& Path() const { return path_; }

private:
    BackupFiles& files_;
    std::string holder_, path_;
};

// The template's values of an arrival (the device's are added by the flows).
cli::TemplateValues ArrivalValues(const Arrival& arrival);

// The default backup file under `folder`.
std::string DefaultBackupTemplate(const std::string& folder);

// The checks of the recipes' options and files when the station starts:
// false with the usage error in `error`.
constexpr const char* kStationCommand = "fennix station";
constexpr const char* kNothingServed = "no socket was served";
// "fennix station: <problem>; no socket was served".
std::string StartError(const std::string& problem);
// The file `option` names ("--duck FILE"), `what` for people ("the duck file").
bool InputReadable(const std::string& path, uint64_t limit, const char* option, const char* what, std::string* error);
bool ItemListReadable(const RecipeOptions& options, std::string* error);
bool BackupFolderReady(const std::string& folder, std::string* error);  // made when missing
bool DescribeRecipeFiles(std::vector<cli::SentFile>& files, std::string* error);
bool ParseTemplate(const std::string& text, bool withTime, cli::FileTemplate* name, std::string* error);

// The result fields of a backup written: "backup_path" and "backup_sha256".
void RecordBackup(PortRun& run, const std::string& path);

}  // namespace fennix::station
