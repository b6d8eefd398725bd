// fennix flash: the multi-image download on every named port at once.
#include <cstdio>
#include <memory>

#include "Commands.h"
#include "ImageSet.h"
#include "RunSet.h"

namespace fennix::cli {

namespace {

struct FlashOptions {
    RunOptions run;
    ImageChoice images;
    std::map<std::string, std::string> files;  // filled by the per-role options
    std::map<std::string, bool> leftOut;
    bool skipCheck = false;
    std::vector<std::string> ports;
};

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
    o.images.files.clear();
    for (const auto& [role, path] : o.files)
        if (!path.empty()) o.images.files[role] = path;
    for (const auto& [role, out] : o.leftOut)
        if (out) o.images.leftOut.insert(role);

    ImageSet set;
    const std::vector<std::string> problems = ResolveImageSet(o.images, &set);
    if (!problems.empty()) {
        std::string text = "fennix flash: the image set is not usable; no port was opened:";
        for (const auto& p : problems) text += "\n  " + p;
        return UsageError(o.run.json, text);
    }
    RunContext context{"flash", set.Files(), o.run.report, {}};
    std::string error;
    if (!DescribeFiles(context.files, &error))
        return UsageError(o.run.json, "fennix flash: " + error + "; no port was opened");
    if (const auto mismatches = ManifestProblems(o.images, set, context.files); !mismatches.empty()) {
        std::string text = "fennix flash: the image set differs from " + set.manifestPath + "; no port was opened:";
        for (const auto& m : mismatches) text += "\n  " + m;
        return UsageError(o.run.json, text);
    }
    const OutputMode mode = PrepareRun(o.run);
    PrintSet(set, context.files, mode == OutputMode::Json ? stderr : stdout);

    std::vector<PortJob> jobs;
    for (const auto& port : o.ports) jobs.push_back({port, ProgressModel(set.Streamed())});
    const bool skipCheck = o.skipCheck;
    auto flow = [set, skipCheck](PortRun& run) {
        run.Setup([&](FennixHandle session) {
            if (skipCheck) SetSkipCheck(session);
            SetHexFile(session, set.Path("programmer").c_str());
            SetMbnFile(session, set.Path("partition").c_str(), set.Path("obl").c_str(), set.Path("pbl").c_str(),
                       set.Path("qcsblhd").c_str(), set.Path("qcsbl").c_str(), set.Path("oemsblhd").c_str(),
                       set.Path("oemsbl").c_str(), set.Path("amsshd").c_str(), set.Path("amss").c_str(),
                       set.Path("cefs").c_str());
        });
        return run.RunFlow(StartDownload);
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
                    "End each download after the reset without checking that the device comes up again");
    AddRunOptions(flash, o->run);
    flash->add_option("ports", o->ports, "Serial ports: /dev/ttyUSB0, /dev/serial/by-path/..., COM5")
        ->required()
        ->type_name("PORT");
    flash->footer(
        "Every named file is checked (present, readable, size within the engine's limits) before any port is "
        "touched; a bad set exits with 2, and so does a file that differs from DIR's fennix-images.json.\nOn a "
        "terminal each port has a line redrawn in place; otherwise the "
        "engine's lines are printed as they come, with time and port.\nCtrl-C cancels every running flow; a "
        "device stopped while writing must be flashed again.");
    flash->callback([o, &exitCode] { exitCode = RunFlash(*o); });
}

}  // namespace fennix::cli
