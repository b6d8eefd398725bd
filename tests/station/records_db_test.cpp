// The record database: what a station writes comes back whole, a station that
// dies leaves nothing half-written, and the filters and sums are right.
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "RecordDb.h"
#include "ToolProcess.h"

namespace fennix::records {
namespace {

RunRecord FullRun(int n) {
    RunRecord r;
    r.station = "bench-1";
    r.socket = "/dev/serial/by-path/usb-0:1." + std::to_string(n);
    r.port = "/dev/ttyUSB" + std::to_string(n);
    r.operatorName = "Ana, \"night\"";
    r.recipe = "upgrade";
    r.startedAt = "2026-12-10T05:30:01.250Z";
    r.endedAt = "2026-12-10T05:31:02.500Z";
    r.result = RunResult::Failed;
    r.cause = "image-open-refused";
    r.stage = "image-write";
    r.esn = "0x8a0b1c2d";
    r.imei = "35827301234567" + std::to_string(n % 10);
    r.meid = "A0000012345678";
    r.versionBefore = "dvr4162";
    r.versionAfter = "dvr4170";
    r.buildIdBefore = "B1";
    r.buildIdAfter = "B2";
    r.bytes = 5'000'000'000ULL + n;
    r.files = {{"amss.mbn", 123456, std::string(64, 'a')}, {"dir\\q,\"x\".mbn", 0, std::string(64, 'b')}};
    r.backupPath = "/var/lib/fennix/backups/x.brt";
    r.backupSha256 = std::string(64, 'c');
    r.nvVerified = false;
    r.missingItems = std::vector<int32_t>{550, 65535};
    r.lines = {{"2026-12-10T05:30:02.000Z", "Start To Download Process...", 0},
               {"2026-12-10T05:31:02.000Z", "line\nwith \"quotes\" ü", -1}};
    r.toolVersion = "1.4.0";
    r.libraryVersion = "1.4.0 (abc)";
    return r;
}

void ExpectSameRun(const RunRecord& a, const RunRecord& b) {
    EXPECT_EQ(a.id, b.id);
    EXPECT_EQ(a.station, b.station);
    EXPECT_EQ(a.socket, b.socket);
    EXPECT_EQ(a.port, b.port);
    EXPECT_EQ(a.operatorName, b.operatorName);
    EXPECT_EQ(a.recipe, b.recipe);
    EXPECT_EQ(a.startedAt, b.startedAt);
    EXPECT_EQ(a.endedAt, b.endedAt);
    EXPECT_EQ(a.result, b.result);
    EXPECT_EQ(a.cause, b.cause);
    EXPECT_EQ(a.stage, b.stage);
    EXPECT_EQ(a.esn, b.esn);
    EXPECT_EQ(a.imei, b.imei);
    EXPECT_EQ(a.meid, b.meid);
    EXPECT_EQ(a.versionBefore, b.versionBefore);
    EXPECT_EQ(a.versionAfter, b.versionAfter);
    EXPECT_EQ(a.buildIdBefore, b.buildIdBefore);
    EXPECT_EQ(a.buildIdAfter, b.buildIdAfter);
    EXPECT_EQ(a.bytes, b.bytes);
    ASSERT_EQ(a.files.size(), b.files.size());
    for (size_t i = 0; i < a.files.size(); ++i) {
        EXPECT_EQ(a.files[i].name, b.files[i].name);
        EXPECT_EQ(a.files[i].size, b.files[i].size);
        EXPECT_EQ(a.files[i].sha256, b.files[i].sha256);
    }
    EXPECT_EQ(a.backupPath, b.backupPath);
    EXPECT_EQ(a.backupSha256, b.backupSha256);
    EXPECT_EQ(a.nvVerified, b.nvVerified);
    EXPECT_EQ(a.missingItems, b.missingItems);
    ASSERT_EQ(a.lines.size(), b.lines.size());
    for (size_t i = 0; i < a.lines.size(); ++i) {
        EXPECT_EQ(a.lines[i].time, b.lines[i].time);
        EXPECT_EQ(a.lines[i].text, b.lines[i].text);
        EXPECT_EQ(a.lines[i].status, b.lines[i].status);
    }
    EXPECT_EQ(a.toolVersion, b.toolVersion);
    EXPECT_EQ(a.libraryVersion, b.libraryVersion);
}

std::unique_ptr<RecordDb> OpenDb(const std::string& path, bool readOnly = false) {
    std::string error;
    auto db = RecordDb::Open(path, readOnly, &error);
    EXPECT_TRUE(db) << error;
    return db;
}

std::string DbPath() { return clitest::FreshTestDirOfThisTest("records-") + "/runs.db"; }

TEST(RecordDb, KeepsEveryFieldOfARunFromBeginToComplete) {
    const std::string path = DbPath();
    auto db = OpenDb(path);
    ASSERT_TRUE(db);
    RunRecord run = FullRun(3);
    std::string error;
    run.id = db->Begin(run, &error);
    ASSERT_GT(run.id, 0) << error;
    // Begun: running, with no end, whatever the value handed in said.
    auto begun = db->Runs({});
    ASSERT_EQ(begun.size(), 1u);
    EXPECT_EQ(begun[0].result, RunResult::Running);
    EXPECT_EQ(begun[0].endedAt, "");
    EXPECT_EQ(begun[0].imei, run.imei);
    ASSERT_TRUE(db->Complete(run, &error)) << error;

    // Not known stays not known; known-empty stays empty; an empty start is stamped.
    RunRecord sparse;
    sparse.missingItems = std::vector<int32_t>{};
    sparse.id = db->Begin(sparse, &error);
    ASSERT_GT(sparse.id, run.id) << error;
    sparse.result = RunResult::Success;
    ASSERT_TRUE(db->Complete(sparse, &error)) << error;

    RunRecord unknown = FullRun(4);
    unknown.id = 999;
    EXPECT_FALSE(db->Complete(unknown, &error));
    db.reset();

    auto again = OpenDb(path, true);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->SchemaVersion(), RecordDb::SchemaVersion());
    auto runs = again->Runs({});
    ASSERT_EQ(runs.size(), 2u);
    ExpectSameRun(runs[0], run);
    const RunRecord& back = runs[1];
    EXPECT_EQ(back.station, "");
    EXPECT_FALSE(back.nvVerified.has_value());
    ASSERT_TRUE(back.missingItems.has_value());
    EXPECT_TRUE(back.missingItems->empty());
    EXPECT_TRUE(StoredTime(back.startedAt, false).has_value()) << back.startedAt;
    EXPECT_GE(back.endedAt, back.startedAt);
    EXPECT_EQ(back.result, RunResult::Success);

