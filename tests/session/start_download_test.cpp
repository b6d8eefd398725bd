// StartDownload from end to end against the scripted device: lines, results,
// what reaches the device and what it ends up holding.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "session/SessionBench.h"

namespace fennix::test {
namespace {

struct ImageSet {
    TempDir dir;
    std::vector<uint8_t> programmer = Pattern(2500, 1), partition = Pattern(300, 2), pbl = Pattern(3000, 3),
                         qcsblhd = Pattern(700, 4), qcsbl = Pattern(5000, 5), oemsblhd = Pattern(40, 6),
                         oemsbl = Pattern(4096, 7), amsshd = Pattern(40, 8), amss = Pattern(20000, 9),
                         cefs = Pattern(6000, 10);
    std::string Hex() const { return dir.WriteText("NPRG6280.HEX", HexText(0x0010, programmer)); }
    std::string P(const char* name, const std::vector<uint8_t>& bytes) const { return dir.Write(name, bytes); }
    void Apply(CQualCmd& s) const {
        s.SetProgrammerPath(Hex().c_str());
        s.SetImagePaths(P("partition.mbn", partition).c_str(), nullptr, P("pbl.mbn", pbl).c_str(),
                        P("qcsblhd_cfgdata.mbn", qcsblhd).c_str(), P("qcsbl.mbn", qcsbl).c_str(),
                        P("oemsblhd.mbn", oemsblhd).c_str(), P("oemsbl.mbn", oemsbl).c_str(),
                        P("amsshd.mbn", amsshd).c_str(), P("amss.mbn", amss).c_str(), P("cefs.mbn", cefs).c_str());
    }
};

std::vector<std::string> WithoutPercent(const std::vector<Line>& lines) {
    std::vector<std::string> out;
    for (const auto& l : lines)
        if (l.text.find("% completed.") == std::string::npos) out.push_back(l.text);
    return out;
}

const std::vector<std::string> kUpToImages = {"Start To Download Process...", "Open ComPort Success!!",
                                              "Change to DL Mode Success!!",  "Test Communication Success!!",
                                              "Request Parameter !!",         "Open HEX File Success!!",
                                              "Download HEX File Success!!",  "Hello Success!!",
                                              "Send Security Success!!",      "Download Partition.mbn File Success!!"};

std::vector<std::string> Concat(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(StartDownload, FlashesEveryImageInOrderAndSkipsTheCheckWhenAsked) {
    SessionBench b;
    ImageSet set;
    set.Apply(*b.session);
    b.session->SetSkipCheck();

    EXPECT_EQ(1, FlowResultCode(b.session->StartDownload()));
    EXPECT_EQ(Concat(kUpToImages,
                     {"Download PBL File Success!!", "Download QCSBLHD File Success!!", "Download QCSBL File Success!!",
                      "Download OEMSBLHD and OEMSBL File Success!!", "Download AMSSHD and AMSS File Success!!",
                      "Download CEFS File Success!!", "Reset !! Please Wait....", "Skip Checking POWER_ON Status...!!",
                      "Download Process Success!!"}),
              WithoutPercent(RecordedLines()));
    for (const auto& l : RecordedLines()) EXPECT_EQ(0, l.status) << l.text;

    const FakeDevice& d = *b.device;
    EXPECT_EQ((std::vector<int>{1, 2, 3, 4, 5, 9}), d.ImageTypesOpened());
    EXPECT_EQ(set.pbl, d.Image(1)->bytes);
    EXPECT_EQ(set.qcsblhd, d.Image(2)->bytes);
    EXPECT_EQ(set.qcsbl, d.Image(3)->bytes);
    EXPECT_EQ(set.oemsbl, d.Image(4)->bytes);
    EXPECT_EQ(set.oemsblhd, d.Image(4)->header);
    EXPECT_EQ(set.amss, d.Image(5)->bytes);
    EXPECT_EQ(set.amsshd, d.Image(5)->header);
    EXPECT_EQ(set.cefs, d.Image(9)->bytes);
    EXPECT_TRUE(d.Image(1)->header.empty());
    for (const auto& image : d.images) EXPECT_TRUE(image.committed);
    EXPECT_EQ(set.partition, d.partitionTable);
    EXPECT_EQ(0, d.securityMode);
    EXPECT_EQ(1, d.resets);
    EXPECT_EQ(2u, d.CallsOf(kHello).size());
    EXPECT_EQ(1, d.Count(LinkCall::Open));
    EXPECT_EQ(LinkCall::Close, d.calls.back().kind);
    EXPECT_EQ(std::vector<uint32_t>{20000}, d.pauses);
    EXPECT_EQ(0, d.Count(LinkCall::IsDIAG));
}

TEST(StartDownload, PowerOnCheckRunsByDefaultAndPasses) {
    SessionBench b;
    ImageSet set;
    set.Apply(*b.session);

    EXPECT_EQ(1, FlowResultCode(b.session->StartDownload()));
    const auto lines = RecordedLines();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ((Line{"Reset !! Please Wait....", 0}), lines[lines.size() - 3]);
    EXPECT_EQ((Line{"", 0}), lines[lines.size() - 2]);
    EXPECT_EQ((Line{"Download Process Success!!", 0}), lines.back());

    // After the reset: close, reopen, pause, wait for DIAG, loopback, close.
    const auto& calls = b.device->calls;
    auto reset = std::find_if(calls.rbegin(), calls.rend(), [](const LinkCall& c) { return c.cmd == kReset; });
    ASSERT_NE(reset, calls.rend());
    std::vector<LinkCall::Kind> after;
    for (auto it = reset.base(); it != calls.end(); ++it) after.push_back(it->kind);
    EXPECT_EQ((std::vector<LinkCall::Kind>{LinkCall::Close, LinkCall::Open, LinkCall::IsDIAG, LinkCall::DIAG,
                                           LinkCall::Close}),
              after);
    const auto loop = b.device->CallsOf(kLoopback).at(0);
    EXPECT_THAT(loop.request, ::testing::ElementsAre(0x7B, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9));
    EXPECT_EQ(11u, loop.capacity);
    EXPECT_EQ(5000u, loop.wait);
    EXPECT_EQ(std::vector<uint32_t>{10000}, b.device->pauses);
}

TEST(StartDownload, PowerOnCheckFailsWhenTheDeviceDoesNotAnswerTheLoopback) {
    for (auto answer : {Answer::None(), Answer::With({0x13, 0x7B})}) {
        SessionBench b;
        ImageSet set;
        set.Apply(*b.session);
        b.device->script = [answer](int cmd, const std::vector<uint8_t>&, int) {
            return cmd == kLoopback ? answer : Answer::Usual();
        };
        EXPECT_EQ(-1, FlowResultCode(b.session->StartDownload()));
        EXPECT_EQ((Line{"Download Process Failed!!", -1}), RecordedLines().back());
        EXPECT_EQ((Line{"Reset !! Please Wait....", 0}), RecordedLines()[RecordedLines().size() - 2]);
        EXPECT_EQ(1, b.device->Count(LinkCall::Drain));
        EXPECT_EQ(LinkCall::Close, b.device->calls.back().kind);
    }
}

// A device still answering in download mode right after its reset has not
// rebooted yet: it is waited for (up to another power-on pause), not failed.
TEST(StartDownload, PowerOnCheckWaitsForADeviceStillInDownloadModeAfterTheReset) {
    for (int stillDownloading : {2, 100}) {
        SessionBench b;
        ImageSet set;
        set.Apply(*b.session);
        b.device->diagStillDownloading = stillDownloading;
        const bool back = stillDownloading == 2;
        EXPECT_EQ(back ? 1 : -1, FlowResultCode(b.session->StartDownload())) << stillDownloading;
        const int polls = back ? 2 : 10000 / 700;
        EXPECT_EQ(polls + 1, b.device->Count(LinkCall::IsDIAG));
        std::vector<uint32_t> pauses(polls + 1, 700);
        pauses[0] = 10000;
        EXPECT_EQ(pauses, b.device->pauses);
        EXPECT_EQ((Line{back ? "Download Process Success!!" : "Download Process Failed!!", back ? 0 : -1}),
                  RecordedLines().back());
    }
}

TEST(StartDownload, PartitionOnlySessionSendsSecurityModeOneAndNoImage) {
    SessionBench b;
    ImageSet set;
    b.session->SetProgrammerPath(set.Hex().c_str());
    b.session->SetImagePaths(set.P("partition.mbn", set.partition).c_str(), nullptr, nullptr, nullptr, nullptr, nullptr,
                             nullptr, nullptr, nullptr, nullptr);
    b.session->SetSkipCheck();

    EXPECT_EQ(1, FlowResultCode(b.session->StartDownload()));
    EXPECT_EQ(1, b.device->securityMode);
    EXPECT_EQ(set.partition, b.device->partitionTable);
    EXPECT_TRUE(b.device->images.empty());
    EXPECT_EQ(Concat(kUpToImages,
                     {"Reset !! Please Wait....", "Skip Checking POWER_ON Status...!!", "Download Process Success!!"}),
              Texts(RecordedLines()));
    EXPECT_EQ(std::vector<uint32_t>{20000}, b.device->pauses);
}

TEST(StartDownload, EmptyPartitionPathEndsQuietlyAfterSecurityWithAReset) {
    SessionBench b;
    ImageSet set;
    set.Apply(*b.session);
    b.session->SetImagePaths("", nullptr, set.P("pbl.mbn", set.pbl).c_str(), nullptr, nullptr, nullptr, nullptr,
                             nullptr, nullptr, nullptr);

    EXPECT_EQ(1, FlowResultCode(b.session->StartDownload()));
    EXPECT_EQ("Send Security Success!!", RecordedLines().back().text);
    EXPECT_EQ(1, b.device->resets);
    EXPECT_TRUE(b.device->CallsOf(kPartition).empty());
    EXPECT_TRUE(b.device->images.empty());
    EXPECT_EQ(LinkCall::Close, b.device->calls.back().kind);
}

TEST(StartDownload, AmssFailureStopsBeforeCefsWithoutAResetLine) {
    SessionBench b;
    ImageSet set;
    set.Apply(*b.session);
    // The AMSS body is 20 blocks; the device stops answering at the sixth.
    bool inAmss = false;
    int amssBlocks = 0;
    b.device->script = [&](int cmd, const std::vector<uint8_t>& r, int) {
        if (cmd == kOpenImage) inAmss = r[1] == 5;
        if (cmd == kStreamWrite && inAmss && ++amssBlocks > 5) return Answer::None();
        return Answer::Usual();
    };

    EXPECT_EQ(kPacketTimeout, FlowResultCode(b.session->StartDownload()));
    const auto lines = RecordedLines();
    EXPECT_EQ((Line{"Download AMSSHD and AMSS File Failed!!", -1}), lines.back());
    EXPECT_EQ((Line{"  25 % completed.", 0}), lines[lines.size() - 2]);  // 5 of 20 blocks
    EXPECT_EQ("Download OEMSBLHD and OEMSBL File Success!!", WithoutPercent(lines)[WithoutPercent(lines).size() - 2]);
    EXPECT_EQ(nullptr, b.device->Image(9));
    EXPECT_FALSE(b.device->Image(5)->committed);
    for (const auto& l : lines) EXPECT_NE("Reset !! Please Wait....", l.text);
    // The reset after the failure goes to the closed port and never reaches the device.
    EXPECT_EQ(0, b.device->resets);
    EXPECT_EQ(LinkCall::Close, b.device->calls.back().kind);
}

TEST(StartDownload, OemsblFailureHasNoLineOfItsOwn) {
    SessionBench b;
    ImageSet set;
    set.Apply(*b.session);
    b.device->script = [](int cmd, const std::vector<uint8_t>& r, int) {
        return cmd == kOpenImage && r[1] == 4 ? Answer::With({0x0E, 0x00}) : Answer::Usual();
    };
    EXPECT_EQ(-1, FlowResultCode(b.session->StartDownload()));
    EXPECT_EQ((Line{"Download QCSBL File Success!!", 0}), RecordedLines().back());
    EXPECT_EQ(nullptr, b.device->Image(5));
}

TEST(StartDownload, FailedFinalResetGivesMinusTwo) {
    SessionBench b;
    ImageSet set;
    set.Apply(*b.session);
    b.device->script = [](int cmd, const std::vector<uint8_t>&, int) {
        return cmd == kReset ? Answer::None() : Answer::Usual();
    };
    EXPECT_EQ(-2, FlowResultCode(b.session->StartDownload()));
    const auto lines = RecordedLines();
    EXPECT_EQ((Line{"Reset !! Please Wait....", 0}), lines[lines.size() - 2]);
    EXPECT_EQ((Line{"Reset Failed....", -1}), lines.back());
    EXPECT_EQ(LinkCall::Close, b.device->calls.back().kind);
    EXPECT_TRUE(b.device->pauses.empty());
}

TEST(StartDownload, PairsWithoutTheirHeaderAreSkippedSilently) {
    SessionBench b;
    ImageSet set;
    b.session->SetProgrammerPath(set.Hex().c_str());
    b.session->SetImagePaths(set.P("partition.mbn", set.partition).c_str(), nullptr, nullptr, nullptr, nullptr, "",
                             set.P("oemsbl.mbn", set.oemsbl).c_str(), nullptr, set.P("amss.mbn", set.amss).c_str(),
                             nullptr);
    b.session->SetSkipCheck();
    EXPECT_EQ(1, FlowResultCode(b.session->StartDownload()));
    EXPECT_TRUE(b.device->images.empty());
    EXPECT_EQ(Concat(kUpToImages,
                     {"Reset !! Please Wait....", "Skip Checking POWER_ON Status...!!", "Download Process Success!!"}),
              Texts(RecordedLines()));
}

TEST(StartDownload, AllNineStepsRunInTableOrderWithTheirLines) {
    SessionBench b;
    ImageSet set;
    set.Apply(*b.session);
    b.session->SetImagePaths(set.P("partition.mbn", set.partition).c_str(), set.P("obl.mbn", Pattern(10, 1)).c_str(),
                             set.P("pbl.mbn", set.pbl).c_str(), set.P("q1", set.qcsblhd).c_str(),
                             set.P("q2", set.qcsbl).c_str(), set.P("o1", set.oemsblhd).c_str(),
                             set.P("o2", set.oemsbl).c_str(), set.P("a1", set.amsshd).c_str(),
                             set.P("a2", set.amss).c_str(), set.P("c", set.cefs).c_str());
    b.session->SetAmssBootPaths(set.P("ab", Pattern(50, 1)).c_str(), set.P("abhd", Pattern(20, 2)).c_str());
    b.session->SetWindowsMobilePath(set.P("wm", Pattern(60, 3)).c_str());
    b.session->SetSkipCheck();

    EXPECT_EQ(1, FlowResultCode(b.session->StartDownload()));
    EXPECT_EQ((std::vector<int>{7, 1, 2, 3, 4, 5, 10, 12, 9}), b.device->ImageTypesOpened());
    EXPECT_EQ(Pattern(20, 2), b.device->Image(10)->header);
    EXPECT_EQ(Concat(kUpToImages,
                     {"Download OBL File Success!!", "Download PBL File Success!!", "Download QCSBLHD File Success!!",
                      "Download QCSBL File Success!!", "Download OEMSBLHD and OEMSBL File Success!!",
                      "Download AMSSHD and AMSS File Success!!", "Download AMSSHDBOOTHD and AMSSBOOT File Success!!",
                      "Download Windows Mobile File Success!!", "Download CEFS File Success!!",
                      "Reset !! Please Wait....", "Skip Checking POWER_ON Status...!!", "Download Process Success!!"}),
              WithoutPercent(RecordedLines()));
}

struct StepFailure {
    int cmd;
    const char* line;
};

TEST(StartDownload, EachStreamingStepFailureResetsClosesAndReportsItsLine) {
    for (auto failure : {StepFailure{kHello, "Hello Failed!!"}, StepFailure{kSecurity, "Send Security Failed!!"},
                         StepFailure{kPartition, "Download Partition.mbn File Failed!!"}}) {
        SessionBench b;
        ImageSet set;
        set.Apply(*b.session);
        b.device->script = [failure](int cmd, const std::vector<uint8_t>&, int) {
            return cmd == failure.cmd ? Answer::None() : Answer::Usual();
        };
        EXPECT_EQ(kPacketTimeout, FlowResultCode(b.session->StartDownload())) << failure.line;
        EXPECT_EQ((Line{failure.line, -1}), RecordedLines().back());
        EXPECT_EQ(LinkCall::Close, b.device->calls.back().kind);
        EXPECT_EQ(1u, b.device->CallsOf(kReset).size()) << failure.line;
        EXPECT_TRUE(b.device->images.empty());
    }
}

TEST(StartDownload, OnlyTheSecondHelloCounts) {
    SessionBench b;
    ImageSet set;
    set.Apply(*b.session);
    b.session->SetSkipCheck();
    b.device->script = [](int cmd, const std::vector<uint8_t>&, int index) {
        return cmd == kHello && index == 0 ? Answer::None() : Answer::Usual();
    };
    EXPECT_EQ(1, FlowResultCode(b.session->StartDownload()));
    EXPECT_EQ(2u, b.device->CallsOf(kHello).size());
}

TEST(StartDownload, ProgrammerFailureEndsBeforeAnyHello) {
    SessionBench b;
    ImageSet set;
    set.Apply(*b.session);
    b.session->SetProgrammerPath("/no/such/NPRG.HEX");
    EXPECT_EQ(-1, FlowResultCode(b.session->StartDownload()));
    EXPECT_TRUE(b.device->CallsOf(kHello).empty());
    EXPECT_EQ((Line{"Download HEX File Failed!!", -1}), RecordedLines().back());
    EXPECT_EQ(1, b.device->Count(LinkCall::Close));
}

}  // namespace
}  // namespace fennix::test
