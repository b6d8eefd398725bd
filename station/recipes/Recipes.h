// Each recipe's builder; BuildRecipe picks one by the recipe's name.
#pragma once

#include "Recipe.h"

namespace fennix::station {

bool BuildFlashRecipe(const RecipeOptions& options, Recipe* recipe, std::string* error);
bool BuildUpgradeRecipe(const RecipeOptions& options, Recipe* recipe, std::string* error);
bool BuildBackupRecipe(const RecipeOptions& options, Recipe* recipe, std::string* error);
bool BuildRestoreRecipe(const RecipeOptions& options, Recipe* recipe, std::string* error);
bool BuildImportRecipe(const RecipeOptions& options, Recipe* recipe, std::string* error);

}  // namespace fennix::station
