// Streaming protocol: packets as built, stream-write addressing and retries,
// percentage lines, file-level steps and what they refuse.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "download/FakeSessionLink.h"

namespace fennix::test {
namespace {

using ::testing::ElementsAre;

std::vector<uint32_t> Offsets(const FakeDevice& d) {
    std::vector<uint32_t> out;
    for (const auto& c : d.CallsOf(kStreamWrite))
        out.push_back(c.request[1] | c.request[2] << 8 | c.request[3] << 16 | uint32_t(c.request[4]) << 24);
    return out;
}

std::vector<size_t> BlockSizes(const FakeDevice& d) {
    std::vector<size_t> out;
    for (const auto& c : d.CallsOf(kStreamWrite)) out.push_back(c.request.size() - 5);
    return out;
}

TEST(Streaming, HelloIsThirtySixBytesWithMagicAndVersions) {
    DownloadBench b;
    EnterDownloadMode(b);
    EXPECT_EQ(StepResult::Done(), b.streaming.Hello());
    const auto hello = b.device->CallsOf(kHello).at(0);
    ASSERT_EQ(36u, hello.request.size());
    EXPECT_EQ(0x01, hello.request[0]);
    EXPECT_EQ("QCOM fast download protocol host", std::string(hello.request.begin() + 1, hello.request.begin() + 33));
    EXPECT_THAT(std::vector<uint8_t>(hello.request.end() - 3, hello.request.end()), ElementsAre(3, 3, 9));
    EXPECT_EQ(620u, hello.capacity);
    EXPECT_EQ(5000u, hello.wait);
}

TEST(Streaming, CommandsCheckTheirReplyCodeAndDrainAnotherOne) {
    DownloadBench b;
    b.device->script = [](int cmd, const std::vector<uint8_t>&, int) { return Answer::With({0x0E, 0x01}); };
    EnterDownloadMode(b);
    const uint8_t table[4] = {1, 2, 3, 4};
    EXPECT_EQ(StepResult::Failed(), b.streaming.Hello());
    EXPECT_EQ(kTimedOut, b.streaming.SendSecurity(1));  // 2 bytes do not fit its 1-byte reply
    EXPECT_EQ(StepResult::Failed(), b.streaming.SendPartitionTable(table, 4));
    EXPECT_EQ(StepResult::Failed(), b.streaming.OpenMultiImage(5, nullptr, 0));
    EXPECT_EQ(3, b.device->Count(LinkCall::Drain));
}

TEST(Streaming, RepliesAreMatchedByTheirOwnCodes) {
    DownloadBench b;
    EnterDownloadMode(b);
    const uint8_t table[3] = {9, 8, 7};
    EXPECT_EQ(StepResult::Done(), b.streaming.SendSecurity(0));
    EXPECT_EQ(StepResult::Done(), b.streaming.SendPartitionTable(table, 3));
    EXPECT_EQ(StepResult::Done(), b.streaming.CloseImage());
    EXPECT_EQ(StepResult::Done(), b.streaming.Reset());
    EXPECT_THAT(b.device->CallsOf(kSecurity)[0].request, ElementsAre(0x17, 0x00));
    EXPECT_THAT(b.device->CallsOf(kPartition)[0].request, ElementsAre(0x19, 0x00, 9, 8, 7));
    EXPECT_EQ(15000u, b.device->CallsOf(kCloseImage)[0].wait);
    EXPECT_EQ(5000u, b.device->CallsOf(kReset)[0].wait);
    EXPECT_EQ(0, b.device->Count(LinkCall::Drain));
}

TEST(Streaming, OpenCarriesAHeaderOnlyForOemsblAmssAndAmssBoot) {
    DownloadBench b;
    TempDir dir;
    const auto header = Pattern(80, 4);
    const std::string hd = dir.Write("hd.mbn", header);
    const std::string body = dir.Write("body.mbn", Pattern(10, 5));
    EnterDownloadMode(b);

    for (uint8_t type : {1, 2, 3, 4, 5, 7, 9, 10, 12})
        EXPECT_EQ(StepResult::Done(), b.streaming.DownloadImage(type, body, hd));
    const auto opens = b.device->CallsOf(kOpenImage);
    ASSERT_EQ(9u, opens.size());
    for (const auto& open : opens) {
        const uint8_t type = open.request[1];
        const bool carries = type == 4 || type == 5 || type == 10;
        EXPECT_EQ(carries ? 2 + header.size() : 2u, open.request.size()) << int(type);
        if (carries) {
            EXPECT_EQ(header, std::vector<uint8_t>(open.request.begin() + 2, open.request.end()));
        }
        EXPECT_EQ(type == 9 ? 20000u : 5000u, open.wait) << int(type);
        EXPECT_EQ(2u, open.capacity);
    }
}

TEST(StreamFile, TwoAndAHalfKilobytesGoOutAtConsecutiveOffsetsWithThreePercentLines) {
    DownloadBench b;
    TempDir dir;
    const auto data = Pattern(2560, 11);
    EnterDownloadMode(b);
    ASSERT_EQ(StepResult::Done(), b.streaming.OpenMultiImage(5, nullptr, 0));

    EXPECT_EQ(StepResult::Done(), b.streaming.StreamFile(dir.Write("amss.mbn", data)));
    EXPECT_EQ((std::vector<uint32_t>{0, 1024, 2048}), Offsets(*b.device));
    EXPECT_EQ((std::vector<size_t>{1024, 1024, 512}), BlockSizes(*b.device));
    // Offset 2048 goes out least significant byte first.
    const auto third = b.device->CallsOf(kStreamWrite).at(2).request;
    EXPECT_THAT(std::vector<uint8_t>(third.begin(), third.begin() + 5), ElementsAre(0x07, 0x00, 0x08, 0x00, 0x00));
    EXPECT_EQ((std::vector<Line>{{"  40 % completed.", 0}, {"  80 % completed.", 0}, {" 100 % completed.", 0}}),
              RecordedLines());
    EXPECT_EQ(data, b.device->Image(5)->bytes);
    for (const auto& c : b.device->CallsOf(kStreamWrite)) {
        EXPECT_EQ(500u, c.wait);
        EXPECT_EQ(5u, c.capacity);
    }
}

TEST(StreamFile, WholeBlocksEndWithAnEmptyWriteAfterTheHundredPercentLine) {
    DownloadBench b;
    TempDir dir;
    EnterDownloadMode(b);
    ASSERT_EQ(StepResult::Done(), b.streaming.OpenMultiImage(9, nullptr, 0));
    EXPECT_EQ(StepResult::Done(), b.streaming.StreamFile(dir.Write("cefs.mbn", Pattern(2048, 1))));
    EXPECT_EQ((std::vector<uint32_t>{0, 1024, 2048}), Offsets(*b.device));
    EXPECT_EQ((std::vector<size_t>{1024, 1024, 0}), BlockSizes(*b.device));
    EXPECT_EQ((std::vector<std::string>{"  50 % completed.", " 100 % completed."}), Texts(RecordedLines()));
}

TEST(StreamFile, ManyBlocksGiveEachWholePercentOnce) {
    DownloadBench b;
    TempDir dir;
    EnterDownloadMode(b);
    ASSERT_EQ(StepResult::Done(), b.streaming.OpenMultiImage(5, nullptr, 0));
    EXPECT_EQ(StepResult::Done(), b.streaming.StreamFile(dir.Write("big.mbn", Pattern(300 * 1024 + 17, 2))));
    const auto& lines = RecordedLines();
    ASSERT_EQ(100u, lines.size());
    EXPECT_EQ("   1 % completed.", lines.front().text);
    EXPECT_EQ("  10 % completed.", lines[9].text);
    EXPECT_EQ(" 100 % completed.", lines.back().text);
}

TEST(StreamFile, AnEmptyImageIsOneEmptyWriteAndCompletes) {
    DownloadBench b;
    TempDir dir;
    EnterDownloadMode(b);
    ASSERT_EQ(StepResult::Done(), b.streaming.OpenMultiImage(3, nullptr, 0));
    EXPECT_EQ(StepResult::Done(), b.streaming.StreamFile(dir.Write("empty.mbn", {})));
    EXPECT_EQ((std::vector<uint32_t>{0}), Offsets(*b.device));
    EXPECT_EQ((std::vector<size_t>{0}), BlockSizes(*b.device));
    EXPECT_EQ((std::vector<Line>{{" 100 % completed.", 0}}), RecordedLines());
}

TEST(StreamWrite, MismatchedEchoIsSentOnceMoreThenFails) {
    const uint8_t data[4] = {1, 2, 3, 4};
    {
        DownloadBench b;
        b.device->script = [](int, const std::vector<uint8_t>&, int index) {
            return index == 0 ? Answer::With({0x08, 0x00, 0x04, 0x00, 0x00}) : Answer::Usual();
        };
        EnterDownloadMode(b);
        EXPECT_EQ(StepResult::Done(), b.streaming.StreamWrite(data, 4, 2048));
        EXPECT_EQ(2u, b.device->CallsOf(kStreamWrite).size());
    }
    {
        DownloadBench b;
        b.device->script = [](int, const std::vector<uint8_t>&, int) {
            return Answer::With({0x08, 0x00, 0x04, 0x00, 0x00});
        };
        EnterDownloadMode(b);
        EXPECT_EQ(StepResult::Failed(), b.streaming.StreamWrite(data, 4, 2048));
        EXPECT_EQ(2u, b.device->CallsOf(kStreamWrite).size());
        EXPECT_EQ(0, b.device->Count(LinkCall::Drain));  // the stream write never drains
    }
}

TEST(StreamWrite, LostReplyIsRetriedAndASecondLossPassesTheCodeOn) {
    const uint8_t data[1] = {0x7E};
    {
        DownloadBench b;
        b.device->script = [](int, const std::vector<uint8_t>&, int index) {
            return index == 0 ? Answer::None() : Answer::Usual();
        };
        EnterDownloadMode(b);
        EXPECT_EQ(StepResult::Done(), b.streaming.StreamWrite(data, 1, 1024));
    }
    {
        DownloadBench b;
        b.device->script = [](int, const std::vector<uint8_t>&, int) { return Answer::None(); };
        EnterDownloadMode(b);
        EXPECT_EQ(kTimedOut, b.streaming.StreamWrite(data, 1, 1024));
        ASSERT_EQ(2u, b.device->CallsOf(kStreamWrite).size());
        // The second send waits as long as any request, for a stalled device.
        EXPECT_EQ(500u, b.device->CallsOf(kStreamWrite)[0].wait);
        EXPECT_EQ(5000u, b.device->CallsOf(kStreamWrite)[1].wait);
    }
}

TEST(StreamWrite, RightAddressWithAnotherCodeFailsWithoutASecondTry) {
    DownloadBench b;
    b.device->script = [](int, const std::vector<uint8_t>& r, int) {
        return Answer::With({0x0E, r[1], r[2], r[3], r[4]});
    };
    EnterDownloadMode(b);
    const uint8_t data[2] = {5, 6};
    EXPECT_EQ(StepResult::Failed(), b.streaming.StreamWrite(data, 2, 4096));
    EXPECT_EQ(1u, b.device->CallsOf(kStreamWrite).size());
}

TEST(StreamWrite, LateAnswerAfterARetryIsPassedOverAndTheImageCompletes) {
    const auto data = Pattern(5 * 1024 + 100, 4);
    // A late first answer in the middle, and at the last block (where the
    // second answer meets the close).
    for (int late : {2, 5}) {
        DownloadBench b;
        TempDir dir;
        b.device->script = [late](int cmd, const std::vector<uint8_t>&, int index) {
            return cmd == kStreamWrite && index == late ? Answer::Behind() : Answer::Usual();
        };
        EnterDownloadMode(b);
        EXPECT_EQ(StepResult::Done(), b.streaming.DownloadImage(7, dir.Write("obl.mbn", data), "")) << late;
        ASSERT_NE(nullptr, b.device->Image(7));
        EXPECT_TRUE(b.device->Image(7)->committed);
        EXPECT_EQ(data, b.device->Image(7)->bytes);
        EXPECT_EQ(7u, b.device->CallsOf(kStreamWrite).size());  // six blocks, one of them twice
        EXPECT_EQ(0, b.device->Count(LinkCall::Drain));
        // The owed answer is waited for with what is left of the limit of the
        // exchange that met the stale one (the close's for the last block).
        const auto receive = std::find_if(b.device->calls.begin(), b.device->calls.end(),
                                          [](const LinkCall& c) { return c.kind == LinkCall::Receive; });
        ASSERT_NE(b.device->calls.end(), receive);
        EXPECT_LE(receive->wait, late == 5 ? 15000u : 500u);
        EXPECT_EQ(late == 5 ? kCloseImage : kStreamWrite, (receive - 1)->cmd);
        EXPECT_EQ(1, b.device->Count(LinkCall::Receive));
    }
}

TEST(StreamWrite, AnswersOnlyForAcknowledgedBlocksAreNotTakenForTheCurrentOne) {
    DownloadBench b;
    // Every stream write is answered as the one at offset 0.
    b.device->script = [](int cmd, const std::vector<uint8_t>&, int) {
        return cmd == kStreamWrite ? Answer::With({0x08, 0x00, 0x00, 0x00, 0x00}) : Answer::Usual();
    };
    EnterDownloadMode(b);
    const uint8_t data[1] = {1};
    ASSERT_EQ(StepResult::Done(), b.streaming.OpenMultiImage(1, nullptr, 0));
    ASSERT_EQ(StepResult::Done(), b.streaming.StreamWrite(data, 1, 0));
    EXPECT_EQ(kTimedOut, b.streaming.StreamWrite(data, 1, 1024));
    EXPECT_EQ(3u, b.device->CallsOf(kStreamWrite).size());
    EXPECT_EQ(2, b.device->Count(LinkCall::Receive));
    // A new image starts its offsets afresh: block 0 is not stale there.
    ASSERT_EQ(StepResult::Done(), b.streaming.OpenMultiImage(3, nullptr, 0));
    EXPECT_EQ(StepResult::Done(), b.streaming.StreamWrite(data, 1, 0));
}

TEST(DownloadImage, WrongCloseReplyIsDrainedAndEndsTheImageWithThePortClosed) {
    DownloadBench b;
    TempDir dir;
    b.device->script = [](int cmd, const std::vector<uint8_t>&, int) {
        return cmd == kCloseImage ? Answer::With({0x0E}) : Answer::Usual();
    };
    EnterDownloadMode(b);
    EXPECT_EQ(StepResult::Failed(), b.streaming.DownloadImage(1, dir.Write("pbl.mbn", Pattern(100, 1)), ""));
    const auto& calls = b.device->calls;
    ASSERT_GE(calls.size(), 3u);
    EXPECT_EQ(kCloseImage, calls[calls.size() - 3].cmd);
    EXPECT_EQ(LinkCall::Drain, calls[calls.size() - 2].kind);
    EXPECT_EQ(LinkCall::Close, calls.back().kind);
}

TEST(DownloadImage, FailedBlockStopsTheImageWithoutClosingIt) {
    DownloadBench b;
    TempDir dir;
    b.device->script = [](int cmd, const std::vector<uint8_t>&, int index) {
        return cmd == kStreamWrite && index >= 2 ? Answer::None() : Answer::Usual();
    };
    EnterDownloadMode(b);
    EXPECT_EQ(kTimedOut,
              b.streaming.DownloadImage(5, dir.Write("a.mbn", Pattern(5000, 1)), dir.Write("hd.mbn", Pattern(40, 2))));
    EXPECT_EQ(4u, b.device->CallsOf(kStreamWrite).size());  // block 3 sent twice
    EXPECT_TRUE(b.device->CallsOf(kCloseImage).empty());
    EXPECT_EQ(LinkCall::Close, b.device->calls.back().kind);
    EXPECT_EQ((std::vector<std::string>{"  20 % completed.", "  40 % completed."}), Texts(RecordedLines()));
}

TEST(DownloadImage, MissingOrOversizedHeaderSendsNoOpen) {
    for (size_t headerBytes : {size_t(0), size_t(513)}) {
        DownloadBench b;
        TempDir dir;
        const std::string hd = headerBytes ? dir.Write("hd.mbn", Pattern(headerBytes, 1)) : dir.Path("missing.mbn");
        EnterDownloadMode(b);
        EXPECT_EQ(StepResult::Failed(), b.streaming.DownloadImage(4, dir.Write("o.mbn", Pattern(10, 1)), hd));
        EXPECT_TRUE(b.device->CallsOf(kOpenImage).empty());
        EXPECT_EQ(LinkCall::Close, b.device->calls.back().kind);
    }
    DownloadBench b;  // exactly 512 bytes still fits
    TempDir dir;
    EnterDownloadMode(b);
    EXPECT_EQ(StepResult::Done(),
              b.streaming.DownloadImage(4, dir.Write("o.mbn", Pattern(10, 1)), dir.Write("hd", Pattern(512, 3))));
    EXPECT_EQ(514u, b.device->CallsOf(kOpenImage).at(0).request.size());
}

TEST(DownloadImage, MissingBodyFailsAfterTheOpen) {
    DownloadBench b;
    TempDir dir;
    EnterDownloadMode(b);
    EXPECT_EQ(StepResult::Failed(), b.streaming.DownloadImage(7, dir.Path("nothing.mbn"), ""));
    EXPECT_EQ(1u, b.device->CallsOf(kOpenImage).size());
    EXPECT_TRUE(b.device->CallsOf(kStreamWrite).empty());
    EXPECT_EQ(LinkCall::Close, b.device->calls.back().kind);
}

TEST(DownloadPartitionFile, SendsTheWholeTableUpTo1024Bytes) {
    DownloadBench b;
    TempDir dir;
    const auto table = Pattern(1024, 9);
    EnterDownloadMode(b);
    EXPECT_EQ(StepResult::Done(), b.streaming.DownloadPartitionFile(dir.Write("partition.mbn", table)));
    EXPECT_EQ(table, b.device->partitionTable);
    EXPECT_EQ(1026u, b.device->CallsOf(kPartition)[0].request.size());
}

TEST(DownloadPartitionFile, RefusesATableThatDoesNotFitAndAMissingFile) {
    DownloadBench b;
    TempDir dir;
    EnterDownloadMode(b);
    EXPECT_EQ(StepResult::Failed(), b.streaming.DownloadPartitionFile(dir.Write("partition.mbn", Pattern(1025, 9))));
    EXPECT_EQ(StepResult::Failed(), b.streaming.DownloadPartitionFile(dir.Path("none.mbn")));
    EXPECT_TRUE(b.device->CallsOf(kPartition).empty());
}

TEST(DownloadPartitionFile, RefusalClosesThePort) {
    DownloadBench b;
    TempDir dir;
    b.device->script = [](int, const std::vector<uint8_t>&, int) { return Answer::With({0x0E}); };
    EnterDownloadMode(b);
    EXPECT_EQ(StepResult::Failed(), b.streaming.DownloadPartitionFile(dir.Write("p.mbn", Pattern(64, 9))));
    EXPECT_EQ(LinkCall::Close, b.device->calls.back().kind);
}

}  // namespace
}  // namespace fennix::test
