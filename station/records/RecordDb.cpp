#include "RecordDb.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <map>
#include <nlohmann/json.hpp>
#include <type_traits>

namespace fennix::records {

namespace {

// Each entry brings a file from the version before it to its own number
// (entry i makes version i + 1). A later version is one more entry; the ones
// here never change, since files already made by them exist.
const char* const kMigrations[] = {
    // 1: the runs. Texts not known are NULL; ids are never given twice.
    R"sql(
CREATE TABLE runs (
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    station TEXT,
    socket TEXT,
    port TEXT,
    operator TEXT,
    recipe TEXT,
    started_at TEXT NOT NULL,
    ended_at TEXT,
    result TEXT NOT NULL CHECK (result IN ('running', 'success', 'failed', 'interrupted', 'aborted')),
    cause TEXT,
    stage TEXT,
    esn TEXT,
    imei TEXT,
    meid TEXT,
    version_before TEXT,
    version_after TEXT,
    build_id_before TEXT,
    build_id_after TEXT,
    bytes INTEGER NOT NULL DEFAULT 0,
    files TEXT NOT NULL DEFAULT '[]',
    backup_path TEXT,
    backup_sha256 TEXT,
    nv_verified INTEGER CHECK (nv_verified IN (0, 1)),
    missing_items TEXT,
    lines TEXT NOT NULL DEFAULT '[]',
    tool_version TEXT,
    library_version TEXT
);
CREATE INDEX runs_imei ON runs (imei);
CREATE INDEX runs_socket ON runs (socket);
CREATE INDEX runs_started_at ON runs (started_at);
)sql",
};
constexpr int kVersion = static_cast<int>(sizeof kMigrations / sizeof kMigrations[0]);

// The same UTC form as the station's own stamps, so that texts compare in time order.
constexpr const char* kNowSql = "strftime('%Y-%m-%dT%H:%M:%fZ', 'now')";

constexpr const char* kColumns =
    "id, station, socket, port, operator, recipe, started_at, ended_at, result, cause, stage, esn, imei, meid, "
    "version_before, version_after, build_id_before, build_id_after, bytes, files, backup_path, backup_sha256, "
    "nv_verified, missing_items, lines, tool_version, library_version";

constexpr int kColumnCount = 27;

std::string LastError(sqlite3* db) { return db ? sqlite3_errmsg(db) : "out of memory"; }

class Statement {
public:
    Statement(sqlite3* db, const std::string& sql) : db_(db) {
        if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt_, nullptr) != SQLITE_OK) stmt_ = nullptr;
    }
    ~Statement() { sqlite3_finalize(stmt_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    bool Ok() const { return stmt_ != nullptr; }
    // Binds from 1 upwards, in the order of the calls; an empty text is NULL.
    void Text(const std::string& value) {
        if (value.empty())
            sqlite3_bind_null(stmt_, ++bound_);
        else
            sqlite3_bind_text(stmt_, ++bound_, value.data(), static_cast<int>(value.size()), SQLITE_TRANSIENT);
    }
    void Int(int64_t value) { sqlite3_bind_int64(stmt_, ++bound_, value); }
    void Null() { sqlite3_bind_null(stmt_, ++bound_); }
    // SQLITE_ROW, SQLITE_DONE or an error.
    int Step() { return stmt_ ? sqlite3_step(stmt_) : SQLITE_ERROR; }

    std::string ColumnText(int i) const {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, i));
        return text ? std::string(text, static_cast<size_t>(sqlite3_column_bytes(stmt_, i))) : std::string();
    }
    bool IsNull(int i) const { return sqlite3_column_type(stmt_, i) == SQLITE_NULL; }
    int64_t ColumnInt(int i) const { return sqlite3_column_int64(stmt_, i); }
    double ColumnDouble(int i) const { return sqlite3_column_double(stmt_, i); }
    std::string Error() const { return LastError(db_); }

private:
    sqlite3* db_;
    sqlite3_stmt* stmt_ = nullptr;
    int bound_ = 0;
};

bool Exec(sqlite3* db, const std::string& sql, std::string* error) {
    char* message = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) == SQLITE_OK) return true;
    if (error) *error = message ? message : LastError(db);
    sqlite3_free(message);
    return false;
}

