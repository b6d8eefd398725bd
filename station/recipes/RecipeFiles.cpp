#include "RecipeFiles.h"

#include <filesystem>

#include "InputFile.h"
#include "NvFlows.h"
#include "Sha256.h"

namespace fennix::station {

BackupClaim::BackupClaim(BackupFiles& files, PortRun& run, const Arrival& arrival)
    : files_(files), holder_(run.Port()) {
    const std::string path = cli::DeviceFile(run, files.name, ArrivalValues(arrival), arrival.device);
    if (!path.empty()) path_ = files.claimed.ClaimFree(path, holder_, files.fresh);
}

BackupClaim::~BackupClaim() {
    if (!path_.empty()) files_.claimed.Release(path_, holder_);
}

cli::TemplateValues ArrivalValues(const Arrival& arrival) {
    return {arrival.port, cli::LocalDateText(arrival.at), nullptr, cli::LocalTimeText(arrival.at)};
}

std::string DefaultBackupTemplate(const std::string& folder) {
    return (std::filesystem::path(folder) / "{imei}-{date}-{time}.brt").string();
}

std::string StartError(const std::string& problem) {
    return std::string(kStationCommand) + ": " + problem + "; " + kNothingServed;
}

bool InputReadable(const std::string& path, uint64_t limit, const char* option, const char* what, std::string* error) {
    if (path.empty()) {
        *error = std::string(kStationCommand) + ": the recipe needs " + option;
        return false;
    }
    const std::string problem = cli::InputFileProblem(path, limit);
    if (problem.empty()) return true;
    *error = StartError(what + (": " + problem));
    return false;
}

bool ItemListReadable(const RecipeOptions& options, std::string* error) {
    return InputReadable(options.items, cli::kCsvFileLimit, "--items LIST.csv", "the item list", error);
}

bool BackupFolderReady(const std::string& folder, std::string* error) {
    if (folder.empty()) {
        *error = std::string(kStationCommand) + ": the recipe needs --backups DIR";
        return false;
    }
    std::error_code failure;
    std::filesystem::create_directories(folder, failure);
    if (!failure && std::filesystem::is_directory(folder, failure)) return true;
    *error = StartError(folder + " cannot be the backup folder" + (failure ? ": " + failure.message() : ""));
    return false;
}

bool DescribeRecipeFiles(std::vector<cli::SentFile>& files, std::string* error) {
    std::string problem;
    if (cli::DescribeFiles(files, &problem)) return true;
    *error = StartError(problem);
    return false;
}

bool ParseTemplate(const std::string& text, bool withTime, cli::FileTemplate* name, std::string* error) {
    std::string problem;
    if (cli::FileTemplate::Parse(text, name, &problem, withTime)) return true;
    *error = StartError(problem);
    return false;
}

void RecordBackup(PortRun& run, const std::string& path) {
    run.SetResultField("backup_path", std::filesystem::absolute(path).string());
    std::string error;
    const std::string digest = cli::Sha256OfFile(path, &error);
    run.SetResultField("backup_sha256", digest.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(digest));
}

}  // namespace fennix::station
