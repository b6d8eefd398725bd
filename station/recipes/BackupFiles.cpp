#include "BackupFiles.h"

#include <filesystem>

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

void RecordBackup(PortRun& run, const std::string& path) {
    run.SetResultField("backup_path", std::filesystem::absolute(path).string());
    std::string error;
    const std::string digest = cli::Sha256OfFile(path, &error);
    run.SetResultField("backup_sha256", digest.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(digest));
}

}  // namespace fennix::station
