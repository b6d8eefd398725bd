// fennix backup, restore and nv-import: the NV flows on every named port at once.
#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>

#include "Brt.h"
#include "Commands.h"
#include "Duck.h"
#include "FileTemplate.h"
#include "FlowIdentity.h"
#include "InputFile.h"
#include "NvFlows.h"
#include "PortChecks.h"
#include "RunSet.h"

namespace fennix::cli {

namespace {

struct NvOptions {
    RunOptions run;
    std::string items, out, in, file;
    bool strict = false;
    std::vector<std::string> ports;
    std::vector<std::string> restoreArgs;  // [FILE.brt] PORT...
};

bool Readable(const NvOptions& o, const std::string& path, uint64_t limit, const char* what) {
    const std::string problem = InputFileProblem(path, limit);
    if (problem.empty()) return true;
    UsageError(o.run.json, std::string("fennix: the ") + what + ": " + problem + "; no port was opened");
    return false;
}

// `notes`: lines for the person before the run (on standard error with --json).
int Run(const NvOptions& o, RunContext context, std::vector<PortJob> jobs, const PortRun::Flow& flow,
        const std::vector<std::string>& notes = {}, std::shared_ptr<const ClaimedFiles> claimed = nullptr) {
    std::string error;
    if (!DescribeFiles(context.files, &error))
        return UsageError(o.run.json, "fennix " + context.command + ": " + error + "; no port was opened");
    const OutputMode mode = PrepareRun(o.run);
    for (const auto& note : notes) std::fprintf(mode == OutputMode::Json ? stderr : stdout, "%s\n", note.c_str());
    return RunOnPorts(std::move(jobs), flow, mode, context, std::move(claimed));
}

// A template's file per port, as far as it can be known before any port opens.
struct PortFiles {
    FileTemplate name;
    std::string date;
    std::map<std::string, std::string> early;  // port → file, when the template names no device
};

// `literal`: a file named as it is (restore's FILE.brt), not a template.
bool ResolveEarly(const NvOptions& o, const char* command, const std::string& text, bool literal, bool output,
                  PortFiles* files) {
    std::string error;
    if (literal)
        files->name = FileTemplate::Literal(text);
    else if (!FileTemplate::Parse(text, &files->name, &error)) {
        UsageError(o.run.json, std::string("fennix ") + command + ": " + error + "; no port was opened");
        return false;
    }
    files->date = LocalDateText();
    if (files->name.NamesDevice()) return true;
    std::map<std::string, std::string> writers;  // file key → port
    for (const auto& port : o.ports) {
        std::string unfilled;
        const std::string path = files->name.Resolve({port, files->date, nullptr, {}}, &unfilled);
        files->early[port] = path;
        if (!output) continue;
        const auto [first, added] = writers.emplace(FileKey(path), port);
        if (!added) {
            UsageError(o.run.json, std::string("fennix ") + command + ": " + first->second + " and " + port +
                                       " would both write " + path +
                                       "; a placeholder that differs per port ({port}, {imei}, {esn}, {meid}) "
                                       "tells them apart; no port was opened");
            return false;
        }
    }
    return true;
}

// The port's file: the early one, or the template filled with the device's
// values. Empty after failing the port when the device was not read or lacks
// one of them. A flow whose file does not name the device goes on without
// its identity: the flow's own lines then tell why the port failed.
std::string PortFile(PortRun& run, const PortFiles& files, const std::optional<DeviceIdentity>& device) {
    if (const auto early = files.early.find(run.Port()); early != files.early.end()) return early->second;
    return DeviceFile(run, files.name, {run.Port(), files.date, nullptr, {}}, device);
}

int Backup(NvOptions& o) {
    if (const std::string problem = PortListProblem("backup", o.ports); !problem.empty())
        return UsageError(o.run.json, problem);
    if (!Readable(o, o.items, kCsvFileLimit, "item list")) return kExitUsage;
    auto files = std::make_shared<PortFiles>();
    if (!ResolveEarly(o, "backup", o.out, false, true, files.get())) return kExitUsage;
    const std::string csv = o.items;
    const std::vector<ListedItem> items = ReadItemListFile(csv);
    std::vector<std::string> notes;
    for (const auto& line : DescribeItemList(items)) notes.push_back(csv + ": " + line);

    // The record names the list read; the backup itself is in the file written.
    RunContext context{"backup", {{"items", csv, 0, {}}}, o.run.report, {}};
    for (const auto& [port, path] : files->early) context.replaced.push_back(path);
    std::vector<PortJob> jobs;
    for (const auto& port : o.ports) jobs.push_back({port, ProgressModel::Counting(static_cast<int>(items.size()))});
    const bool strict = o.strict;
    auto claimed = std::make_shared<ClaimedFiles>();
    auto flow = [csv, items, files, claimed, strict](PortRun& run) -> int32_t {
        const std::string brt = PortFile(run, *files, ReadAndRecordIdentity(run));
        if (brt.empty()) return 0;
        if (const std::string holder = claimed->Claim(brt, run.Port()); !holder.empty()) {
            run.ToolFailure(brt + " is the file of " + holder + " in this run; nothing was written", "output-clash");
            return 0;
        }
        return BackupItems(run, csv, items, brt, strict);
    };
    return Run(o, std::move(context), std::move(jobs), flow, notes, claimed);
}

int Restore(NvOptions& o) {
    if (o.in.empty()) {
        if (o.restoreArgs.size() < 2)
            return UsageError(o.run.json, "fennix restore: give FILE.brt and a port, or --in TEMPLATE and ports");
        o.file = o.restoreArgs.front();
        o.ports.assign(o.restoreArgs.begin() + 1, o.restoreArgs.end());
    } else {
        o.ports = o.restoreArgs;
    }
    if (const std::string problem = PortListProblem("restore", o.ports); !problem.empty())
        return UsageError(o.run.json, problem);
    auto files = std::make_shared<PortFiles>();
    if (!ResolveEarly(o, "restore", o.in.empty() ? o.file : o.in, o.in.empty(), false, files.get())) return kExitUsage;
    RunContext context{"restore", {}, o.run.report, {}};
    std::map<std::string, int32_t> counts;  // file → its records
    for (const auto& [port, path] : files->early) {
        if (counts.count(path)) continue;
        BrtFile brt;
        std::string error;
        if (!CheckBrt(path, &brt, &error))
            return UsageError(o.run.json, "fennix restore: " + error + "; no port was opened");
        counts[path] = brt.count;
        context.files.push_back({"brt", path, 0, {}});
    }
    std::vector<PortJob> jobs;
    for (const auto& port : o.ports) {
        const auto early = files->early.find(port);
        jobs.push_back({port, ProgressModel::Counting(early == files->early.end() ? 0 : counts[early->second])});
    }
    auto flow = [files](PortRun& run) -> int32_t {
        const std::string path = PortFile(run, *files, ReadAndRecordIdentity(run));
        if (path.empty()) return 0;
        return RestoreItems(run, path, files->name.NamesDevice());
    };
    return Run(o, std::move(context), std::move(jobs), flow);
}

int Import(const NvOptions& o) {
    if (const std::string problem = PortListProblem("nv-import", o.ports); !problem.empty())
        return UsageError(o.run.json, problem);
    if (!Readable(o, o.file, kDuckFileLimit, "duck file")) return kExitUsage;
    std::string damage, error;
    if (!CheckDuck(o.file, &damage, &error))
        return UsageError(o.run.json, "fennix nv-import: " + error + "; no port was opened");
    if (!damage.empty())
        return UsageError(o.run.json,
                          "fennix nv-import: " + o.file + " is damaged: " + damage + "; no port was opened");
    const std::string path = o.file;
    std::vector<PortJob> jobs;
    for (const auto& port : o.ports) jobs.push_back({port, ProgressModel::Counting(0)});
    RunContext context{"nv-import", {{"duck", path, 0, {}}}, o.run.report, {}};
    return Run(o, std::move(context), std::move(jobs), [path](PortRun& run) -> int32_t {
        ReadAndRecordIdentity(run);
        return ImportDuck(run, path);
    });
}

constexpr const char* kPortsHelp = "Serial ports (one thread each, all at once)";
constexpr const char* kTemplateHelp =
    "{imei}, {esn}, {meid} (the device's), {port} (the port's base name) and {date} (YYYYMMDD) are filled per port";

}  // namespace

void AddNvCommands(CLI::App& app, int& exitCode) {
    auto o = std::make_shared<NvOptions>();
    CLI::App* backup = app.add_subcommand("backup", "Back up the NV items a CSV list names into a BRT file per port");
    backup->add_option("--items", o->items, "CSV item list (a header line, then name;number per line)")
        ->required()
        ->type_name("LIST.csv");
    backup
        ->add_option("--out", o->out,
                     std::string("BRT file to write (replaced only when the backup is complete); ") + kTemplateHelp)
        ->required()
        ->type_name("TEMPLATE");
    backup->add_flag("--strict", o->strict, "Fail a port when a listed item was not backed up (its file is kept)");
    backup->add_option("ports", o->ports, kPortsHelp)->required()->type_name("PORT");
    AddRunOptions(backup, o->run);
    backup->callback([o, &exitCode] { exitCode = Backup(*o); });

    CLI::App* restore = app.add_subcommand("restore", "Write every NV item of a BRT file back into each device");
    restore->add_option("--in", o->in, std::string("BRT file per port; ") + kTemplateHelp)->type_name("TEMPLATE");
    restore
        ->add_option("args", o->restoreArgs,
                     "FILE.brt (without --in; checked whole before any port is opened), then the serial ports")
        ->required()
        ->type_name("[FILE.brt] PORT");
    AddRunOptions(restore, o->run);
    restore->callback([o, &exitCode] { exitCode = Restore(*o); });

    CLI::App* import = app.add_subcommand(
        "nv-import", "Import a duck file (NV items, ARRAY entries, device files) and write it into each device");
    import->add_option("file", o->file, "Duck file")->required()->type_name("FILE.duck");
    import->add_option("ports", o->ports, kPortsHelp)->required()->type_name("PORT");
    AddRunOptions(import, o->run);
    import->callback([o, &exitCode] { exitCode = Import(*o);
});
}  // namespace fennix::cli

}  // namespace fennix::cli
