// fennix backup, restore and nv-import: the NV flows on one port.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>

#include "Brt.h"
#include "Commands.h"
#include "Duck.h"
#include "FlowIdentity.h"
#include "InputFile.h"
#include "ItemList.h"
#include "RunSet.h"

namespace fennix::cli {

namespace {

struct NvOptions {
    RunOptions run;
    std::string items, out, file, port;
};

bool Readable(const NvOptions& o, const std::string& path, uint64_t limit, const char* what) {
    const std::string problem = InputFileProblem(path, limit);
    if (problem.empty()) return true;
    UsageError(o.run.json, std::string("fennix: the ") + what + ": " + problem + "; no port was opened");
    return false;
}

// `notes`: lines for the person before the run (on standard error with --json).
int Run(const NvOptions& o, const char* command, std::vector<SentFile> files, ProgressModel progress,
        const PortRun::Flow& flow, std::vector<std::string> replaced = {}, const std::vector<std::string>& notes = {}) {
    RunContext context{command, std::move(files), o.run.report, std::move(replaced)};
    std::string error;
    if (!DescribeFiles(context.files, &error))
        return UsageError(o.run.json, std::string("fennix ") + command + ": " + error + "; no port was opened");
    const OutputMode mode = PrepareRun(o.run);
    for (const auto& note : notes) std::fprintf(mode == OutputMode::Json ? stderr : stdout, "%s\n", note.c_str());
    std::vector<PortJob> jobs;
    jobs.push_back({o.port, std::move(progress)});
    return RunOnPorts(std::move(jobs), flow, mode, context);
}

int Backup(const NvOptions& o) {
    if (!Readable(o, o.items, kCsvFileLimit, "item list")) return kExitUsage;
    const std::string csv = o.items, brt = o.out;
    std::ifstream in(csv, std::ios::binary);
    const std::vector<ListedItem> items =
        ReadItemList(std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()));
    std::vector<std::string> notes;
    for (const auto& line : DescribeItemList(items)) notes.push_back(csv + ": " + line);
    // The record names the list read; the backup itself is in the file written.
    return Run(
        o, "backup", {{"items", csv, 0, {}}}, ProgressModel::Counting(static_cast<int>(items.size())),
        [csv, brt](PortRun& run) {
            ReadAndRecordIdentity(run);
            run.Setup([&](FennixHandle session) { SetCsvBrtFile(session, csv.c_str(), brt.c_str()); });
            return run.RunFlow(StartBackupBrt);
        },
        {brt}, notes);
}

int Restore(const NvOptions& o) {
    BrtFile brt;
    std::string error;
    if (!ReadBrt(o.file, &brt, &error))
        return UsageError(o.run.json, "fennix restore: " + error + "; no port was opened");
    if (!brt.damage.empty())
        return UsageError(o.run.json,
                          "fennix restore: " + o.file + " is damaged: " + brt.damage + "; no port was opened");
    const std::string path = o.file;
    return Run(o, "restore", {{"brt", path, 0, {}}}, ProgressModel::Counting(brt.count), [path](PortRun& run) {
        ReadAndRecordIdentity(run);
        run.Setup([&](FennixHandle session) { SetCsvBrtFile(session, "", path.c_str()); });
        return run.RunFlow(StartRestoreBrt);
    });
}

int Import(const NvOptions& o) {
    if (!Readable(o, o.file, kDuckFileLimit, "duck file")) return kExitUsage;
    std::string damage, error;
    if (!CheckDuck(o.file, &damage, &error))
        return UsageError(o.run.json, "fennix nv-import: " + error + "; no port was opened");
    if (!damage.empty())
        return UsageError(o.run.json,
                          "fennix nv-import: " + o.file + " is damaged: " + damage + "; no port was opened");
    const std::string path = o.file;
    return Run(o, "nv-import", {{"duck", path, 0, {}}}, ProgressModel::Counting(0), [path](PortRun& run) -> int32_t {
        ReadAndRecordIdentity(run);
        // Neither export reports lines of its own: the tool says what happened.
        int32_t imported = 0;
        run.Setup([&](FennixHandle session) { imported = DuckToNVArray(session, path.c_str()); });
        if (imported != 1) {
            run.ToolFailure("Cannot read the duck file " + path, "file-damaged");
            return 0;
        }
        run.ToolLine("Duck file read: " + path, 0);
        run.ToolLine("Writing the NV items and files into the device...", 0);
        if (run.RunFlow(NVArrayToMobile) != 1) {
            run.ToolLine("Writing the NV items failed: nothing was sent, or a write was lost", -1);
            return 0;
        }
        run.ToolLine("NV items and files written", 0);
        return 1;
    });
}

}  // namespace

void AddNvCommands(CLI::App& app, int& exitCode) {
    auto o = std::make_shared<NvOptions>();
    CLI::App* backup = app.add_subcommand("backup", "Back up the NV items a CSV list names into a BRT file");
    backup->add_option("--items", o->items, "CSV item list (a header line, then name;number per line)")
        ->required()
        ->type_name("LIST.csv");
    backup->add_option("--out", o->out, "BRT file to write (replaced only when the backup is complete)")
        ->required()
        ->type_name("FILE.brt");
    backup->add_option("port", o->port, "Serial port")->required()->type_name("PORT");
    AddRunOptions(backup, o->run);
    backup->callback([o, &exitCode] { exitCode = Backup(*o); });

    CLI::App* restore = app.add_subcommand("restore", "Write every NV item of a BRT file back into the device");
    restore->add_option("file", o->file, "BRT file (checked whole before the port is opened)")
        ->required()
        ->type_name("FILE.brt");
    restore->add_option("port", o->port, "Serial port")->required()->type_name("PORT");
    AddRunOptions(restore, o->run);
    restore->callback([o, &exitCode] { exitCode = Restore(*o); });

    CLI::App* import = app.add_subcommand(
        "nv-import", "Import a duck file (NV items, ARRAY entries, device files) and write it into the device");
    import->add_option("file", o->file, "Duck file")->required()->type_name("FILE.duck");
    import->add_option("port", o->port, "Serial port")->required()->type_name("PORT");
    AddRunOptions(import, o->run);
    import->callback([o, &exitCode] { exitCode = Import(*o);
});
}  // namespace fennix::cli

}  // namespace fennix::cli
