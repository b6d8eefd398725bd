// The station's record database: one SQLite file (WAL), table `runs`, its
// schema version in PRAGMA user_version and the migrations up to it. A run is
// inserted when it starts and completed when it ends, each in one
// transaction, so a station that dies leaves its runs `running`; the next
// Open marks them `aborted`. Safe to share between threads (one connection
// behind a lock).
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "RunRecord.h"

struct sqlite3;

namespace fennix::records {

struct RunFilter {
    std::string since, until;  // "2026-12-10" (a whole day, UTC) or an ISO 8601 time; empty: open
    std::string imei, socket;
    std::optional<RunResult> result;
    int limit = 0;  // 0: every run
    bool newestFirst = false;
};

// The stored form ("2026-12-10T00:00:00.000Z") of a filter's bound: a day
// ("2026-12-10") from its start, or through its end when `until`; an ISO 8601
// time as given, turned to UTC. None when the text is neither.
std::optional<std::string> StoredTime(std::string_view text, bool until);
// How long an ended run took; none while it runs, for an aborted one (its end
// is when a later start found it) and when a stamp does not read.
std::optional<double> DurationSeconds(const RunRecord& run);

struct SummaryRow {
    std::string key;  // the socket, or the cause ("" for runs without one)
    int runs = 0, passed = 0, failed = 0, interrupted = 0, aborted = 0;
    std::optional<double> yieldPercent;   // passed ÷ (passed + failed) × 100; none without either
    std::optional<double> medianSeconds;  // of the ended runs
};

struct Summary {
    std::vector<SummaryRow> sockets, causes;
    SummaryRow total;
};

class RecordDb {
public:
    // Opens or creates the file, brings its schema up to date and marks runs
    // left `running` by a station that died as `aborted` (unless
    // `readOnly`: `fennix records` changes nothing). Null with `error` set
    // when the file cannot be opened or holds a newer schema than this build knows.
    static std::unique_ptr<RecordDb> Open(const std::string& path, bool readOnly, std::string* error);
    ~RecordDb();
    RecordDb(const RecordDb&) = delete;
    RecordDb& operator=(const RecordDb&) = delete;

    // How many runs the last Open marked `aborted`.
    int AbortedAtOpen() const { return abortedAtOpen_; }

    // Inserts a running run; its id, or 0 with `error` set.
    int64_t Begin(const RunRecord& run, std::string* error);
    // Writes the whole ended run over its row (by `run.id`).
    bool Complete(const RunRecord& run, std::string* error);

    std::vector<RunRecord> Runs(const RunFilter& filter) const;
    Summary Summarize(const RunFilter& filter) const;

    static int SchemaVersion();

private:
    explicit RecordDb(sqlite3* db) : db_(db) {}
    mutable std::mutex mutex_;
    sqlite3* db_;
    int abortedAtOpen_ = 0;
};

}  // namespace fennix::records
