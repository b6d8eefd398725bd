#include <memory>

#include "FlashFlow.h"
#include "RecipeFiles.h"
#include "Recipes.h"

namespace fennix::station {

bool BuildFlashRecipe(const RecipeOptions& options, Recipe* recipe, std::string* error) {
    auto plan = std::make_shared<cli::FlashPlan>();
    plan->skipCheck = options.skipCheck;
    plan->force = options.forceModel;
    if (!cli::ApplyStreamingChoice(options.streaming, plan.get(), kStationCommand, error) ||
        !cli::PrepareFlash(cli::WithRoleOptions(options.images, options.files, options.leftOut), plan.get(),
                           kStationCommand, kNothingServed, error))
        return false;
    recipe->name = "flash";
    recipe->files = plan->files;
    recipe->progress = [plan] { return cli::ProgressModel(plan->set.Streamed()); };
    // The station read who the device is when it arrived: the model check
    // goes by that reading; a device in download mode tells nothing to check.
    recipe->run = [plan](PortRun& run, const Arrival& arrival) -> int32_t {
        if (run.Cancelled()) return -1;
        return cli::FlashDevice(run, *plan, arrival.device);
    };
    return true;
}

}  // namespace fennix::station
