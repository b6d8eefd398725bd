// The production record: one JSON line per device and run, appended to the
// file --report names.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "PortRun.h"

namespace fennix::cli {

struct SentFile {
    std::string role;  // "amss", "programmer", "brt", ...
    std::string path;
    uint64_t size = 0;
    std::string sha256;
    std::filesystem::file_time_type modified{};
};

struct RunContext {
    std::string command;  // "flash", "backup", ...
    std::vector<SentFile> files;
    std::string reportPath;             // empty: no record
    std::vector<std::string> replaced;  // files the engine replaces (a backup's BRT)
};

// The files with their sizes, modification times and digests; false with
// `error` set when one cannot be read.
bool DescribeFiles(std::vector<SentFile>& files, std::string* error);

// The first of the described files whose size, modification time or digest
// differs from what DescribeFiles found ("the amss file /x/amss.mbn"); empty
// when none.
std::string ChangedFile(const std::vector<SentFile>& files);

// Appends one record per port, all in one locked write; false with `error`
// set when the file cannot be written. `abandoned`: the tool is ending before
// the flows did, and a run still going is recorded as interrupted.
bool AppendReport(const RunContext& context, const std::vector<const PortRun*>& runs, std::string* error,
                  bool abandoned = false);

// Removes this process's pending files beside the files the engine replaces
// (the engine's "<file>.<process id>.<random>.part"); those of other
// processes are theirs to finish.
void RemovePendingFiles(const RunContext& context);

std::string ToolVersion();

}  // namespace fennix::cli
