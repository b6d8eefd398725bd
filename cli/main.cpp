// fennix: flashes, backs up, restores and imports NV items on many ports at
// once through the Fennix library, with live progress, JSON events and a
// production record.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "Commands.h"
#include "Report.h"
#include "System.h"
#ifdef FENNIX_WITH_STATION
#include "StationCommands.h"
#endif

namespace fennix::cli {

void AddRunOptions(CLI::App* command, RunOptions& options) {
    command->add_flag("--json", options.json,
                      "One JSON object per line on standard output (events, then a summary); nothing else there");
    command
        ->add_option("--report", options.report,
                     "Append one JSON record per device to FILE: times, result, every file sent with size and "
                     "SHA-256, tool and library versions, the device's lines")
        ->type_name("FILE");
    command
        ->add_option("--log-level", options.logLevel,
                     "The library's log level: -1 off, 0 banners, 1 errors, 3 warnings, 5 everything")
        ->check(CLI::Range(-1, 5));
    command->add_option("--log-dir", options.logDir, "Folder of the library's daily log file")->type_name("DIR");
}

int UsageError(bool json, const std::string& text) {
    std::fprintf(stderr, "%s\n", text.c_str());
    if (json) {
        const nlohmann::ordered_json error{{"schema", 1},
                                           {"time", IsoTime(WallClock::now())},
                                           {"event", "error"},
                                           {"text", text},
                                           {"exit", kExitUsage}};
        std::printf("%s\n", error.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace).c_str());
        std::fflush(stdout);
    }
    return kExitUsage;
}

namespace {

size_t EditDistance(const std::string& a, const std::string& b) {
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

// The first word that is not an option must name a command; CLI11 would only
// say that a command is required. Empty when it does, else the message.
std::string UnknownCommand(CLI::App& app, int argc, char** argv) {
    std::string word;
    for (int i = 1; i < argc && word.empty(); ++i)
        if (argv[i][0] != '-') word = argv[i];
    if (word.empty()) return {};
    std::string nearest;
    size_t best = word.size();
    for (const CLI::App* command : app.get_subcommands([](CLI::App*) { return true; })) {
        if (command->get_name() == word) return {};
        const size_t distance = EditDistance(word, command->get_name());
        if (distance < best) {
            best = distance;
            nearest = command->get_name();
        }
    }
    std::string message = "fennix: '" + word + "' is not a command";
    // A suggestion only for a near miss: a typo, not a path given without its command.
    if (!nearest.empty() && best <= 2) message += "; did you mean '" + nearest + "'?";
    return message + "\nRun 'fennix --help' for the commands.";
}

}  // namespace

OutputMode PrepareRun(const RunOptions& options) {
    const std::string note = ApplyLogSettings(options.logLevel, options.logDir);
    if (!note.empty()) std::fprintf(stderr, "fennix: %s\n", note.c_str());
    if (options.json) return OutputMode::Json;
    return StdoutIsTerminal() ? OutputMode::Terminal : OutputMode::Plain;
}

int Main(int argc, char** argv) {
    CLI::App app{
        "fennix: flash firmware into Qualcomm MSM handsets and modems on many serial ports at once, "
        "back up and restore their NV items."};
    app.name("fennix");
    const std::string libraryVersion = LibraryVersion();
    app.set_version_flag("--version", "fennix " + ToolVersion() + ", library " +
                                          (libraryVersion.empty() ? std::string("(version unknown)") : libraryVersion) +
                                          " (" + LibraryFile() + ")");
    app.require_subcommand(1);
    app.allow_windows_style_options(false);  // "/path" is a file, on every system
    app.footer(
        "Exit status: 0 every port succeeded, 1 a port failed, 2 usage error or bad image set, 130 "
        "interrupted (Ctrl-C).\nRun 'fennix COMMAND --help' for a command's options.");
    int exitCode = kExitOk;
    AddPortsCommand(app, exitCode);
    AddInfoCommand(app, exitCode);
    AddFlashCommand(app, exitCode);
    AddNvCommands(app, exitCode);
    AddBrtCommands(app, exitCode);
    AddImagesCommands(app, exitCode);
#ifdef FENNIX_WITH_STATION
    station::AddStationCommand(app, exitCode);
    station::AddRecordsCommand(app, exitCode);
#endif
    // Before the options are parsed the only sign of --json is the word itself.
    bool json = false;
    for (int i = 1; i < argc; ++i) json = json || std::string(argv[i]) == "--json";
    if (const std::string unknown = UnknownCommand(app, argc, argv); !unknown.empty()) return UsageError(json, unknown);
    try {
        app.parse(argc, argv);
    } catch (const CLI::Success& e) {
        return app.exit(e);  // --help, --version
    } catch (const CLI::ParseError& e) {
        if (json) return UsageError(true, std::string("fennix: ") + e.what());
        app.exit(e);
        return kExitUsage;
    }
    return exitCode;
}

}  // namespace fennix::cli

int main(int argc, char** argv) { return fennix::cli::Main(argc, argv); }
