#include "Report.h"

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "Sha256.h"
#include "System.h"

namespace fennix::cli {

std::string ToolVersion() {
    std::string version = FENNIX_CLI_VERSION;
    if (*FENNIX_CLI_COMMIT) version += std::string(" (") + FENNIX_CLI_COMMIT + ")";
    return version;
}

bool DescribeFiles(std::vector<SentFile>& files, std::string* error) {
    for (auto& file : files) {
        std::error_code sizeError;
        file.size = std::filesystem::file_size(file.path, sizeError);
        file.sha256 = Sha256OfFile(file.path, error);
        if (sizeError || file.sha256.empty()) {
            if (error && error->empty()) *error = "cannot read " + file.path;
            return false;
        }
    }
    return true;
}

bool AppendReport(const RunContext& context, const std::vector<const PortRun*>& runs, std::string* error) {
    if (context.reportPath.empty()) return true;
    const std::string libraryPath = LibraryFile();
    nlohmann::ordered_json library{{"path", libraryPath}, {"version", LibraryVersion()}};
    if (!libraryPath.empty()) library["sha256"] = Sha256OfFile(libraryPath, nullptr);
    nlohmann::ordered_json files = nlohmann::ordered_json::array();
    for (const auto& f : context.files)
        files.push_back({{"role", f.role}, {"path", f.path}, {"size", f.size}, {"sha256", f.sha256}});

    std::ofstream out(context.reportPath, std::ios::app | std::ios::binary);
    for (const PortRun* run : runs) {
        const RunSnapshot s = run->Snapshot();
        nlohmann::ordered_json lines = nlohmann::ordered_json::array();
        for (const auto& line : run->Lines()) {
            nlohmann::ordered_json j{{"time", IsoTime(line.time)}, {"text", line.text}, {"status", line.status}};
            if (line.fromTool) j["source"] = "fennix";
            lines.push_back(std::move(j));
        }
        nlohmann::ordered_json record{{"schema", 1},
                                      {"command", context.command},
                                      {"port", s.port},
                                      {"stable_name", StableName(s.port)},
                                      {"start", IsoTime(s.start)},
                                      {"end", IsoTime(s.end)},
                                      {"result", RunStateName(s.state)},
                                      {"code", s.result},
                                      {"files", files},
                                      {"tool", {{"name", "fennix"}, {"version", ToolVersion()}}},
                                      {"library", library},
                                      {"lines", lines}};
        out << record.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << '\n';
    }
    out.flush();
    if (!out) {
        if (error) *error = "cannot write the report " + context.reportPath;
        return false;
    }
    return true;
}

}  // namespace fennix::cli
