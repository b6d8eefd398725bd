// The NV flows as a session runs them: flow frame, closing lines, port
// handling and the session's NV state.
#include <gtest/gtest.h>

#include <memory>

#include "ReportLines.h"
#include "ScriptedLink.h"
#include "TestFiles.h"
#include "fennix/fennix.h"
#include "log/log_test_fixture.h"
#include "session/NvSession.h"
#include "session/ExportResults.h"
#include "session/EventLog.h"
#include "session/QualCmd.h"
#include "session/SessionRegistry.h"

namespace fennix {
namespace {

using test::Bytes;
using test::LeBuilder;
using test::NvReply;
using test::ScratchDir;
using test::ScriptedExchange;
using test::ScriptedLink;

using test::Line;
using test::Lines;

struct SessionFixture : ::testing::Test {
    ScriptedExchange device;
    ScriptedLink* link = nullptr;
    std::unique_ptr<CQualCmd> session;
    Lines lines;
    ScratchDir dir;

    void SetUp() override {
        auto owned = std::make_unique<ScriptedLink>(device);
        link = owned.get();
        session = std::make_unique<CQualCmd>(std::move(owned), Timeouts::WithScale(0.01), [](uint32_t) {});
        session->SetPortName("COM5");
        test::CollectingInto() = &lines;
        session->SetCallback(test::CollectLine);
    }
    void TearDown() override { test::CollectingInto() = nullptr; }
};

using NvSessionBackup = SessionFixture;

TEST_F(NvSessionBackup, SuccessReportsBeforeClosing) {
    test::WriteText(dir.File("items.csv"), "h\na;1\nb;2\n");
    device.script = {NvReply(38, 1, {9}, 0), NvReply(38, 2, {}, 5)};
    session->SetCsvBrtPaths(dir.File("items.csv").c_str(), dir.File("out.brt").c_str());
    EXPECT_EQ(1, FlowResultCode(RunBackupBrt(*session)));
    EXPECT_EQ((Lines{{"Start To BackupBrt Process...", 0},
                     {"Open ComPort Success!!", 0},
                     {"Change to DIAG Mode Success!!", 0},
                     {"BackupBrt Counts =  1", 0},
                     {"Total NvCounts in CSV file =  2, 1 has backuped", 0},
                     {"BackupBrt Success!!", 0}}),
              lines);
    EXPECT_EQ("open COM5", link->calls.front());
    EXPECT_EQ("close", link->calls.back());
    EXPECT_EQ(50u, device.waits.at(0)) << "the reply wait follows the session's time table";
    EXPECT_EQ(4u + 8 + 128, test::ReadBytes(dir.File("out.brt")).size());
}

TEST_F(NvSessionBackup, FailureClosesThenReports) {
    session->SetCsvBrtPaths(dir.File("missing.csv").c_str(), dir.File("out.brt").c_str());
    const FlowOutcome outcome = RunBackupBrt(*session);
    EXPECT_EQ(-1, FlowResultCode(outcome));
    EXPECT_EQ(Cause::FileMissing, outcome.cause);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ((Line{"Open Csv file failed", -1}), lines[lines.size() - 2]);
    EXPECT_EQ((Line{"BackupBrt Failed!!", -1}), lines.back());
    EXPECT_FALSE(std::filesystem::exists(dir.File("out.brt")));
}

TEST_F(NvSessionBackup, DiagFailureEndsWithItsResult) {
    link->diagResult = kPacketModeIsDL;
    session->SetCsvBrtPaths(dir.File("items.csv").c_str(), dir.File("out.brt").c_str());
    const FlowOutcome outcome = RunBackupBrt(*session);
    EXPECT_EQ(kPacketModeIsDL, FlowResultCode(outcome));
    EXPECT_EQ(Cause::ModeSwitchFailed, outcome.cause);
    EXPECT_EQ((Line{"Change to DIAG Mode Failed!!", -1}), lines.back());
    EXPECT_TRUE(device.requests.empty());
}

// A device that answers "bad command" to every read (naming the item, or
// always the first one), and a channel that refuses every write: nothing can
// be read, so the backup fails, refused by the device or for want of an answer.
TEST_F(NvSessionBackup, DeviceThatCannotBeReadFailsTheBackup) {
    test::WriteText(dir.File("items.csv"), "h\na;1\nb;2\n");
    session->SetCsvBrtPaths(dir.File("items.csv").c_str(), dir.File("out.brt").c_str());
    const auto badCommand = [](const Bytes& r) { return test::DeviceReply{0, Bytes{0x13, r[0], r[1], r[2]}}; };
    const auto badCommandOfFirst = [](const Bytes&) { return test::DeviceReply{0, Bytes{0x13, 38, 1, 0}}; };
    const auto writeRefused = [](const Bytes&) { return test::DeviceReply{kPacketWriteRefused, {}}; };
    const std::pair<std::function<test::DeviceReply(const Bytes&)>, Cause> devices[] = {
        {badCommand, Cause::DeviceRefused},
        {badCommandOfFirst, Cause::StoppedAnswering},
        {writeRefused, Cause::StoppedAnswering}};
    for (const auto& [answer, cause] : devices) {
        lines.clear();
        device.device = answer;
        const FlowOutcome outcome = RunBackupBrt(*session);
        EXPECT_EQ(-1, FlowResultCode(outcome));
        EXPECT_EQ(cause, outcome.cause);
        ASSERT_GE(lines.size(), 2u);
        EXPECT_EQ((Line{"Total NvCounts in CSV file =  2, 0 has backuped", 0}), lines[lines.size() - 2]);
        EXPECT_EQ((Line{"BackupBrt Failed!!", -1}), lines.back());
        EXPECT_EQ("close", link->calls.back());
        EXPECT_FALSE(std::filesystem::exists(dir.File("out.brt")));
    }
}

using NvSessionRestore = SessionFixture;

TEST_F(NvSessionRestore, DamagedFileFailsTheRestoreAndSendsNothing) {
    test::WriteBytes(dir.File("bad.brt"), LeBuilder().I32(2).I32(1).Counted({1}).Bytes());
    session->SetCsvBrtPaths(nullptr, dir.File("bad.brt").c_str());
    const FlowOutcome outcome = RunRestoreBrt(*session);
    EXPECT_EQ(-1, FlowResultCode(outcome));
    EXPECT_EQ(Cause::FileDamaged, outcome.cause);
    EXPECT_EQ((Line{"RestoreBrt Failed!!", -1}), lines.back());
    EXPECT_TRUE(device.requests.empty());
    EXPECT_EQ("close", link->calls.back());
}

TEST_F(NvSessionRestore, SuccessLines) {
    test::WriteBytes(dir.File("in.brt"), LeBuilder().I32(1).I32(65546).Counted({1, 2}).Bytes());
    device.script = {NvReply(39, 10, {}, 0)};
    session->SetCsvBrtPaths("", dir.File("in.brt").c_str());
    EXPECT_EQ(1, FlowResultCode(RunRestoreBrt(*session)));
    EXPECT_EQ((Lines{{"Start To RestoreBrt Process...", 0},
                     {"Open ComPort Success!!", 0},
                     {"Change to DIAG Mode Success!!", 0},
                     {"RestoreBrt Counts =  1", 0},
                     {"Total NvCounts in BRT file =  1, 1 has restored", 0},
                     {"RestoreBrt Success!!", 0}}),
              lines);
    EXPECT_EQ((Bytes{39, 10, 0, 1, 2, 0}), Bytes(device.requests[0].begin(), device.requests[0].begin() + 6));
}

using NvSessionItemLists = SessionFixture;

TEST_F(NvSessionItemLists, NothingSentReadsAsFailure) {
    CNV_ItemHolder record;
    record.itemNumber = 1;
    record.SetValue(Bytes{1});
    session->NumberedItems().Add(record);

    link->openResult = kPacketOpenFailed;
    EXPECT_EQ(0, ItemListsResultCode(SendItemLists(*session)));
    EXPECT_EQ((std::vector<std::string>{"open COM5", "close"}), link->calls);

    link->calls.clear();
    link->openResult = 1;
    link->diagResult = kPacketModeUnknown;
    EXPECT_EQ(0, ItemListsResultCode(SendItemLists(*session)));
    EXPECT_EQ((std::vector<std::string>{"open COM5", "diag", "close"}), link->calls);

    link->calls.clear();
    session->SetPortName("");
    EXPECT_EQ(0, ItemListsResultCode(SendItemLists(*session)));
    EXPECT_EQ((std::vector<std::string>{"close"}), link->calls);
    EXPECT_TRUE(device.requests.empty());
    EXPECT_TRUE(lines.empty()) << "the item-list download reports nothing";
}

TEST_F(NvSessionItemLists, RecordsTheLastFailedItem) {
    for (int n : {7, 8}) {
        CNV_ItemHolder record;
        record.itemNumber = n;
        record.SetValue(Bytes{});
        session->NumberedItems().Add(record);
    }
    session->LastFailedItemText() = "old";
    device.script = {NvReply(39, 7, {}, 3), test::Silent()};
    EXPECT_EQ(0, ItemListsResultCode(SendItemLists(*session)));
    EXPECT_EQ(8, session->LastFailedItemId());
    EXPECT_EQ("", session->LastFailedItemText());
    EXPECT_EQ((std::vector<std::string>{"open COM5", "diag", "close"}), link->calls);
    EXPECT_TRUE(lines.empty());
}

class NvSessionItemListsLog : public testsupport::LogFileTest {};

TEST_F(NvSessionItemListsLog, FrameFailuresAreLoggedUnderItsOwnNameAndNotReported) {
    StartWith(5);
    ScriptedExchange device;
    auto owned = std::make_unique<ScriptedLink>(device);
    ScriptedLink& link = *owned;
    CQualCmd session(std::move(owned), Timeouts::WithScale(0.01), [](uint32_t) {});
    session.SetPortName("COM5");
    link.openResult = kPacketOpenFailed;
    EXPECT_EQ(0, ItemListsResultCode(SendItemLists(session)));
    link.openResult = 1;
    link.diagResult = kPacketModeUnknown;
    EXPECT_EQ(0, ItemListsResultCode(SendItemLists(session)));
    EndLog();
    std::vector<std::string> failures;
    for (const auto& line : ReadLines())
        if (line.tag == "<!ER>") failures.push_back(line.rest);
    ASSERT_EQ(2u, failures.size());
    EXPECT_NE(std::string::npos, failures[0].find("COM5\tSendItemLists\tOpen port failed"));
    EXPECT_NE(std::string::npos, failures[1].find("COM5\tSendItemLists\tChange to DIAG mode failed"));
}

TEST(NvExportsWithoutSession, NullHandlesDoNothing) {
    EXPECT_EQ(-1, SetCsvBrtFile(nullptr, "a", "b"));
    EXPECT_EQ(-1, StartBackupBrt(nullptr));
    EXPECT_EQ(-1, StartRestoreBrt(nullptr));
    EXPECT_EQ(0, DuckToNVArray(nullptr, "x"));
    EXPECT_EQ(0, NVArrayToMobile(nullptr));
}

// The exports on the fixture's session, which the registry takes over.
struct NvExports : SessionFixture {
    CQualCmd* s = nullptr;
    FennixHandle handle = nullptr;
    void SetUp() override {
        SessionFixture::SetUp();
        s = session.get();
        handle = RegisterSession(std::move(session));
    }
    void TearDown() override {
        EXPECT_EQ(0, Close(handle));
        SessionFixture::TearDown();
    }
};

TEST_F(NvExports, DuckImportFillsTheSessionLists) {
    test::WriteBytes(dir.File("a.duck"),
                     LeBuilder().I32(5).Counted({1}).I32(-1).CountedText("ARRAY#2").Counted({}).Bytes());
    EXPECT_EQ(1, DuckToNVArray(handle, dir.File("a.duck").c_str()));
    EXPECT_EQ(1, s->NumberedItems().Count());
    EXPECT_EQ(1, s->NamedItems().Count());
    EXPECT_EQ(0, DuckToNVArray(handle, nullptr));
    EXPECT_EQ(0, s->NumberedItems().Count() + s->NamedItems().Count());
    EXPECT_EQ(0, SetCsvBrtFile(handle, "x.csv", nullptr));
    EXPECT_EQ("x.csv", s->CsvPath());
    EXPECT_EQ("", s->BrtPath());
}

TEST_F(NvExports, FlowsRunOnTheSessionAndTellTheirStagesAndEnd) {
    test::EventLog events;
    EXPECT_EQ(0, SetEventCallback(handle, test::EventLog::Receive, &events));
    const auto expectEnd = [&](std::vector<std::string> stages, int32_t result, const char* causeKey) {
        EXPECT_EQ(stages, events.Stages());
        EXPECT_EQ(result, events.End().result);
        EXPECT_EQ(causeKey, events.End().causeKey);
        events.events.clear();
    };
    test::WriteText(dir.File("items.csv"), "h\n");
    EXPECT_EQ(0, SetCsvBrtFile(handle, dir.File("items.csv").c_str(), dir.File("out.brt").c_str()));
    EXPECT_EQ(1, StartBackupBrt(handle));
    expectEnd({"open", "mode-switch", "file", "nv-item", "file"}, 1, "none");
    EXPECT_EQ(1, StartRestoreBrt(handle));
    expectEnd({"open", "mode-switch", "file", "nv-item"}, 1, "none");
    EXPECT_EQ((Line{"RestoreBrt Success!!", 0}), lines.back());
    EXPECT_EQ(1, NVArrayToMobile(handle)) << "empty lists: nothing to send, nothing failed";
    expectEnd({"open", "mode-switch", "nv-item"}, 1, "none");
    link->openResult = kPacketOpenFailed;
    EXPECT_EQ(0, NVArrayToMobile(handle));
    expectEnd({"open"}, 0, "port-missing");
    EXPECT_EQ(-1, StartRestoreBrt(handle));
    expectEnd({"open"}, -1, "port-missing");
}

}  // namespace
}  // namespace fennix