// A transaction that rolls back unless committed.
class Transaction {
public:
    explicit Transaction(sqlite3* db, std::string* error) : db_(db) { open_ = Exec(db, "BEGIN IMMEDIATE", error); }
    ~Transaction() {
        if (open_) Exec(db_, "ROLLBACK", nullptr);
    }
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    bool Open() const { return open_; }
    bool Commit(std::string* error) {
        if (!Exec(db_, "COMMIT", error)) return false;
        open_ = false;
        return true;
    }

private:
    sqlite3* db_;
    bool open_ = false;
};

int UserVersion(sqlite3* db) {
    Statement s(db, "PRAGMA user_version");
    return s.Step() == SQLITE_ROW ? static_cast<int>(s.ColumnInt(0)) : -1;
}

std::string FilesJson(const std::vector<FileDigest>& files) {
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const auto& f : files) list.push_back({{"name", f.name}, {"size", f.size}, {"sha256", f.sha256}});
    return list.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string LinesJson(const std::vector<RecordLine>& lines) {
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const auto& l : lines) list.push_back({{"time", l.time}, {"text", l.text}, {"status", l.status}});
    return list.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

// A column written by another program may not parse: it reads as nothing rather than stopping the listing.
nlohmann::json ParsedArray(const std::string& text) {
    nlohmann::json j = nlohmann::json::parse(text, nullptr, false);
    return j.is_array() ? j : nlohmann::json::array();
}

// A member of the wrong type reads as not there (json's value() would throw).
template <typename T>
T Member(const nlohmann::json& object, const char* key, T otherwise) {
    const auto it = object.find(key);
    if (it == object.end()) return otherwise;
    if constexpr (std::is_same_v<T, std::string>)
        return it->is_string() ? it->get<std::string>() : otherwise;
    else
        return it->is_number_integer() ? it->get<T>() : otherwise;
}

// Every column of a run but its id, in the order of kColumns.
void BindFields(Statement& s, const RunRecord& r) {
    for (const std::string* text : {&r.station, &r.socket, &r.port, &r.operatorName, &r.recipe}) s.Text(*text);
    // One form for every stamp, so that they compare as texts in time order (and the index serves the filters).
    for (const std::string* stamp : {&r.startedAt, &r.endedAt}) s.Text(StoredTime(*stamp, false).value_or(*stamp));
    s.Text(RunResultName(r.result));
    for (const std::string* text : {&r.cause, &r.stage, &r.esn, &r.imei, &r.meid, &r.versionBefore, &r.versionAfter,
                                    &r.buildIdBefore, &r.buildIdAfter})
        s.Text(*text);
    s.Int(static_cast<int64_t>(r.bytes));
    s.Text(FilesJson(r.files));
    s.Text(r.backupPath);
    s.Text(r.backupSha256);
    if (r.nvVerified)
        s.Int(*r.nvVerified ? 1 : 0);
    else
        s.Null();
    if (r.missingItems)
        s.Text(nlohmann::json(*r.missingItems).dump());
    else
        s.Null();
    s.Text(LinesJson(r.lines));
    s.Text(r.toolVersion);
    s.Text(r.libraryVersion);
}

RunRecord ReadRun(const Statement& s) {
    RunRecord r;
    int c = 0;
    r.id = s.ColumnInt(c++);
    for (std::string* text : {&r.station, &r.socket, &r.port, &r.operatorName, &r.recipe, &r.startedAt, &r.endedAt})
        *text = s.ColumnText(c++);
    r.result = ParseRunResult(s.ColumnText(c++)).value_or(RunResult::Aborted);
    for (std::string* text : {&r.cause, &r.stage, &r.esn, &r.imei, &r.meid, &r.versionBefore, &r.versionAfter,
                              &r.buildIdBefore, &r.buildIdAfter})
        *text = s.ColumnText(c++);
    r.bytes = static_cast<uint64_t>(s.ColumnInt(c++));
    for (const auto& f : ParsedArray(s.ColumnText(c++)))
        if (f.is_object())
            r.files.push_back(
                {Member(f, "name", std::string()), Member(f, "size", uint64_t{0}), Member(f, "sha256", std::string())});
    r.backupPath = s.ColumnText(c++);
    r.backupSha256 = s.ColumnText(c++);
    if (!s.IsNull(c)) r.nvVerified = s.ColumnInt(c) != 0;
    ++c;
    if (!s.IsNull(c)) {
        r.missingItems.emplace();
        for (const auto& item : ParsedArray(s.ColumnText(c)))
            if (item.is_number_integer()) r.missingItems->push_back(item.get<int32_t>());
    }
    ++c;
    for (const auto& l : ParsedArray(s.ColumnText(c++)))
        if (l.is_object())
            r.lines.push_back(
                {Member(l, "time", std::string()), Member(l, "text", std::string()), Member(l, "status", 0)});
    r.toolVersion = s.ColumnText(c++);
    r.libraryVersion = s.ColumnText(c++);
    return r;
}

