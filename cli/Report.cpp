#include "Report.h"

#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "Sha256.h"
#include "System.h"

namespace fennix::cli {

std::string ToolVersion() {
    std::string version = FENNIX_CLI_VERSION;
    if (*FENNIX_CLI_COMMIT) version += std::string(" (") + FENNIX_CLI_COMMIT + ")";
    return version;
}

namespace fs = std::filesystem;

bool DescribeFiles(std::vector<SentFile>& files, std::string* error) {
    for (auto& file : files) {
        std::error_code sizeError, timeError;
        file.size = fs::file_size(file.path, sizeError);
        file.modified = fs::last_write_time(file.path, timeError);
        file.sha256 = Sha256OfFile(file.path, error);
        if (sizeError || timeError || file.sha256.empty()) {
            if (error && error->empty()) *error = "cannot read " + file.path;
            return false;
        }
    }
    return true;
}

std::string ChangedFile(const std::vector<SentFile>& files) {
    for (const auto& file : files) {
        std::vector<SentFile> now{{file.role, file.path, 0, {}, {}}};
        if (!DescribeFiles(now, nullptr) || now[0].size != file.size || now[0].modified != file.modified ||
            now[0].sha256 != file.sha256)
            return "the " + file.role + " file " + file.path;
    }
    return {};
}

void RemovePendingFiles(const RunContext& context) {
    for (const auto& path : context.replaced) {
        const fs::path replaced(path);
        const std::string prefix = replaced.filename().string() + "." + std::to_string(ProcessId()) + ".";
        const fs::path folder = replaced.has_parent_path() ? replaced.parent_path() : fs::path(".");
        std::error_code error;
        for (fs::directory_iterator entry(folder, error), end; !error && entry != end; entry.increment(error)) {
            const std::string name = entry->path().filename().string();
            if (name.size() > prefix.size() + 5 && name.compare(0, prefix.size(), prefix) == 0 &&
                name.compare(name.size() - 5, 5, ".part") == 0) {
                std::error_code removeError;
                fs::remove(entry->path(), removeError);
            }
        }
    }
}

bool AppendReport(const RunContext& context, const std::vector<const PortRun*>& runs, std::string* error,
                  bool abandoned) {
    if (context.reportPath.empty()) return true;
    const std::string libraryPath = LibraryFile();
    nlohmann::ordered_json library{{"path", libraryPath}, {"version", LibraryVersion()}};
    if (!libraryPath.empty()) library["sha256"] = Sha256OfFile(libraryPath, nullptr);
    nlohmann::ordered_json files = nlohmann::ordered_json::array();
    for (const auto& f : context.files)
        files.push_back({{"role", f.role}, {"path", f.path}, {"size", f.size}, {"sha256", f.sha256}});

    std::string text;
    for (const PortRun* run : runs) {
        RunSnapshot s = run->Snapshot();
        if (abandoned && (s.state == RunState::Waiting || s.state == RunState::Running)) {
            s.state = RunState::Interrupted;
            s.end = WallClock::now();
            if (s.cause.empty()) s.cause = "cancelled";
        }
        nlohmann::ordered_json lines = nlohmann::ordered_json::array();
        for (const auto& line : run->Lines()) {
            nlohmann::ordered_json j{{"time", IsoTime(line.time)}, {"text", line.text}, {"status", line.status}};
            if (line.fromTool) j["source"] = "fennix";
            lines.push_back(std::move(j));
        }
        nlohmann::ordered_json record{
            {"schema", 1},
            {"command", context.command},
            {"port", s.port},
            {"stable_name", StableName(s.port)},
            {"start", IsoTime(s.start)},
            {"end", IsoTime(s.end)},
            {"result", RunStateName(s.state)},
            {"code", s.result},
            {"code_hex", CodeHex(s.result)},
            {"cause", s.cause.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(s.cause)}};
        // The command's own fields ("device", "missing") after the cause, where a reader looks for why.
        record.update(s.fields);
        record["files"] = files;
        record["tool"] = {{"name", "fennix"}, {"version", ToolVersion()}};
        record["library"] = library;
        record["lines"] = lines;
        text += record.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + '\n';
    }
    // A debug knob for tests of runs appending at once: how long to hold the
    // report file's lock before writing.
    const char* pause = std::getenv("FENNIX_REPORT_PAUSE_MS");
    const std::string failure =
        AppendLocked(context.reportPath, text, std::chrono::milliseconds(pause ? std::atoi(pause) : 0));
    if (!failure.empty()) {
        if (error) *error = "cannot write the report " + context.reportPath + ": " + failure;
        return false;
    }
    return true;
}

}  // namespace fennix::cli
