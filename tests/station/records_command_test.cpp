// `fennix records` against a database the test filled.
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "RecordDb.h"
#include "ToolProcess.h"

namespace fennix::records {
namespace {

using clitest::Lines;
using clitest::RunTool;

class RecordsCommand : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = clitest::FreshTestDirOfThisTest("records-cmd-");
        db_ = dir_ + "/runs.db";
        std::string error;
        auto db = RecordDb::Open(db_, false, &error);
        ASSERT_TRUE(db) << error;
        RunRecord failed;
        failed.socket = "/dev/serial/by-path/s1";
        failed.operatorName = "Ana, \"night\"";
        failed.startedAt = "2026-12-10T08:00:00.000Z";
        failed.endedAt = "2026-12-10T08:01:00.000Z";
        failed.result = RunResult::Failed;
        failed.cause = "image-open-refused";
        failed.imei = "358273012345670";
        failed.files = {{"amss.mbn", 42, std::string(64, 'a')}};
        failed.lines = {{"2026-12-10T08:00:59.000Z", "two\nlines", -1}};
        failed.missingItems = std::vector<int32_t>{550};
        failed.nvVerified = false;
        failed.bytes = 42;
        RunRecord passed;
        passed.socket = "/dev/serial/by-path/s2";
        passed.startedAt = "2026-12-11T08:00:00.000Z";
        passed.endedAt = "2026-12-11T08:00:30.000Z";
        passed.result = RunResult::Success;
        passed.imei = "358273012345688";
        for (RunRecord* r : {&failed, &passed}) {
            r->id = db->Begin(*r, &error);
            ASSERT_TRUE(r->id > 0 && db->Complete(*r, &error)) << error;
        }
    }
    clitest::ToolResult Records(std::vector<std::string> args) {
        args.insert(args.begin(), {"records", "--db", db_});
        return RunTool(args, dir_);
    }
    std::string dir_, db_;
};

TEST_F(RecordsCommand, ListsRunsAsJsonLinesCsvAndATable) {
    auto json = Records({"--json"});
    ASSERT_EQ(json.status, 0) << json.err;
    const auto lines = Lines(json.out);
    ASSERT_EQ(lines.size(), 2u) << json.out;
    const auto first = nlohmann::json::parse(lines[0]);
    EXPECT_EQ(first.size(), 27u);
    EXPECT_EQ(first["id"], 1);
    EXPECT_EQ(first["result"], "failed");
    EXPECT_EQ(first["operator"], "Ana, \"night\"");
    EXPECT_EQ(first["files"][0]["sha256"], std::string(64, 'a'));
    EXPECT_EQ(first["lines"][0]["text"], "two\nlines");
    EXPECT_EQ(first["missing_items"], nlohmann::json::array({550}));
    EXPECT_EQ(first["nv_verified"], false);
    EXPECT_TRUE(first["esn"].is_null());
    EXPECT_EQ(nlohmann::json::parse(lines[1])["missing_items"], nullptr);

    auto history = Records({"--json", "--imei", "358273012345688"});
    ASSERT_EQ(Lines(history.out).size(), 1u) << history.out;
    EXPECT_EQ(nlohmann::json::parse(Lines(history.out)[0])["id"], 2);
    auto day = Records({"--json", "--since", "2026-12-10", "--until", "2026-12-10"});
    ASSERT_EQ(Lines(day.out).size(), 1u) << day.out;
    EXPECT_EQ(nlohmann::json::parse(Lines(day.out)[0])["id"], 1);

    auto csv = Records({"--csv"});
    ASSERT_EQ(csv.status, 0) << csv.err;
    EXPECT_EQ(csv.out.rfind("id,station,socket,port,operator,recipe,started_at,ended_at,result,cause,stage,esn,imei,"
                            "meid,version_before,version_after,build_id_before,build_id_after,bytes,files,backup_path,"
                            "backup_sha256,nv_verified,missing_items,lines,tool_version,library_version\r\n",
                            0),
              0u)
        << csv.out;
    EXPECT_NE(csv.out.find("\r\n1,,/dev/serial/by-path/s1,,\"Ana, \"\"night\"\"\",,"), std::string::npos) << csv.out;
    EXPECT_NE(csv.out.find(",42,\"[{\"\"name\"\":\"\"amss.mbn\"\""), std::string::npos) << csv.out;
    EXPECT_NE(csv.out.find("\"two\\nlines\""), std::string::npos) << csv.out;  // JSON's escape inside the field
    EXPECT_NE(csv.out.find("\r\n2,"), std::string::npos) << csv.out;

    auto table = Records({"--limit", "1"});
    ASSERT_EQ(table.status, 0) << table.err;
    ASSERT_EQ(Lines(table.out).size(), 2u) << table.out;
    EXPECT_NE(Lines(table.out)[0].find("seconds"), std::string::npos);
    EXPECT_NE(Lines(table.out)[1].find("358273012345688"), std::string::npos) << table.out;
    EXPECT_NE(Lines(table.out)[1].find("30.0"), std::string::npos) << table.out;
}

TEST_F(RecordsCommand, SumsUpAsOneJsonObject) {
    auto summary = Records({"--summary", "--json"});
    ASSERT_EQ(summary.status, 0) << summary.err;
    ASSERT_EQ(Lines(summary.out).size(), 1u) << summary.out;
    const auto s = nlohmann::json::parse(summary.out);
    ASSERT_EQ(s["sockets"].size(), 2u);
    EXPECT_EQ(s["sockets"][0]["socket"], "/dev/serial/by-path/s1");
    EXPECT_EQ(s["sockets"][0]["yield_percent"], 0.0);
    EXPECT_EQ(s["causes"][0]["cause"], nullptr);
    EXPECT_EQ(s["causes"][1]["cause"], "image-open-refused");
    EXPECT_EQ(s["total"]["runs"], 2);
    EXPECT_EQ(s["total"]["passed"], 1);
    EXPECT_EQ(s["total"]["yield_percent"], 50.0);
    EXPECT_EQ(s["total"]["median_seconds"], 45.0);
}

TEST_F(RecordsCommand, AMissingDatabaseOrABadDateIsAUsageError) {
    const std::string missing = dir_ + "/none.db";
    auto result = RunTool({"records", "--db", missing}, dir_);
    EXPECT_EQ(result.status, 2);
    EXPECT_NE(result.err.find("no record database at " + missing), std::string::npos) << result.err;
    EXPECT_FALSE(std::filesystem::exists(missing));
    auto date = Records({"--since", "12/10/2026"});
    EXPECT_EQ(date.status, 2);
    EXPECT_NE(date.err.find("--since 12/10/2026"), std::string::npos) << date.err;
}

}  // namespace
}  // namespace fennix::records
