#include "Recipe.h"

#include "Recipes.h"

namespace fennix::station {

void AddRecipeOptions(CLI::App* command, RecipeOptions& o) {
    const char* group = "Recipe";
    command->add_option("--recipe", o.name, "What each device gets: flash, upgrade, backup, restore, import")
        ->check(CLI::IsMember({"flash", "upgrade", "backup", "restore", "import"}))
        ->group(group);
    const char* images = "Recipe: flash, upgrade (the image set as fennix flash takes it)";
    command->add_option("--images", o.images.directory, "Folder with the image set under its usual names")
        ->type_name("DIR")
        ->group(images);
    command->add_option("--model", o.images.model, "MSM model; picks the programmer in DIR")
        ->check(CLI::IsMember({"6250", "6260", "6280", "7200"}))
        ->group(images);
    command->add_option("--programmer", o.images.programmer, "The programmer (Intel HEX) file itself")
        ->type_name("FILE")
        ->group(images);
    for (const auto& role : cli::ImageRoles()) {
        const std::string name = role.option;
        command->add_option("--" + name, o.files[name], std::string("The ") + role.title)
            ->type_name("FILE")
            ->group(images);
        if (cli::CanLeaveOut(role))
            command->add_flag("--no-" + name, o.leftOut[name], std::string("Send no ") + role.title)->group(images);
    }
    command
        ->add_flag("--skip-check", o.skipCheck, "flash: end each download after the reset without the power-on check")
        ->group(images);
    command->add_flag("--force-model", o.forceModel, "Write even where the device says the set is not for it")
        ->group(images);
    cli::AddStreamingOptions(command, o.streaming, images);
    const char* nv = "Recipe: upgrade, backup, restore, import";
    command->add_option("--items", o.items, "CSV item list: the NV items an upgrade keeps, or a backup reads")
        ->type_name("LIST.csv")
        ->group(nv);
    command->add_option("--backups", o.backups, "Folder of the station's backups ({imei}-{date}-{time}.brt)")
        ->type_name("DIR")
        ->group(nv);
    command
        ->add_option("--out", o.out,
                     "backup: the BRT file per device; {imei} {esn} {meid} {port} {date} {time} are filled "
                     "(default {imei}-{date}-{time}.brt under --backups)")
        ->type_name("TEMPLATE")
        ->group(nv);
    command->add_option("--in", o.in, "restore: the BRT file per device (a template like --out)")
        ->type_name("TEMPLATE")
        ->group(nv);
    command->add_option("--duck", o.duck, "import: the duck file written into each device")
        ->type_name("FILE.duck")
        ->group(nv);
}

bool BuildRecipe(const RecipeOptions& options, Recipe* recipe, std::string* error) {
    if (options.name == "flash") return BuildFlashRecipe(options, recipe, error);
    if (options.name == "upgrade") return BuildUpgradeRecipe(options, recipe, error);
    if (options.name == "backup") return BuildBackupRecipe(options, recipe, error);
    if (options.name == "restore") return BuildRestoreRecipe(options, recipe, error);
    if (options.name == "import") return BuildImportRecipe(options, recipe, error);
    *error = options.name.empty() ? "a recipe is needed (--recipe)" : "there is no recipe " + options.name;
    return false;
}

}  // namespace fennix::station