    sqlite3* raw = nullptr;
    ASSERT_EQ(sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    sqlite3_stmt* s = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(raw,
                                 "SELECT station IS NULL, nv_verified IS NULL, typeof(bytes), "
                                 "(SELECT journal_mode FROM pragma_journal_mode) FROM runs WHERE id = 2",
                                 -1, &s, nullptr),
              SQLITE_OK);
    ASSERT_EQ(sqlite3_step(s), SQLITE_ROW);
    EXPECT_EQ(sqlite3_column_int(s, 0), 1);
    EXPECT_EQ(sqlite3_column_int(s, 1), 1);
    EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(s, 2)), "integer");
    EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(s, 3)), "wal");
    sqlite3_finalize(s);
    sqlite3_close(raw);

    // JSON columns another program spoiled read as far as they make sense, not as an exception.
    ASSERT_EQ(sqlite3_open(path.c_str(), &raw), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(raw,
                           "UPDATE runs SET files = '[{\"name\": 5, \"size\": \"x\", \"sha256\": \"ab\"}, 3]', "
                           "lines = '{', missing_items = '[1, \"2\"]' WHERE id = 2",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(raw);
    const auto spoiled = OpenDb(path, true)->Runs({}).back();
    ASSERT_EQ(spoiled.files.size(), 1u);
    EXPECT_EQ(spoiled.files[0].name, "");
    EXPECT_EQ(spoiled.files[0].sha256, "ab");
    EXPECT_TRUE(spoiled.lines.empty());
    EXPECT_EQ(spoiled.missingItems, (std::vector<int32_t>{1}));
}

TEST(RecordDb, RefusesANewerSchemaAndAMissingFileWhenOnlyReading) {
    const std::string path = DbPath();
    std::string error;
    EXPECT_FALSE(RecordDb::Open(path, true, &error));
    EXPECT_FALSE(std::filesystem::exists(path));
    ASSERT_TRUE(OpenDb(path));

    sqlite3* raw = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &raw), SQLITE_OK);
    const std::string newer = "PRAGMA user_version = " + std::to_string(RecordDb::SchemaVersion() + 1);
    ASSERT_EQ(sqlite3_exec(raw, newer.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(raw);
    for (bool readOnly : {false, true}) {
        error.clear();
        EXPECT_FALSE(RecordDb::Open(path, readOnly, &error));
        EXPECT_NE(error.find("newer"), std::string::npos) << error;
    }
}

// A station killed during a run: its row stays `running` until the next start marks it.
TEST(RecordDb, TheNextOpenMarksRunsLeftRunningAborted) {
    const std::string path = DbPath();
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::string error;
        auto db = RecordDb::Open(path, false, &error);
        _exit(db && db->Begin(FullRun(1), &error) > 0 ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    auto reader = OpenDb(path, true);
    ASSERT_TRUE(reader);
    ASSERT_EQ(reader->Runs({}).size(), 1u);
    EXPECT_EQ(reader->Runs({})[0].result, RunResult::Running);
    EXPECT_EQ(reader->AbortedAtOpen(), 0);

    const std::string before = *StoredTime("2000-01-01T00:00:00Z", false);
    auto db = OpenDb(path);
    ASSERT_TRUE(db);
    EXPECT_EQ(db->AbortedAtOpen(), 1);
    const auto runs = db->Runs({});
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].result, RunResult::Aborted);
    EXPECT_TRUE(StoredTime(runs[0].endedAt, false).has_value()) << runs[0].endedAt;
    EXPECT_GT(runs[0].endedAt, before);
    EXPECT_EQ(runs[0].imei, FullRun(1).imei);
    EXPECT_EQ(OpenDb(path)->AbortedAtOpen(), 0);
}

