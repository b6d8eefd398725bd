#include "Recipes.h"

namespace fennix::station {

bool BuildUpgradeRecipe(const RecipeOptions&, Recipe*, std::string* error) {
    *error = "the upgrade recipe is not built yet";
    return false;
}

}  // namespace fennix::station
