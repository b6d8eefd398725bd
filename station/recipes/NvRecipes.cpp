#include <memory>

#include "BackupFiles.h"
#include "Duck.h"
#include "InputFile.h"
#include "NvFlows.h"
#include "Recipes.h"

namespace fennix::station {

namespace {

constexpr const char* kStation = "fennix station: ";

// `what` ("the item list") at `path`: false with the usage error when it cannot be read.
bool InputReadable(const std::string& path, uint64_t limit, const char* option, const char* what, std::string* error) {
    if (path.empty()) {
        *error = std::string(kStation) + "the recipe needs " + option;
        return false;
    }
    const std::string problem = cli::InputFileProblem(path, limit);
    if (problem.empty()) return true;
    *error = std::string(kStation) + what + ": " + problem + "; no socket was served";
    return false;
}

bool Describe(std::vector<cli::SentFile>& files, std::string* error) {
    std::string problem;
    if (cli::DescribeFiles(files, &problem)) return true;
    *error = kStation + problem + "; no socket was served";
    return false;
}

}  // namespace

bool ItemListReadable(const RecipeOptions& options, std::string* error) {
    return InputReadable(options.items, cli::kCsvFileLimit, "--items LIST.csv", "the item list", error);
}

bool BackupFolderReady(const std::string& folder, std::string* error) {
    if (folder.empty()) {
        *error = std::string(kStation) + "the recipe needs --backups DIR";
        return false;
    }
    std::error_code failure;
    std::filesystem::create_directories(folder, failure);
    if (!failure && std::filesystem::is_directory(folder, failure)) return true;
    *error = kStation + folder + " cannot be the backup folder" + (failure ? ": " + failure.message() : "") +
             "; no socket was served";
    return false;
}

bool BuildBackupRecipe(const RecipeOptions& options, Recipe* recipe, std::string* error) {
    if (!ItemListReadable(options, error)) return false;
    auto files = std::make_shared<BackupFiles>();
    std::string text = options.out;
    if (text.empty()) {
        if (!BackupFolderReady(options.backups, error)) return false;
        text = DefaultBackupTemplate(options.backups);
        files->fresh = true;
    }
    std::string problem;
    if (!cli::FileTemplate::Parse(text, &files->name, &problem, true)) {
        *error = kStation + problem + "; no socket was served";
        return false;
    }
    recipe->files = {{"items", options.items, 0, {}}};
    if (!Describe(recipe->files, error)) return false;
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
        *error = std::string(kStation) + "the restore recipe needs --in TEMPLATE";
        return false;
    }
    auto name = std::make_shared<cli::FileTemplate>();
    std::string problem;
    if (!cli::FileTemplate::Parse(options.in, name.get(), &problem)) {
        *error = kStation + problem + "; no socket was served";
        return false;
    }
    // One file for every device: checked whole before any socket is served.
    std::string unfilled;
    const std::string whole = name->Resolve({}, &unfilled);
    int32_t records = 0;
    if (!whole.empty()) {
        cli::BrtFile brt;
        if (!cli::CheckBrt(whole, &brt, &problem)) {
            *error = kStation + problem + "; no socket was served";
            return false;
        }
        records = brt.count;
        recipe->files = {{"brt", whole, 0, {}}};
        if (!Describe(recipe->files, error)) return false;
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
        *error = kStation + problem + "; no socket was served";
        return false;
    }
    if (!damage.empty()) {
        *error = kStation + options.duck + " is damaged: " + damage + "; no socket was served";
        return false;
    }
    recipe->files = {{"duck", options.duck, 0, {}}};
    if (!Describe(recipe->files, error)) return false;
    recipe->name = "import";
    recipe->progress = [] { return cli::ProgressModel::Counting(0); };
    const std::string path = options.duck;
    recipe->run = [path](PortRun& run, const Arrival&) -> int32_t { return cli::ImportDuck(run, path); };
    return true;
}

}  // namespace fennix::station
