// One run of a station as its record database keeps it: a value type, filled
// by the station as the run goes and read back by `fennix records`.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fennix::records {

enum class RunResult { Running, Success, Failed, Interrupted, Aborted };

// "running", "success", "failed", "interrupted", "aborted": the stored words.
const char* RunResultName(RunResult result);
std::optional<RunResult> ParseRunResult(std::string_view text);

struct FileDigest {
    std::string name;  // the path as the recipe named it
    uint64_t size = 0;
    std::string sha256;  // lower-case hex
};

struct RecordLine {
    std::string time;  // ISO 8601, UTC
    std::string text;
    int status = 0;  // the engine's status (-1 a failure line)
};

struct RunRecord {
    int64_t id = 0;  // given by Begin
    std::string station, socket, port, operatorName, recipe;
    std::string startedAt, endedAt;  // ISO 8601 UTC ("2026-12-10T05:30:01.250Z"); endedAt empty while running
    RunResult result = RunResult::Running;
    std::string cause;  // the stable keyword ("image-open-refused"); empty on success
    std::string stage;  // the stage's stable name where the run ended ("image-write")
    std::string esn, imei, meid;
    std::string versionBefore, versionAfter;  // the version directory ("dvr4162") before and after a flash
    std::string buildIdBefore, buildIdAfter;
    uint64_t bytes = 0;  // streamed into the device
    std::vector<FileDigest> files;
    std::string backupPath, backupSha256;
    std::optional<bool> nvVerified;                    // upgrade: every backed-up item read back equal
    std::optional<std::vector<int32_t>> missingItems;  // backup/upgrade: listed items not backed up
    std::vector<RecordLine> lines;
    std::string toolVersion, libraryVersion;
};

}  // namespace fennix::records
