// The subcommands, each adding itself to the command line. A command's
// callback stores the process's exit status in `exitCode`.
#pragma once

#include <CLI/CLI.hpp>
#include <string>

#include "Views.h"

namespace fennix::cli {

// Exit statuses.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitInterrupted = 130;

// Options every device command shares.
struct RunOptions {
    bool json = false;
    std::string report;
    int logLevel = -2;  // -2: leave the library's settings alone
    std::string logDir;
};
void AddRunOptions(CLI::App* command, RunOptions& options);
// Applies the log settings and picks the output; prints where they live when
// they cannot be applied here.
OutputMode PrepareRun(const RunOptions& options);
// A usage error found before any port was opened: `text` (its lines after
// the first indented) on standard error and, with --json, one
// {"event":"error"} object on standard output, so that a script reading only
// the JSON learns why nothing ran. Returns kExitUsage.
int UsageError(bool json, const std::string& text);

void AddPortsCommand(CLI::App& app, int& exitCode);
void AddInfoCommand(CLI::App& app, int& exitCode);
void AddFlashCommand(CLI::App& app, int& exitCode);
void AddNvCommands(CLI::App& app, int& exitCode);
void AddBrtCommands(CLI::App& app, int& exitCode);
void AddImagesCommands(CLI::App& app, int& exitCode);

}  // namespace fennix::cli