TEST(RecordDb, NothingCommittedIsLostWhenTheStationIsKilledMidRun) {
    const std::string path = DbPath();
    constexpr int kComplete = 5;
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::string error;
        auto db = RecordDb::Open(path, false, &error);
        if (!db) _exit(1);
        for (int i = 0; i < kComplete; ++i) {
            RunRecord run = FullRun(i);
            run.id = db->Begin(run, &error);
            if (run.id <= 0 || !db->Complete(run, &error)) _exit(1);
        }
        if (db->Begin(FullRun(9), &error) <= 0) _exit(1);  // one run certainly left running
        // Killed while it writes: the kill lands inside one of these Begins.
        std::thread([] {
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
            kill(getpid(), SIGKILL);
        }).detach();
        for (;;) db->Begin(FullRun(9), &error);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the child ended by itself: " << status;

    auto db = OpenDb(path);
    ASSERT_TRUE(db);
    const auto runs = db->Runs({});
    ASSERT_GT(runs.size(), static_cast<size_t>(kComplete));
    EXPECT_EQ(db->AbortedAtOpen(), static_cast<int>(runs.size()) - kComplete);
    for (int i = 0; i < kComplete; ++i) {
        RunRecord expected = FullRun(i);
        expected.id = i + 1;
        ExpectSameRun(runs[i], expected);
    }
    for (size_t i = kComplete; i < runs.size(); ++i) {
        EXPECT_EQ(runs[i].id, static_cast<int64_t>(i) + 1);  // no hole: each Begin whole or not at all
        EXPECT_EQ(runs[i].result, RunResult::Aborted);
        EXPECT_EQ(runs[i].imei, FullRun(9).imei);
    }
}

