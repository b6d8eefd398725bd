// The production record: one JSON line per device and run, appended to the
// file --report names.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "PortRun.h"

namespace fennix::cli {

struct SentFile {
    std::string role;  // "amss", "programmer", "brt", ...
    std::string path;
    uint64_t size = 0;
    std::string sha256;
};

struct RunContext {
    std::string command;  // "flash", "backup", ...
    std::vector<SentFile> files;
    std::string reportPath;  // empty: no record
};

// The files with their sizes and digests; false with `error` set when one
// cannot be read.
bool DescribeFiles(std::vector<SentFile>& files, std::string* error);

// Appends one record per port; false with `error` set when the file cannot
// be written.
bool AppendReport(const RunContext& context, const std::vector<const PortRun*>& runs, std::string* error);

std::string ToolVersion();

}  // namespace fennix::cli