// The WHERE clause of a filter and its values, bound in order.
struct Where {
    std::string sql;
    std::vector<std::string> values;
};

Where WhereOf(const RunFilter& f) {
    Where w;
    auto add = [&w](const char* condition, const std::string& value) {
        w.sql += w.sql.empty() ? " WHERE " : " AND ";
        w.sql += condition;
        w.values.push_back(value);
    };
    if (!f.since.empty()) add("started_at >= ?", StoredTime(f.since, false).value_or(f.since));
    if (!f.until.empty()) add("started_at <= ?", StoredTime(f.until, true).value_or(f.until));
    if (!f.imei.empty()) add("imei = ?", f.imei);
    if (!f.socket.empty()) add("socket = ?", f.socket);
    if (f.result) add("result = ?", RunResultName(*f.result));
    return w;
}

std::optional<double> Median(std::vector<double> values) {
    if (values.empty()) return std::nullopt;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

struct Tally {
    SummaryRow row;
    std::vector<double> seconds;

    void Count(RunResult result, std::optional<double> duration) {
        ++row.runs;
        switch (result) {
            case RunResult::Success: ++row.passed; break;
            case RunResult::Failed: ++row.failed; break;
            case RunResult::Interrupted: ++row.interrupted; break;
            case RunResult::Aborted: ++row.aborted; break;
            case RunResult::Running: break;
        }
        if (duration) seconds.push_back(*duration);
    }
    SummaryRow Done() {
        if (row.passed + row.failed > 0) row.yieldPercent = 100.0 * row.passed / (row.passed + row.failed);
        row.medianSeconds = Median(seconds);
        return row;
    }
};

bool ParseNumber(std::string_view text, size_t at, size_t digits, int* out) {
    if (text.size() < at + digits) return false;
    int value = 0;
    for (size_t i = at; i < at + digits; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        value = value * 10 + (text[i] - '0');
    }
    *out = value;
    return true;
}

struct Instant {
    std::time_t seconds;
    int millis;
};

std::optional<Instant> ParseTime(std::string_view text, bool until) {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, millis = 0;
    if (!ParseNumber(text, 0, 4, &year) || text.size() < 10 || text[4] != '-' || !ParseNumber(text, 5, 2, &month) ||
        text[7] != '-' || !ParseNumber(text, 8, 2, &day))
        return std::nullopt;
    size_t at = 10;
    const bool dayOnly = text.size() == 10;
    int offsetMinutes = 0;
    if (dayOnly) {
        if (until) hour = 23, minute = 59, second = 59, millis = 999;
    } else {
        if ((text[at] != 'T' && text[at] != ' ') || !ParseNumber(text, at + 1, 2, &hour) || text.size() < at + 6 ||
            text[at + 3] != ':' || !ParseNumber(text, at + 4, 2, &minute))
            return std::nullopt;
        at += 6;
        if (at < text.size() && text[at] == ':') {
            if (!ParseNumber(text, at + 1, 2, &second)) return std::nullopt;
            at += 3;
            if (at < text.size() && (text[at] == '.' || text[at] == ',')) {
                size_t digits = 0;
                int scale = 100;
                for (++at; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at, ++digits, scale /= 10)
                    millis += (text[at] - '0') * scale;
                if (digits == 0) return std::nullopt;
            }
        }
        if (at < text.size() && text[at] == 'Z') {
            ++at;
        } else if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
            int offsetHours = 0, offsetMins = 0;
            const int sign = text[at] == '-' ? -1 : 1;
            if (!ParseNumber(text, at + 1, 2, &offsetHours)) return std::nullopt;
            at += 3;
            if (at < text.size() && text[at] == ':') ++at;
            if (!ParseNumber(text, at, 2, &offsetMins)) return std::nullopt;
            at += 2;
            offsetMinutes = sign * (offsetHours * 60 + offsetMins);
        }
        if (at != text.size()) return std::nullopt;
    }
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 59) return std::nullopt;
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    std::time_t seconds = timegm(&tm);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    if (utc.tm_mday != day) return std::nullopt;  // "2026-02-30"
    seconds -= static_cast<std::time_t>(offsetMinutes) * 60;
    return Instant{seconds, millis};
}

}  // namespace