TEST(RecordDb, SocketsShareOneDatabaseFromTheirOwnThreads) {
    auto db = OpenDb(DbPath());
    ASSERT_TRUE(db);
    std::vector<std::thread> sockets;
    for (int t = 0; t < 4; ++t)
        sockets.emplace_back([&db, t] {
            for (int i = 0; i < 10; ++i) {
                RunRecord run = FullRun(t);
                std::string error;
                run.id = db->Begin(run, &error);
                run.result = RunResult::Success;
                EXPECT_TRUE(run.id > 0 && db->Complete(run, &error)) << error;
            }
        });
    for (auto& s : sockets) s.join();
    RunFilter success;
    success.result = RunResult::Success;
    EXPECT_EQ(db->Runs(success).size(), 40u);
}

RunRecord Ended(const std::string& socket, const std::string& imei, const std::string& start, double seconds,
                RunResult result, const std::string& cause = "") {
    RunRecord r;
    r.socket = socket;
    r.imei = imei;
    r.startedAt = start;
    auto t = *StoredTime(start, false);
    // Whole seconds are enough for these runs.
    const int s = std::stoi(t.substr(17, 2)) + static_cast<int>(seconds);
    char end[64];
    std::snprintf(end, sizeof end, "%s%02d:%02d.%03dZ", t.substr(0, 14).c_str(), std::stoi(t.substr(14, 2)) + s / 60,
                  s % 60, static_cast<int>((seconds - static_cast<int>(seconds)) * 1000 + 0.5));
    r.endedAt = end;
    r.result = result;
    r.cause = cause;
    return r;
}

void Add(RecordDb& db, RunRecord run) {
    std::string error;
    run.id = db.Begin(run, &error);
    ASSERT_GT(run.id, 0) << error;
    if (run.result != RunResult::Running) {
        ASSERT_TRUE(db.Complete(run, &error)) << error;
    }
}

TEST(RecordDb, FiltersByDayTimeDeviceSocketAndResult) {
    auto db = OpenDb(DbPath());
    ASSERT_TRUE(db);
    Add(*db, Ended("A", "111", "2026-12-09T23:59:59.999Z", 10, RunResult::Success));
    Add(*db, Ended("B", "111", "2026-12-10T00:00:00.000Z", 10, RunResult::Failed, "x"));
    Add(*db, Ended("A", "222", "2026-12-10T23:59:59.999Z", 10, RunResult::Success));
    Add(*db, Ended("A", "111", "2026-12-11T00:00:00.000Z", 10, RunResult::Interrupted, "unplugged"));
    RunRecord zonedStart;  // 23:30 UTC the day before, stored so: compared as text it would fall on the 10th
    zonedStart.startedAt = "2026-12-10T00:30:00+01:00";
    Add(*db, zonedStart);
    EXPECT_EQ(db->Runs({}).front().startedAt, "2026-12-09T23:30:00.000Z");
    auto ids = [&db](const RunFilter& f) {
        std::vector<int64_t> out;
        for (const auto& r : db->Runs(f)) out.push_back(r.id);
        return out;
    };
    using Ids = std::vector<int64_t>;
    RunFilter day;
    day.since = day.until = "2026-12-10";
    EXPECT_EQ(ids(day), (Ids{2, 3}));
    RunFilter zoned;  // 01:00 at +01:00 is midnight UTC
    zoned.since = "2026-12-10T01:00+01:00";
    zoned.until = "2026-12-10T23:59:59.999Z";
    EXPECT_EQ(ids(zoned), (Ids{2, 3}));
    RunFilter history;
    history.imei = "111";
    EXPECT_EQ(ids(history), (Ids{1, 2, 4}));
    history.socket = "A";
    EXPECT_EQ(ids(history), (Ids{1, 4}));
    RunFilter passed;
    passed.result = RunResult::Success;
    EXPECT_EQ(ids(passed), (Ids{1, 3}));
    RunFilter latest;
    latest.limit = 2;
    latest.newestFirst = true;
    EXPECT_EQ(ids(latest), (Ids{4, 3}));
    RunFilter earlier;
    earlier.until = "2026-12-09";
    EXPECT_EQ(ids(earlier), (Ids{5, 1}));

    EXPECT_EQ(StoredTime("2026-12-10", true), "2026-12-10T23:59:59.999Z");
    EXPECT_EQ(StoredTime("2026-12-10T08:30:00.5-02:30", false), "2026-12-10T11:00:00.500Z");
    for (const char* bad : {"2026-02-30", "2026-12-10T25:00", "yesterday", "2026-12-10T08:30Zx", ""})
        EXPECT_FALSE(StoredTime(bad, false)) << bad;
}

