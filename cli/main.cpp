// fennix: flashes, backs up, restores and imports NV items on many ports at
// once through the Fennix library, with live progress, JSON events and a
// production record.
#include <cstdio>

#include "Commands.h"
#include "Report.h"
#include "System.h"

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
    try {
        app.parse(argc, argv);
    } catch (const CLI::Success& e) {
        return app.exit(e);  // --help, --version
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        return kExitUsage;
    }
    return exitCode;
}

}  // namespace fennix::cli

int main(int argc, char** argv) { return fennix::cli::Main(argc, argv); }