std::optional<std::string> StoredTime(std::string_view text, bool until) {
    const std::optional<Instant> t = ParseTime(text, until);
    if (!t) return std::nullopt;
    std::tm utc{};
    gmtime_r(&t->seconds, &utc);
    char out[64];
    std::snprintf(out, sizeof out, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900, utc.tm_mon + 1,
                  utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, t->millis);
    return std::string(out);
}

std::optional<double> DurationSeconds(const RunRecord& run) {
    if (run.result == RunResult::Running || run.result == RunResult::Aborted) return std::nullopt;
    const std::optional<Instant> start = ParseTime(run.startedAt, false), end = ParseTime(run.endedAt, false);
    if (!start || !end) return std::nullopt;
    const int64_t millis = (static_cast<int64_t>(end->seconds) - start->seconds) * 1000 + end->millis - start->millis;
    return millis < 0 ? 0.0 : millis / 1000.0;
}

int RecordDb::SchemaVersion() { return kVersion; }

RecordDb::~RecordDb() { sqlite3_close(db_); }

std::unique_ptr<RecordDb> RecordDb::Open(const std::string& path, bool readOnly, std::string* error) {
    std::string ignored;
    if (!error) error = &ignored;
    sqlite3* raw = nullptr;
    const int flags =
        (readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE) | SQLITE_OPEN_NOMUTEX;
    const int opened = sqlite3_open_v2(path.c_str(), &raw, flags, nullptr);
    std::unique_ptr<RecordDb> db(new RecordDb(raw));  // closes `raw` on every way out
    if (opened != SQLITE_OK) {
        *error = path + ": " + LastError(raw);
        return nullptr;
    }
    // Several stations' tools (a station and `fennix records`) may meet on one file.
    sqlite3_busy_timeout(raw, 5000);

    const int version = UserVersion(raw);
    if (version < 0) {
        *error = path + ": not a record database (" + LastError(raw) + ")";
        return nullptr;
    }
    if (version > kVersion) {
        *error = path + ": schema version " + std::to_string(version) + " is newer than this build's " +
                 std::to_string(kVersion) + "; use a newer fennix";
        return nullptr;
    }
    if (readOnly) {
        if (version < kVersion) {
            *error = path + (version == 0 ? ": not a record database"
                                          : ": schema version " + std::to_string(version) +
                                                " is older than this build's; a station opening it brings it up "
                                                "to date");
            return nullptr;
        }
        return db;
    }

    // WAL: readers never wait for the station; a committed run survives the process's death.
    // FULL: and a power loss too, for the cost of one sync per commit.
    if (!Exec(raw, "PRAGMA journal_mode = WAL", error) || !Exec(raw, "PRAGMA synchronous = FULL", error)) {
        *error = path + ": " + *error;
        return nullptr;
    }
    for (;;) {
        Transaction t(raw, error);
        if (!t.Open()) {
            *error = path + ": " + *error;
            return nullptr;
        }
        // Read again under the lock: another process may have migrated it since.
        const int v = UserVersion(raw);
        if (v >= kVersion) break;
        if (!Exec(raw, kMigrations[v], error) || !Exec(raw, "PRAGMA user_version = " + std::to_string(v + 1), error) ||
            !t.Commit(error)) {
            *error = path + ": schema version " + std::to_string(v + 1) + ": " + *error;
            return nullptr;
        }
    }

    Transaction t(raw, error);
    if (!t.Open() ||
        !Exec(raw,
              std::string("UPDATE runs SET result = 'aborted', ended_at = ") + kNowSql + " WHERE result = 'running'",
              error)) {
        *error = path + ": " + *error;
        return nullptr;
    }
    db->abortedAtOpen_ = sqlite3_changes(raw);
    if (!t.Commit(error)) {
        *error = path + ": " + *error;
        return nullptr;
    }
    return db;
}

