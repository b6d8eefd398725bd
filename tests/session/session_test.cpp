// The session object: initial values, setters, the flow frame shared by every
// flow, and the exports' handling of a missing session.
#include <gtest/gtest.h>

#include "session/SessionBench.h"

namespace fennix::test {
namespace {

TEST(Session, NewSessionHasTheDefaultPathsAndTheCheckEnabled) {
    SessionBench b;
    const CQualCmd& s = *b.session;
    EXPECT_EQ(".\\partition.mbn", s.DownloadSetup().partition);
    EXPECT_EQ(".\\pbl.mbn", s.DownloadSetup().pbl);
    EXPECT_EQ(".\\qcsbl.mbn", s.DownloadSetup().qcsbl);
    EXPECT_EQ(".\\qcsblhd_cfgdata.mbn", s.DownloadSetup().qcsblhd);
    EXPECT_EQ(".\\oemsbl.mbn", s.DownloadSetup().oemsbl);
    EXPECT_EQ(".\\oemsblhd.mbn", s.DownloadSetup().oemsblhd);
    EXPECT_EQ(".\\amss.mbn", s.DownloadSetup().amss);
    EXPECT_EQ(".\\amsshd.mbn", s.DownloadSetup().amsshd);
    EXPECT_EQ("", s.DownloadSetup().obl);
    EXPECT_EQ("", s.DownloadSetup().cefs);
    EXPECT_EQ("", s.DownloadSetup().programmer);
    EXPECT_EQ("", s.CsvPath());
    EXPECT_EQ("", s.BrtPath());
    EXPECT_FALSE(s.DownloadSetup().skipCheck);
}

TEST(Session, SetImagePathsReplacesAllTenIncludingTheDefaults) {
    SessionBench b;
    CQualCmd& s = *b.session;
    s.SetImagePaths("p", "o", "pb", "qh", "q", "oh", "oe", "ah", "a", "c");
    EXPECT_EQ("p", s.DownloadSetup().partition);
    EXPECT_EQ("o", s.DownloadSetup().obl);
    EXPECT_EQ("c", s.DownloadSetup().cefs);
    s.SetImagePaths("p2", nullptr, "", nullptr, nullptr, nullptr, nullptr, nullptr, "a2", nullptr);
    EXPECT_EQ("p2", s.DownloadSetup().partition);
    EXPECT_EQ("", s.DownloadSetup().obl);
    EXPECT_EQ("", s.DownloadSetup().pbl);
    EXPECT_EQ("", s.DownloadSetup().amsshd);
    EXPECT_EQ("a2", s.DownloadSetup().amss);
    EXPECT_EQ("", s.DownloadSetup().cefs);
    s.SetCsvBrtPaths("items.csv", nullptr);
    EXPECT_EQ("items.csv", s.CsvPath());
    EXPECT_EQ("", s.BrtPath());
    s.SetSkipCheck();
    s.SetSkipCheck();
    EXPECT_TRUE(s.DownloadSetup().skipCheck);
}

TEST(FlowFrame, EmptyPortNameTouchesNothingAndIsNotASuccess) {
    SessionBench b;
    b.session->SetPortName(nullptr);
    bool bodyRan = false;
    EXPECT_EQ(-1, FlowResultCode(b.session->RunFlow(CQualCmd::Flow::Download, [&] {
        bodyRan = true;
        return FlowOutcome::Success();
    })));
    EXPECT_FALSE(bodyRan);
    EXPECT_EQ((std::vector<Line>{{"Please Select ComPort..", 0}, {"Open ComPort Failed!!", -1}}), RecordedLines());
    EXPECT_TRUE(b.device->calls.empty());
    EXPECT_EQ(-1, FlowResultCode(b.session->StartDownload()));
}

TEST(FlowFrame, PortThatCannotBeOpenedIsClosedAndReported) {
    SessionBench b;
    b.device->openResult = kPacketOpenFailed;
    EXPECT_EQ(-1, FlowResultCode(b.session->StartDownload()));
    EXPECT_EQ((std::vector<Line>{{"Start To Download Process...", 0}, {"Open ComPort Failed!!", -1}}), RecordedLines());
    ASSERT_EQ(2u, b.device->calls.size());
    EXPECT_EQ("COM5", std::string(b.device->calls[0].request.begin(), b.device->calls[0].request.end()));
    EXPECT_EQ(LinkCall::Close, b.device->calls[1].kind);
}

TEST(FlowFrame, ModeChangeFailurePassesItsCodeThrough) {
    SessionBench b;
    b.device->dlResult = kPacketModeUnknown;
    EXPECT_EQ(kPacketModeUnknown, FlowResultCode(b.session->StartDownload()));
    EXPECT_EQ(
        (std::vector<Line>{
            {"Start To Download Process...", 0}, {"Open ComPort Success!!", 0}, {"Change to DL Mode Failed!!", -1}}),
        RecordedLines());
    EXPECT_EQ(LinkCall::Close, b.device->calls.back().kind);
    EXPECT_EQ(0, b.device->Count(LinkCall::DL));
}

TEST(FlowFrame, NvFlowsUseTheirStartTextsAndDiagMode) {
    struct Case {
        CQualCmd::Flow flow;
        const char* start;
    };
    for (auto c : {Case{CQualCmd::Flow::BackupBrt, "Start To BackupBrt Process..."},
                   Case{CQualCmd::Flow::RestoreBrt, "Start To RestoreBrt Process..."}}) {
        SessionBench b;
        int bodyResult = 0;
        const FlowOutcome outcome = b.session->RunFlow(c.flow, [&] {
            // The body talks DIAG on the open port.
            uint8_t loop[2] = {0x7B, 1}, reply[2] = {};
            bodyResult = b.session->Link().DIAGTxRx(loop, 2, reply, 2, 5000).LengthOrCode();
            return FlowOutcome::LinkFailure(kPacketTimeout, Cause::StoppedAnswering);
        });
        EXPECT_EQ(kPacketTimeout, FlowResultCode(outcome));
        EXPECT_EQ(Cause::StoppedAnswering, outcome.cause);
        EXPECT_EQ(2, bodyResult);
        EXPECT_EQ(
            (std::vector<Line>{{c.start, 0}, {"Open ComPort Success!!", 0}, {"Change to DIAG Mode Success!!", 0}}),
            RecordedLines());
        EXPECT_EQ(1, b.device->Count(LinkCall::IsDIAG));
        EXPECT_EQ(0, b.device->Count(LinkCall::IsDL));
        EXPECT_EQ(LinkCall::Close, b.device->calls.back().kind);  // closed by the frame
    }
    SessionBench b;
    b.device->diagResult = kPacketModeIsDL;
    EXPECT_EQ(kPacketModeIsDL,
              FlowResultCode(b.session->RunFlow(CQualCmd::Flow::BackupBrt, [] { return FlowOutcome::Success(); })));
    EXPECT_EQ((Line{"Change to DIAG Mode Failed!!", -1}), RecordedLines().back());
}

TEST(FlowFrame, PortIsClosedWhenTheBodyThrows) {
    SessionBench b;
    EXPECT_THROW(b.session->RunFlow(CQualCmd::Flow::RestoreBrt, []() -> FlowOutcome { throw std::runtime_error("x"); }),
                 std::runtime_error);
    EXPECT_EQ(LinkCall::Close, b.device->calls.back().kind);
}

TEST(FlowFrame, WithoutCallbackTheFlowRunsSilently) {
    SessionBench b;
    TempDir dir;
    b.session->SetCallback(nullptr);
    b.session->SetProgrammerPath(dir.WriteText("p.hex", HexText(0x0010, Pattern(100, 1))).c_str());
    b.session->SetImagePaths(dir.Write("part.mbn", Pattern(50, 2)).c_str(), nullptr, nullptr, nullptr, nullptr, nullptr,
                             nullptr, nullptr, nullptr, dir.Write("cefs.mbn", Pattern(3000, 3)).c_str());
    EXPECT_EQ(1, FlowResultCode(b.session->StartDownload()));
    EXPECT_TRUE(RecordedLines().empty());
    EXPECT_EQ(Pattern(3000, 3), b.device->Image(9)->bytes);
}

}  // namespace
}  // namespace fennix::test
