#include "Recipes.h"

namespace fennix::station {

bool BuildFlashRecipe(const RecipeOptions&, Recipe*, std::string* error) {
    *error = "the flash recipe is not built yet";
    return false;
}

}  // namespace fennix::station