TEST(RecordDb, SumsUpYieldAndMedianPerSocketAndCause) {
    const std::string path = DbPath();
    auto db = OpenDb(path);
    ASSERT_TRUE(db);
    const char* t = "2026-12-10T08:00:00Z";
    Add(*db, Ended("A", "1", t, 10, RunResult::Success));
    Add(*db, Ended("A", "2", t, 30, RunResult::Success));
    Add(*db, Ended("A", "3", t, 20.5, RunResult::Failed, "image-open-refused"));
    Add(*db, Ended("A", "4", t, 5, RunResult::Interrupted, "device-left"));
    Add(*db, Ended("B", "5", t, 40, RunResult::Failed, "image-open-refused"));
    Add(*db, Ended("B", "6", t, 1, RunResult::Running));  // aborted by the next open: no duration
    db = OpenDb(path);
    ASSERT_TRUE(db);
    const Summary s = db->Summarize({});

    auto expectRow = [](const SummaryRow& r, const std::string& key, std::vector<int> counts,
                        std::optional<double> yield, std::optional<double> median) {
        SCOPED_TRACE("row " + key);
        EXPECT_EQ(r.key, key);
        EXPECT_EQ((std::vector<int>{r.runs, r.passed, r.failed, r.interrupted, r.aborted}), counts);
        ASSERT_EQ(r.yieldPercent.has_value(), yield.has_value());
        if (yield) {
            EXPECT_NEAR(*r.yieldPercent, *yield, 1e-9);
        }
        ASSERT_EQ(r.medianSeconds.has_value(), median.has_value());
        if (median) {
            EXPECT_NEAR(*r.medianSeconds, *median, 1e-9);
        }
    };
    ASSERT_EQ(s.sockets.size(), 2u);
    expectRow(s.sockets[0], "A", {4, 2, 1, 1, 0}, 200.0 / 3, 15.25);
    expectRow(s.sockets[1], "B", {2, 0, 1, 0, 1}, 0.0, 40.0);
    ASSERT_EQ(s.causes.size(), 3u);
    expectRow(s.causes[0], "", {3, 2, 0, 0, 1}, 100.0, 20.0);
    expectRow(s.causes[1], "image-open-refused", {2, 0, 2, 0, 0}, 0.0, 30.25);
    expectRow(s.causes[2], "device-left", {1, 0, 0, 1, 0}, std::nullopt, 5.0);
    expectRow(s.total, "", {6, 2, 2, 1, 1}, 50.0, 20.5);

    RunFilter onlyB;
    onlyB.socket = "B";
    expectRow(db->Summarize(onlyB).total, "", {2, 0, 1, 0, 1}, 0.0, 40.0);
}

}  // namespace
}  // namespace fennix::records
