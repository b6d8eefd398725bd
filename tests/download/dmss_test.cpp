// Programmer stage: the NOP test, the parameter request, the upload of the
// programmer in 1017-byte writes and go.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "download/FakeSessionLink.h"

namespace fennix::test {
namespace {

using ::testing::ElementsAre;

int CountLines(const std::string& text) {
    int n = 0;
    for (const auto& l : RecordedLines()) n += l.text == text;
    return n;
}

TEST(ProgrammerStage, SendsTenNopsEvenWhenEveryOneIsAnswered) {
    DownloadBench b;
    TempDir dir;
    b.settings.programmer = dir.WriteText("prg.hex", HexText(0x0010, Pattern(100, 1)));
    EnterDownloadMode(b);

    EXPECT_EQ(StepResult::Done(), b.dmss.RunProgrammerStage(b.settings.programmer));
    const auto nops = b.device->CallsOf(kNop);
    ASSERT_EQ(10u, nops.size());
    for (const auto& c : nops) {
        EXPECT_EQ(std::vector<uint8_t>{0x06}, c.request);
        EXPECT_EQ(5000u, c.wait);
        EXPECT_EQ(10u, c.capacity);
    }
    EXPECT_EQ(0, CountLines("Test Communication, Try again.."));
    EXPECT_TRUE(b.device->pauses.empty());
    EXPECT_EQ((std::vector<std::string>{"Test Communication Success!!", "Request Parameter !!",
                                        "Open HEX File Success!!", "Download HEX File Success!!"}),
              Texts(RecordedLines()));
}

TEST(ProgrammerStage, SixLostNopsGiveSixRetryLinesWithPausesAndTheStageGoesOn) {
    DownloadBench b;
    TempDir dir;
    b.settings.programmer = dir.WriteText("prg.hex", HexText(0x0010, Pattern(100, 1)));
    b.device->script = [](int cmd, const std::vector<uint8_t>&, int index) {
        return cmd == kNop && index < 6 ? Answer::None() : Answer::Usual();
    };
    EnterDownloadMode(b);

    EXPECT_EQ(StepResult::Done(), b.dmss.RunProgrammerStage(b.settings.programmer));
    EXPECT_EQ(10u, b.device->CallsOf(kNop).size());
    EXPECT_EQ(6, CountLines("Test Communication, Try again.."));
    EXPECT_EQ(std::vector<uint32_t>(6, 1000), b.device->pauses);
    // Each retry line has status 0 and comes before the success line.
    EXPECT_EQ((Line{"Test Communication, Try again..", 0}), RecordedLines().at(5));
    EXPECT_EQ((Line{"Test Communication Success!!", 0}), RecordedLines().at(6));
    EXPECT_EQ(0x0010, b.device->goSegment);
}

TEST(ProgrammerStage, OnlyTheTenthNopCounts) {
    DownloadBench b;
    b.device->script = [](int cmd, const std::vector<uint8_t>&, int index) {
        return cmd == kNop && index == 9 ? Answer::None() : Answer::Usual();
    };
    EnterDownloadMode(b);

    EXPECT_EQ(StepResult::Failed(), b.dmss.RunProgrammerStage(b.settings.programmer));
    EXPECT_EQ(1, CountLines("Test Communication, Try again.."));
    EXPECT_EQ((Line{"Test Communication Failed!!", -1}), RecordedLines().back());
    EXPECT_TRUE(b.device->CallsOf(kParams).empty());
    EXPECT_EQ(LinkCall::Close, b.device->calls.back().kind);
}

TEST(ProgrammerStage, RefusedNopCountsAsFailureAndIsDrained) {
    DownloadBench b;
    b.device->script = [](int cmd, const std::vector<uint8_t>&, int) {
        return cmd == kNop ? Answer::With({0x03, 0x00, 0x01}) : Answer::Usual();
    };
    EnterDownloadMode(b);
    EXPECT_EQ(StepResult::Failed(), b.dmss.TestCommunication());
    EXPECT_EQ(LinkCall::Drain, b.device->calls.back().kind);
    EXPECT_EQ(4096u, b.device->calls.back().capacity);
    EXPECT_EQ(1024u, b.device->calls.back().wait);  // the fake keeps the frame limit here
}

TEST(ProgrammerUpload, TwoThousandBytesGoOutAs1017And983ThenGoWithTheSegment) {
    DownloadBench b;
    TempDir dir;
    const auto data = Pattern(2000, 7);
    b.settings.programmer = dir.WriteText("NPRG6280.HEX", HexText(0x0010, data));
    EnterDownloadMode(b);
    EXPECT_EQ(0, b.dmss.StartSegment());

    EXPECT_EQ(StepResult::Done(), b.dmss.RunProgrammerStage(b.settings.programmer));
    const auto writes = b.device->CallsOf(kWrite32);
    ASSERT_EQ(2u, writes.size());
    // 0F, address big-endian, length big-endian, data.
    EXPECT_THAT(std::vector<uint8_t>(writes[0].request.begin(), writes[0].request.begin() + 7),
                ElementsAre(0x0F, 0x00, 0x10, 0x00, 0x00, 0x03, 0xF9));
    EXPECT_EQ(1024u, writes[0].request.size());
    EXPECT_THAT(std::vector<uint8_t>(writes[1].request.begin(), writes[1].request.begin() + 7),
                ElementsAre(0x0F, 0x00, 0x10, 0x03, 0xF9, 0x03, 0xD7));
    EXPECT_EQ(7u + 983u, writes[1].request.size());

    std::vector<uint8_t> uploaded;
    for (const auto& [address, bytes] : b.device->ram) uploaded.insert(uploaded.end(), bytes.begin(), bytes.end());
    EXPECT_EQ(data, uploaded);

    const auto go = b.device->CallsOf(kGo);
    ASSERT_EQ(1u, go.size());
    EXPECT_THAT(go[0].request, ElementsAre(0x05, 0x00, 0x10, 0x00, 0x00));
    EXPECT_EQ(0x0010, b.dmss.StartSegment());
}

TEST(ProgrammerUpload, DataEndingOnABlockBoundaryEndsWithAnEmptyWrite) {
    DownloadBench b;
    TempDir dir;
    // 1017 bytes in records of 9 x 113 would not split; use 32-byte records.
    b.settings.programmer = dir.WriteText("p.hex", HexText(0x0020, Pattern(1017, 3)));
    EnterDownloadMode(b);

    EXPECT_EQ(StepResult::Done(), b.dmss.DownloadHexFile(b.settings.programmer));
    const auto writes = b.device->CallsOf(kWrite32);
    ASSERT_EQ(2u, writes.size());
    EXPECT_EQ(1024u, writes[0].request.size());
    EXPECT_THAT(writes[1].request, ElementsAre(0x0F, 0x00, 0x20, 0x03, 0xF9, 0x00, 0x00));
}

TEST(ProgrammerUpload, MissingFileReportsBothFailureLines) {
    DownloadBench b;
    b.settings.programmer = "/nonexistent/NPRG.HEX";
    EnterDownloadMode(b);

    EXPECT_EQ(StepResult::Failed(), b.dmss.RunProgrammerStage(b.settings.programmer));
    EXPECT_EQ((Line{"Open HEX File Failed!!", -1}), RecordedLines().at(RecordedLines().size() - 2));
    EXPECT_EQ((Line{"Download HEX File Failed!!", -1}), RecordedLines().back());
    EXPECT_TRUE(b.device->CallsOf(kWrite32).empty());
    EXPECT_TRUE(b.device->CallsOf(kGo).empty());
    EXPECT_EQ(LinkCall::Close, b.device->calls.back().kind);
}

TEST(ProgrammerUpload, LineFeedFileUploadsWhole) {
    DownloadBench b;
    TempDir dir;
    const auto data = Pattern(2000, 5);
    std::string text = HexText(0x0010, data);
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    b.settings.programmer = dir.WriteText("p.hex", text);
    EnterDownloadMode(b);

    EXPECT_EQ(StepResult::Done(), b.dmss.RunProgrammerStage(b.settings.programmer));
    std::vector<uint8_t> uploaded;
    for (const auto& [address, bytes] : b.device->ram) uploaded.insert(uploaded.end(), bytes.begin(), bytes.end());
    EXPECT_EQ(data, uploaded);
}

TEST(ProgrammerUpload, FileThatCannotBeSentWholeWritesNothing) {
    const auto data = Pattern(3000, 9);
    std::string wrongChecksum = HexText(0x0010, data);
    wrongChecksum[wrongChecksum.size() / 2] ^= 1;  // one digit in the middle record
    // Records of 8 bytes (each ends its block), then more data: the upload
    // would stop after the first block.
    const std::string shortRecords = HexText(0x0010, std::vector<uint8_t>(data.begin(), data.begin() + 40), 8);
    const std::string shortRecordInTheMiddle =
        shortRecords.substr(0, shortRecords.size() - 13) + HexText(0x0010, data).substr(17);
    for (const std::string& text : {wrongChecksum, shortRecordInTheMiddle}) {
        DownloadBench b;
        TempDir dir;
        b.settings.programmer = dir.WriteText("p.hex", text);
        EnterDownloadMode(b);

        EXPECT_EQ(StepResult::Failed(), b.dmss.RunProgrammerStage(b.settings.programmer));
        EXPECT_EQ((Line{"Open HEX File Success!!", 0}), RecordedLines().at(RecordedLines().size() - 2));
        EXPECT_EQ((Line{"Download HEX File Failed!!", -1}), RecordedLines().back());
        EXPECT_TRUE(b.device->CallsOf(kWrite32).empty());
        EXPECT_TRUE(b.device->CallsOf(kGo).empty());
    }
}

TEST(ProgrammerStage, UnansweredParameterRequestDoesNotStopTheStage) {
    DownloadBench b;
    TempDir dir;
    b.settings.programmer = dir.WriteText("p.hex", HexText(0x0010, Pattern(50, 2)));
    b.device->script = [](int cmd, const std::vector<uint8_t>&, int) {
        return cmd == kParams ? Answer::None() : Answer::Usual();
    };
    EnterDownloadMode(b);
    EXPECT_EQ(StepResult::Done(), b.dmss.RunProgrammerStage(b.settings.programmer));
    EXPECT_EQ(1u, b.device->CallsOf(kGo).size());
}

TEST(Write32, RetriesALostExchangeOnceButNotARefusal) {
    const uint8_t data[3] = {1, 2, 3};
    {
        DownloadBench b;
        b.device->script = [](int cmd, const std::vector<uint8_t>&, int index) {
            return index == 0 ? Answer::None() : Answer::Usual();
        };
        EnterDownloadMode(b);
        EXPECT_EQ(StepResult::Done(), b.dmss.Write32(0x12345678, data, 3));
        const auto writes = b.device->CallsOf(kWrite32);
        ASSERT_EQ(2u, writes.size());
        EXPECT_EQ(writes[0].request, writes[1].request);
        EXPECT_THAT(writes[0].request, ElementsAre(0x0F, 0x12, 0x34, 0x56, 0x78, 0x00, 0x03, 1, 2, 3));
    }
    {
        DownloadBench b;
        b.device->script = [](int, const std::vector<uint8_t>&, int) { return Answer::None(); };
        EnterDownloadMode(b);
        EXPECT_EQ(kTimedOut, b.dmss.Write32(0, data, 3));
        EXPECT_EQ(2u, b.device->CallsOf(kWrite32).size());
    }
    {
        DownloadBench b;
        b.device->script = [](int, const std::vector<uint8_t>&, int) { return Answer::With({0x03}); };
        EnterDownloadMode(b);
        EXPECT_EQ(StepResult::Failed(), b.dmss.Write32(0, data, 3));
        EXPECT_EQ(1u, b.device->CallsOf(kWrite32).size());
        EXPECT_EQ(1, b.device->Count(LinkCall::Drain));
    }
}

TEST(ProgrammerUpload, FailedWriteEndsTheUploadAtThatBlock) {
    DownloadBench b;
    TempDir dir;
    b.settings.programmer = dir.WriteText("p.hex", HexText(0x0010, Pattern(3000, 5)));
    b.device->script = [](int cmd, const std::vector<uint8_t>&, int index) {
        return cmd == kWrite32 && index == 1 ? Answer::With({0x03}) : Answer::Usual();
    };
    EnterDownloadMode(b);
    EXPECT_EQ(StepResult::Failed(), b.dmss.RunProgrammerStage(b.settings.programmer));
    EXPECT_EQ(2u, b.device->CallsOf(kWrite32).size());
    EXPECT_EQ((Line{"Download HEX File Failed!!", -1}), RecordedLines().back());
    EXPECT_TRUE(b.device->CallsOf(kGo).empty());
}

TEST(Dmss, RequestParameterAndGoPassLostExchangesThrough) {
    DownloadBench b;
    b.device->script = [](int, const std::vector<uint8_t>&, int) { return Answer::None(); };
    EnterDownloadMode(b);
    EXPECT_EQ(kTimedOut, b.dmss.RequestParameter());
    EXPECT_EQ(kTimedOut, b.dmss.Go(0x10));
    EXPECT_EQ(StepResult::Failed(), b.dmss.TestCommunication());
    EXPECT_EQ(8u, b.device->CallsOf(kParams)[0].capacity);
}

}  // namespace
}  // namespace fennix::test
