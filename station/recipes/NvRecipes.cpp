#include <memory>

#include "Duck.h"
#include "InputFile.h"
#include "NvFlows.h"
#include "RecipeFiles.h"
#include "Recipes.h"

namespace fennix::station {

bool BuildBackupRecipe(const RecipeOptions& options, Recipe* recipe, std::string* error) {
    if (!ItemListReadable(options, error)) return false;
    auto files = std::make_shared<BackupFiles>();
    std::string text = options.out;
    if (text.empty()) {
        if (!BackupFolderReady(options.backups, error)) return false;
        text = DefaultBackupTemplate(options.backups);
        files->fresh = true;
    }
    if (!ParseTemplate(text, true, &files->name, error)) return false;
    recipe->files = {{"items", options.items, 0, {}}};
    if (!DescribeRecipeFiles(recipe->files, error)) return false;
    const std::string csv = options.items;
    const auto items = std::make_shared<const std::vector<cli::ListedItem>>(cli::ReadItemListFile(csv));
    recipe->name = "backup";
    recipe->progress = [items] { return cli::ProgressModel::Counting(static_cast<int>(items->size())); };
    recipe->run = [files, csv, items](PortRun& run, const Arrival& arrival) -> int32_t {
        const BackupClaim claim(*files, run, arrival);
        if (claim.Path().empty()) return 0;
        const int32_t result = cli::BackupItems(run, csv, *items, claim.Path(), false);
        if (result == 1) RecordBackup(run, claim.Path());
        return result;
    };
    return true;
}

bool BuildRestoreRecipe(const RecipeOptions& options, Recipe* recipe, std::string* error) {
    if (options.in.empty()) {
        *error = std::string(kStationCommand) + ": the restore recipe needs --in TEMPLATE";
        return false;
    }
    auto name = std::make_shared<cli::FileTemplate>();
    if (!ParseTemplate(options.in, false, name.get(), error)) return false;
    // One file for every device: checked whole before any socket is served.
    std::string unfilled;
    const std::string whole = name->Resolve({}, &unfilled);
    int32_t records = 0;
    if (!whole.empty()) {
        cli::BrtFile brt;
        std::string problem;
        if (!cli::CheckBrt(whole, &brt, &problem)) {
            *error = StartError(problem);
            return false;
        }
        records = brt.count;
        recipe->files = {{"brt", whole, 0, {}}};
        if (!DescribeRecipeFiles(recipe->files, error)) return false;
    }
    recipe->name = "restore";
    recipe->progress = [records] { return cli::ProgressModel::Counting(records); };
    const bool check = whole.empty();
    recipe->run = [name, check](PortRun& run, const Arrival& arrival) -> int32_t {
        const std::string path = cli::DeviceFile(run, *name, ArrivalValues(arrival), arrival.device);
        if (path.empty()) return 0;
        return cli::RestoreItems(run, path, check);
    };
    return true;
}

bool BuildImportRecipe(const RecipeOptions& options, Recipe* recipe, std::string* error) {
    if (!InputReadable(options.duck, cli::kDuckFileLimit, "--duck FILE", "the duck file", error)) return false;
    std::string damage, problem;
    if (!cli::CheckDuck(options.duck, &damage, &problem)) {
        *error = StartError(problem);
        return false;
    }
    if (!damage.empty()) {
        *error = StartError(options.duck + " is damaged: " + damage);
        return false;
    }
    recipe->files = {{"duck", options.duck, 0, {}}};
    if (!DescribeRecipeFiles(recipe->files, error)) return false;
    recipe->name = "import";
    recipe->progress = [] { return cli::ProgressModel::Counting(0); };
    const std::string path = options.duck;
    recipe->run = [path](PortRun& run, const Arrival&) -> int32_t { return cli::ImportDuck(run, path); };
    return true;
}

}  // namespace fennix::station
