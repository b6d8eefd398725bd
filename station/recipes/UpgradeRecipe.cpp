// The service counter's upgrade: the device's own NV items (its calibration,
// its IMEI) backed up, the new firmware flashed, the items written back and
// read again to prove they survived.
#include <filesystem>
#include <map>
#include <memory>

#include "FlashFlow.h"
#include "NvFlows.h"
#include "RecipeFiles.h"
#include "Recipes.h"

namespace fennix::station {

namespace {

struct Upgrade {
    cli::FlashPlan flash;
    std::string csv;
    std::vector<cli::ListedItem> items;
    BackupFiles backups;
};

// The backed-up items that read back otherwise (or not at all), in backup order.
std::vector<int32_t> Differences(const cli::BrtFile& backup, const cli::BrtFile& reread) {
    std::map<int32_t, const std::vector<uint8_t>*> now;
    for (const auto& record : reread.records) now.emplace(record.item, &record.value);
    std::vector<int32_t> differ;
    for (const auto& record : backup.records) {
        const auto found = now.find(record.item);
        if (found == now.end() || *found->second != record.value) differ.push_back(record.item);
    }
    return differ;
}

// Reads the items again into a file beside the backup (removed after) and
// compares them with it: "nv_verified" true only when every backed-up item
// reads back equal.
int32_t Verify(PortRun& run, const Upgrade& upgrade, const std::string& path, const cli::BrtFile& backup) {
    run.SetResultField("nv_verified", false);
    const std::string again = path + ".verify";
    cli::BrtFile reread;
    const int32_t result = cli::ReadItemsInto(run, upgrade.csv, again, &reread);
    std::error_code ignored;
    std::filesystem::remove(again, ignored);
    if (result != 1) {
        run.ToolFailure("The items restored could not be read again to compare them; the backup is kept in " + path,
                        "");
        return result;
    }
    const std::vector<int32_t> differ = Differences(backup, reread);
    if (!differ.empty()) {
        std::string numbers;
        for (const int32_t item : differ) numbers += (numbers.empty() ? "" : " ") + std::to_string(item);
        run.ToolFailure(
            "NV items that read back otherwise than backed up: " + numbers + "; the backup is kept in " + path,
            "nv-mismatch");
        return 0;
    }
    run.SetResultField("nv_verified", true);
    run.ToolLine("NV items verified: all " + std::to_string(backup.records.size()) + " read back as backed up", 0);
    return 1;
}

int32_t RunUpgrade(PortRun& run, Upgrade& upgrade, const Arrival& arrival) {
    const BackupClaim claim(upgrade.backups, run, arrival);
    const std::string& path = claim.Path();
    if (path.empty()) return 0;
    cli::BrtFile backup;
    int32_t result = cli::BackupItems(run, upgrade.csv, upgrade.items, path, false, &backup);
    if (result != 1) {
        run.ToolLine("The backup failed; nothing was written into the device", -1);
        return result;
    }
    RecordBackup(run, path);
    if (backup.records.empty()) {
        run.ToolFailure("None of the listed items could be backed up; nothing was written into the device",
                        "items-missing");
        return 0;
    }
    result = cli::FlashDevice(run, upgrade.flash, arrival.device);
    if (result != 1) {
        run.ToolLine("The device's NV items are kept in " + path, 0);
        return result;
    }
    result = cli::RestoreItems(run, path, true);
    if (result != 1) {
        run.ToolFailure("The NV items were not written back; the backup is kept in " + path, "");
        return result;
    }
    return Verify(run, upgrade, path, backup);
}

}  // namespace

bool BuildUpgradeRecipe(const RecipeOptions& options, Recipe* recipe, std::string* error) {
    if (options.skipCheck) {
        *error = std::string(kStationCommand) +
                 ": the upgrade writes the NV items back after the device came up again, so it always "
                 "waits for it: --skip-check is for the flash recipe";
        return false;
    }
    if (!ItemListReadable(options, error) || !BackupFolderReady(options.backups, error)) return false;
    auto upgrade = std::make_shared<Upgrade>();
    upgrade->flash.force = options.forceModel;
    if (!cli::ApplyStreamingChoice(options.streaming, &upgrade->flash, kStationCommand, error) ||
        !cli::PrepareFlash(cli::WithRoleOptions(options.images, options.files, options.leftOut), &upgrade->flash,
                           kStationCommand, kNothingServed, error) ||
        !ParseTemplate(DefaultBackupTemplate(options.backups), true, &upgrade->backups.name, error))
        return false;
    upgrade->backups.fresh = true;
    std::vector<cli::SentFile> list{{"items", options.items, 0, {}}};
    if (!DescribeRecipeFiles(list, error)) return false;
    upgrade->csv = options.items;
    upgrade->items = cli::ReadItemListFile(options.items);
    recipe->name = "upgrade";
    recipe->files = upgrade->flash.files;
    recipe->files.push_back(list.front());
    // The bar follows the flash's bytes, which are most of the time, and the
    // items within the NV phases, which show as stages of their own.
    recipe->progress = [upgrade] { return cli::ProgressModel(upgrade->flash.set.Streamed()); };
    recipe->run = [upgrade](PortRun& run, const Arrival& arrival) { return RunUpgrade(run, *upgrade, arrival); };
    return true;
}

}  // namespace fennix::station
