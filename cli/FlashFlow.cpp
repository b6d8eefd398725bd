#include "FlashFlow.h"

#include "FlowIdentity.h"
#include "ModelCheck.h"

namespace fennix::cli {

ImageChoice WithRoleOptions(ImageChoice choice, const std::map<std::string, std::string>& files,
                            const std::map<std::string, bool>& leftOut) {
    choice.files.clear();
    for (const auto& [role, path] : files)
        if (!path.empty()) choice.files[role] = path;
    for (const auto& [role, out] : leftOut)
        if (out) choice.leftOut.insert(role);
    return choice;
}

bool PrepareFlash(const ImageChoice& choice, FlashPlan* plan, const std::string& who, const std::string& consequence,
                  std::string* error) {
    const std::vector<std::string> problems = ResolveImageSet(choice, &plan->set);
    if (!problems.empty()) {
        *error = who + ": the image set is not usable; " + consequence + ":";
        for (const auto& p : problems) *error += "\n  " + p;
        return false;
    }
    plan->files = plan->set.Files();
    std::string problem;
    if (!DescribeFiles(plan->files, &problem)) {
        *error = who + ": " + problem + "; " + consequence;
        return false;
    }
    if (const auto mismatches = ManifestProblems(choice, plan->set, plan->files); !mismatches.empty()) {
        *error = who + ": the image set differs from " + plan->set.manifestPath + "; " + consequence + ":";
        for (const auto& m : mismatches) *error += "\n  " + m;
        return false;
    }
    plan->model = choice.model;
    return true;
}

bool CheckModel(PortRun& run, const std::optional<DeviceIdentity>& device, const std::string& model,
                const ImageSet& set, bool force, bool dryRun) {
    const ModelCheck check = CheckModelFit(device, model, set.platformIds);
    if (check.verdict != ModelVerdict::Mismatch) {
        const bool fits = check.verdict == ModelVerdict::Fits;
        run.ToolLine(fits ? "Model check: the image set fits the device"
                          : "Model check: not checked; the device does not tell which sets fit it",
                     0);
        run.SetResultField("model_check", fits ? "fits" : "not-checked");
        return true;
    }
    if (force) {
        run.ToolLine("Model check overridden by --force-model: " + check.why, 0);
        run.SetResultField("model_check", "overridden");
        return true;
    }
    run.SetResultField("model_check", "model-mismatch");
    if (dryRun)
        run.ToolLine("Model check: " + check.why + "; a flash would fail here (--force-model writes anyway)", 0);
    else
        run.ToolFailure("Model check: " + check.why + "; nothing was written (--force-model writes anyway)",
                        "model-mismatch");
    return false;
}

int32_t FlashDevice(PortRun& run, const FlashPlan& plan, const std::optional<DeviceIdentity>& device,
                    std::optional<DeviceIdentity>* after) {
    if (!CheckModel(run, device, plan.model, plan.set, plan.force, false)) return 0;
    const ImageSet& set = plan.set;
    run.Setup([&](FennixHandle session) {
        if (plan.skipCheck) SetSkipCheck(session);
        if (plan.window != 1 || plan.blockAuto) SetStreaming(session, plan.window, plan.blockAuto ? 1 : 0);
        SetHexFile(session, set.Path("programmer").c_str());
        SetMbnFile(session, set.Path("partition").c_str(), set.Path("obl").c_str(), set.Path("pbl").c_str(),
                   set.Path("qcsblhd").c_str(), set.Path("qcsbl").c_str(), set.Path("oemsblhd").c_str(),
                   set.Path("oemsbl").c_str(), set.Path("amsshd").c_str(), set.Path("amss").c_str(),
                   set.Path("cefs").c_str());
    });
    const int32_t result = run.RunFlow(StartDownload);
    // The device the power-on check saw come back, and what it runs now.
    if (result == 1 && !plan.skipCheck) {
        std::optional<DeviceIdentity> now = RecordIdentity(run, "device_after", run.ReadIdentity());
        if (after) *after = std::move(now);
    }
    return result;
}

void AddStreamingOptions(CLI::App* command, StreamingChoice& choice, const std::string& group) {
    command
        ->add_option("--window", choice.window,
                     "Stream writes outstanding at once: auto takes what the device announces in its hello reply, N "
                     "at most N (1, the default: each write waits for the answer to the one before)")
        ->type_name("auto|N")
        ->check(CLI::IsMember({"auto"}) | CLI::Range(1, 65535))
        ->group(group.empty() ? command->get_group() : group);
    command
        ->add_option("--block", choice.block,
                     "Stream-write block size: auto takes the largest the device announces (at most 32768 bytes); "
                     "1024 is the default")
        ->type_name("auto|1024")
        ->check(CLI::IsMember({"auto", "1024"}))
        ->group(group.empty() ? command->get_group() : group);
}

bool ApplyStreamingChoice(const StreamingChoice& choice, FlashPlan* plan, const std::string& who, std::string* error) {
    int window = 0;
    if (choice.window == "auto") {
        window = FENNIX_STREAM_AUTO;
    } else {
        size_t used = 0;
        try {
            window = std::stoi(choice.window, &used);
        } catch (const std::exception&) {
            used = 0;
        }
        if (used == 0 || used != choice.window.size() || window < 1 || window > 65535) {
            *error = who + ": window must be auto or 1 to 65535, not \"" + choice.window + "\"";
            return false;
        }
    }
    if (choice.block != "auto" && choice.block != "1024") {
        *error = who + ": block must be auto or 1024, not \"" + choice.block + "\"";
        return false;
    }
    plan->window = window;
    plan->blockAuto = choice.block == "auto";
    return true;
}

}  // namespace fennix::cli