int64_t RecordDb::Begin(const RunRecord& run, std::string* error) {
    std::lock_guard lock(mutex_);
    Transaction t(db_, error);
    if (!t.Open()) return 0;
    // Every column but the id; an empty start is stamped here.
    std::string values = "?, ?, ?, ?, ?, COALESCE(?, " + std::string(kNowSql) + ")";
    for (int i = 0; i < kColumnCount - 7; ++i) values += ", ?";
    Statement s(db_, std::string("INSERT INTO runs (") + (kColumns + 4) + ") VALUES (" + values + ")");
    if (!s.Ok()) {
        if (error) *error = s.Error();
        return 0;
    }
    RunRecord running = run;
    running.result = RunResult::Running;
    running.endedAt.clear();
    BindFields(s, running);
    if (s.Step() != SQLITE_DONE) {
        if (error) *error = s.Error();
        return 0;
    }
    const int64_t id = sqlite3_last_insert_rowid(db_);
    return t.Commit(error) ? id : 0;
}

bool RecordDb::Complete(const RunRecord& run, std::string* error) {
    std::lock_guard lock(mutex_);
    Transaction t(db_, error);
    if (!t.Open()) return false;
    Statement s(db_,
                "UPDATE runs SET station = ?, socket = ?, port = ?, operator = ?, recipe = ?, started_at = "
                "COALESCE(?, started_at), ended_at = COALESCE(?, " +
                    std::string(kNowSql) +
                    "), result = ?, cause = ?, stage = ?, esn = ?, imei = ?, meid = ?, version_before = ?, "
                    "version_after = ?, build_id_before = ?, build_id_after = ?, bytes = ?, files = ?, "
                    "backup_path = ?, backup_sha256 = ?, nv_verified = ?, missing_items = ?, lines = ?, "
                    "tool_version = ?, library_version = ? WHERE id = ?");
    if (!s.Ok()) {
        if (error) *error = s.Error();
        return false;
    }
    BindFields(s, run);
    s.Int(run.id);
    if (s.Step() != SQLITE_DONE) {
        if (error) *error = s.Error();
        return false;
    }
    if (sqlite3_changes(db_) != 1) {
        if (error) *error = "no run " + std::to_string(run.id) + " in the record database";
        return false;
    }
    return t.Commit(error);
}

std::vector<RunRecord> RecordDb::Runs(const RunFilter& filter) const {
    std::lock_guard lock(mutex_);
    const Where where = WhereOf(filter);
    std::string sql = std::string("SELECT ") + kColumns + " FROM runs" + where.sql + " ORDER BY started_at" +
                      (filter.newestFirst ? " DESC, id DESC" : ", id");
    if (filter.limit > 0) sql += " LIMIT " + std::to_string(filter.limit);
    Statement s(db_, sql);
    for (const auto& v : where.values) s.Text(v);
    std::vector<RunRecord> runs;
    while (s.Step() == SQLITE_ROW) runs.push_back(ReadRun(s));
    return runs;
}

Summary RecordDb::Summarize(const RunFilter& filter) const {
    std::lock_guard lock(mutex_);
    const Where where = WhereOf(filter);
    Statement s(db_, "SELECT socket, cause, result, started_at, ended_at FROM runs" + where.sql);
    for (const auto& v : where.values) s.Text(v);
    std::map<std::string, Tally> sockets, causes;
    Tally total;
    while (s.Step() == SQLITE_ROW) {
        RunRecord run;
        run.result = ParseRunResult(s.ColumnText(2)).value_or(RunResult::Aborted);
        run.startedAt = s.ColumnText(3);
        run.endedAt = s.ColumnText(4);
        const std::optional<double> seconds = DurationSeconds(run);
        for (Tally* tally : {&sockets[s.ColumnText(0)], &causes[s.ColumnText(1)], &total})
            tally->Count(run.result, seconds);
    }
    Summary summary;
    for (auto& [key, tally] : sockets) {
        tally.row.key = key;
        summary.sockets.push_back(tally.Done());
    }
    for (auto& [key, tally] : causes) {
        tally.row.key = key;
        summary.causes.push_back(tally.Done());
    }
    // The commonest causes first: what to look at.
    std::stable_sort(summary.causes.begin(), summary.causes.end(),
                     [](const SummaryRow& a, const SummaryRow& b) { return a.runs > b.runs; });
    summary.total = total.Done();
    return summary;
}

}  // namespace fennix::records
