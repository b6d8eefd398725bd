#include "Recipes.h"

namespace fennix::station {

bool BuildBackupRecipe(const RecipeOptions&, Recipe*, std::string* error) {
    *error = "the backup recipe is not built yet";
    return false;
}
bool BuildRestoreRecipe(const RecipeOptions&, Recipe*, std::string* error) {
    *error = "the restore recipe is not built yet";
    return false;
}
bool BuildImportRecipe(const RecipeOptions&, Recipe*, std::string* error) {
    *error = "the import recipe is not built yet";
    return false;
}

}  // namespace fennix::station
