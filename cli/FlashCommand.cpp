// fennix flash: the multi-image download on every named port at once.
#include <cctype>
#include <cstdio>
#include <memory>

#include "AsciiCase.h"
#include "Commands.h"
#include "FlashFlow.h"
#include "FlowIdentity.h"
#include "RunSet.h"

namespace fennix::cli {

namespace {

struct FlashOptions {
    RunOptions run;
    ImageChoice images;
    std::map<std::string, std::string> files;  // filled by the per-role options
    std::map<std::string, bool> leftOut;
    bool skipCheck = false;
    StreamingChoice streaming;
    bool forceModel = false;
    bool dryRun = false;
    std::vector<std::string> ports;
};

// What a flash would write, as lines of the port; true when the device was read.
bool DryRun(PortRun& run, const std::optional<DeviceIdentity>& read, const std::string& cause,
            const std::vector<SentFile>& files) {
    if (!read) {
        run.ToolFailure("Dry run: the device's identity and mode could not be read",
                        cause.empty() ? "no-answer" : cause);
        return false;
    }
    if (read->mode == "download")
        run.ToolLine("Dry run: the device is in download mode; who it is cannot be read before a flash", 0);
    else
        run.ToolLine("Dry run: the device " + ShortName(*read) + (ShortName(*read).empty() ? "" : " ") + "(platform " +
                         PlatformId(*read) + ") is in " + AsciiUpper(read->mode) + " mode",
                     0);
    uint64_t total = 0;
    for (const auto& f : files) {
        run.ToolLine("Would write the " + f.role + " " + f.path + " (" + ByteText(static_cast<double>(f.size)) + ")",
                     0);
        total += f.size;
    }
    run.SetResultNote("dry run: " + std::to_string(files.size()) + " files, " + ByteText(static_cast<double>(total)) +
                      " would be written");
    return true;
}

void PrintSet(const ImageSet& set, const std::vector<SentFile>& files, std::FILE* out) {
    std::fprintf(out, "Image set:\n");
    for (const auto& f : files)
        std::fprintf(out, "  %-10s %10s  %s\n", f.role.c_str(), ByteText(static_cast<double>(f.size)).c_str(),
                     f.path.c_str());
    uint64_t streamed = 0;
    for (const auto& image : set.Streamed()) streamed += image.bytes;
    std::fprintf(out, "  %s streamed per device\n\n", ByteText(static_cast<double>(streamed)).c_str());
    std::fflush(out);
}

int RunFlash(FlashOptions& o) {
    FlashPlan plan;
    plan.skipCheck = o.skipCheck;
    plan.force = o.forceModel;
    std::string error;
    if (!ApplyStreamingChoice(o.streaming, &plan, "fennix flash", &error)) return UsageError(o.run.json, error);
    if (!PrepareFlash(WithRoleOptions(o.images, o.files, o.leftOut), &plan, "fennix flash", "no port was opened",
                      &error))
        return UsageError(o.run.json, error);
    // A dry run writes nothing, so it leaves no record of a flash.
    RunContext context{"flash", plan.files, o.dryRun ? std::string() : o.run.report, {}};
    OutputMode mode = PrepareRun(o.run);
    // What a dry run tells is its lines, which the terminal's live lines would hide.
    if (o.dryRun && mode == OutputMode::Terminal) mode = OutputMode::Plain;
    PrintSet(plan.set, context.files, mode == OutputMode::Json ? stderr : stdout);

    std::vector<PortJob> jobs;
    for (const auto& port : o.ports) jobs.push_back({port, ProgressModel(plan.set.Streamed())});
    const bool dryRun = o.dryRun;
    auto shared = std::make_shared<const FlashPlan>(std::move(plan));
    auto flow = [shared, dryRun](PortRun& run) -> int32_t {
        const FlashPlan& plan = *shared;
        std::string cause;
        const std::optional<DeviceIdentity> read = run.ReadIdentity(&cause);
        const std::optional<DeviceIdentity> device = RecordIdentity(run, "device", read);
        if (run.Cancelled()) return -1;
        if (dryRun) {
            if (!DryRun(run, read, cause, plan.files)) return 0;
            CheckModel(run, device, plan.model, plan.set, plan.force, true);
            return 1;
        }
        return FlashDevice(run, plan, device);
    };
    return RunOnPorts(std::move(jobs), flow, mode, context);
}

}  // namespace

void AddFlashCommand(CLI::App& app, int& exitCode) {
    auto o = std::make_shared<FlashOptions>();
    CLI::App* flash = app.add_subcommand(
        "flash", "Flash an image set into the devices on every named port at once (one thread per port)");
    flash
        ->add_option("--images", o->images.directory,
                     "Folder with the image set under its usual names (partition.mbn, qcsblhd_cfgdata.mbn, "
                     "qcsbl.mbn, oemsblhd.mbn, oemsbl.mbn, amsshd.mbn, amss.mbn; pbl.mbn, obl.mbn and CEFS "
                     "(cefs.mbn, *.cefs, *.qvcefs) when present)")
        ->type_name("DIR");
    flash
        ->add_option("--model", o->images.model,
                     "MSM model; picks the programmer in DIR: NPRG6250SEC.HEX, NPRG6260.HEX, NPRG6280.HEX, "
                     "NPRG7200A.HEX")
        ->check(CLI::IsMember({"6250", "6260", "6280", "7200"}));
    flash->add_option("--programmer", o->images.programmer, "The programmer (Intel HEX) file itself")
        ->type_name("FILE");
    for (const auto& role : ImageRoles()) {
        const std::string name = role.option;
        flash->add_option("--" + name, o->files[name], std::string("The ") + role.title)
            ->type_name("FILE")
            ->group("Image files (each replaces its file from --images)");
        if (CanLeaveOut(role))
            flash->add_flag("--no-" + name, o->leftOut[name], std::string("Send no ") + role.title)
                ->group("Image files (each replaces its file from --images)");
    }
    flash->add_flag("--skip-check", o->skipCheck,
                    "End each download after the reset without checking that the device comes up again (and "
                    "without reading who it is afterwards)");
    AddStreamingOptions(flash, o->streaming);
    flash->add_flag("--force-model", o->forceModel,
                    "Write even where the device says the set is not for it (an MSM6280-family device and "
                    "another --model, or a platform the set's manifest does not name)");
    flash->add_flag("--dry-run", o->dryRun,
                    "Check the files, open each port, read who the device is and its mode, and print what would "
                    "be written where; write nothing and append no record");
    AddRunOptions(flash, o->run);
    flash->add_option("ports", o->ports, "Serial ports: /dev/ttyUSB0, /dev/serial/by-path/..., COM5")
        ->required()
        ->type_name("PORT");
    flash->footer(
        "Every named file is checked (present, readable, size within the engine's limits) before any port is "
        "touched; a bad set exits with 2, and so does a file that differs from DIR's fennix-images.json.\nEach "
        "port's device is read first (where it is in AT or DIAG mode): --model and the manifest's platform IDs are "
        "checked against it before anything is written.\nOn a terminal each port has a line redrawn in place; "
        "otherwise the engine's lines are printed as they come, with time and port.\nCtrl-C cancels every running "
        "flow; a device stopped while writing must be flashed again.");
    flash->callback([o, &exitCode] { exitCode = RunFlash(*o); });
}

}  // namespace fennix::cli
