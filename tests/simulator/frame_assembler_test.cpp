#include "simulator/FrameAssembler.h"

#include <gtest/gtest.h>

#include "TestBytes.h"
#include "simulator/AtInterpreter.h"

namespace fennix::sim {
namespace {

using test::Bytes;
using test::Hex;
using Result = CFrameAssembler::Result;

struct Outcome {
    Result result;
    Bytes bytes;  // packet for Packet, raw bytes otherwise
};

std::vector<Outcome> FeedAll(CFrameAssembler& a, const Bytes& bytes) {
    std::vector<Outcome> out;
    for (uint8_t b : bytes) {
        Result r = a.Feed(b);
        if (r == Result::Packet)
            out.push_back({r, a.Packet()});
        else if (r != Result::None)
            out.push_back({r, a.Raw()});
    }
    return out;
}

TEST(SimFrameAssembler, DiagFramesEndAtTheFlagAndAreUnstuffed) {
    CFrameAssembler a;
    // 0x7E and 0x7D in the packet, stuffed by the sender.
    auto out = FeedAll(a, Hex("0C 14 3A 7E 4B 7D 5E 7D 5D 01 8A EB 7E"));
    ASSERT_EQ(2u, out.size());
    EXPECT_EQ(Result::Packet, out[0].result);
    EXPECT_EQ(Hex("0C"), out[0].bytes);
    EXPECT_EQ(Result::Packet, out[1].result) << test::ToHex(out[1].bytes);
    EXPECT_EQ(Hex("4B 7E 7D 01"), out[1].bytes);
}

TEST(SimFrameAssembler, DiagProbeSplitsIntoTwoGoodPackets) {
    CFrameAssembler a;
    auto out = FeedAll(a, test::Probe());
    ASSERT_EQ(2u, out.size());
    EXPECT_EQ(Hex("61 74 0D"), out[0].bytes);
    EXPECT_EQ(Hex("06"), out[1].bytes);
}

TEST(SimFrameAssembler, BadCrcAndTooShortFramesAreReportedWithTheirRawBytes) {
    CFrameAssembler a;
    auto out = FeedAll(a, Hex("0C 14 3B 7E 0C 7E 7E 7C 93 49 7E"));
    ASSERT_EQ(3u, out.size());
    EXPECT_EQ(Result::BadFrame, out[0].result);
    EXPECT_EQ(Hex("0C 14 3B 7E"), out[0].bytes);
    EXPECT_EQ(Result::BadFrame, out[1].result);
    EXPECT_EQ(Hex("0C 7E"), out[1].bytes);
    // A lone flag between frames is no frame; the next good one still decodes.
    EXPECT_EQ(Result::Packet, out[2].result);
    EXPECT_EQ(Hex("7C"), out[2].bytes);
}

TEST(SimFrameAssembler, DownloadFramesNeedAnOpeningFlagAndJunkIsDiscarded) {
    CFrameAssembler a;
    a.SetDownloadFraming(true);
    // The probe in download mode: "at\r" has no opening flag and is junk; the
    // flag that ends it opens the no-operation frame.
    auto out = FeedAll(a, test::Probe());
    ASSERT_EQ(2u, out.size());
    EXPECT_EQ(Result::Discarded, out[0].result);
    EXPECT_EQ(Hex("61 74 0D 1C D5"), out[0].bytes);
    EXPECT_EQ(Result::Packet, out[1].result);
    EXPECT_EQ(Hex("06"), out[1].bytes);

    // After a frame the next one must open with a flag again.
    out = FeedAll(a, Hex("06 4E 95 7E 7E 06 4E 95 7E"));
    ASSERT_EQ(2u, out.size());
    EXPECT_EQ(Result::Discarded, out[0].result);
    EXPECT_EQ(Result::Packet, out[1].result);
}

TEST(SimFrameAssembler, DownloadFramesWithDoubledFlagsAndEscapesDecode) {
    CFrameAssembler a;
    a.SetDownloadFraming(true);
    auto out = FeedAll(a, Hex("7E 7E 02 6A D3 7E 7E 03 00 06 9E 4C 7E"));
    ASSERT_EQ(2u, out.size());
    EXPECT_EQ(Hex("02"), out[0].bytes);
    EXPECT_EQ(Hex("03 00 06"), out[1].bytes);
}

TEST(SimFrameAssembler, OverlongFrameFailsAndTheNextFrameIsClean) {
    CFrameAssembler a;
    Bytes longFrame(CFrameAssembler::kMaxFrame + 10, 0x11);
    longFrame.push_back(0x7E);
    auto out = FeedAll(a, longFrame);
    ASSERT_EQ(1u, out.size());
    EXPECT_EQ(Result::BadFrame, out[0].result);
    out = FeedAll(a, Hex("7C 93 49 7E"));
    ASSERT_EQ(1u, out.size());
    EXPECT_EQ(Hex("7C"), out[0].bytes);
}

TEST(SimAtInterpreter, AnswersCommandsAndSkipsGarbageInFrontOfAt) {
    CAtInterpreter at;
    CAtInterpreter::Line line;
    std::string typed = "\x1C\xD5~\x06N\x95~at\r";
    bool ended = false;
    for (char c : typed) ended = at.Feed(static_cast<uint8_t>(c), &line);
    ASSERT_TRUE(ended);
    EXPECT_EQ("at", line.command);
    EXPECT_EQ("\r\nOK\r\n", line.answer);

    EXPECT_TRUE(CAtInterpreter::Evaluate("AT$QCDMG").switchToDiag);
    EXPECT_TRUE(CAtInterpreter::Evaluate("at$qcdmg").switchToDiag);
    EXPECT_FALSE(CAtInterpreter::Evaluate("at").switchToDiag);
    EXPECT_EQ("\r\nERROR\r\n", CAtInterpreter::Evaluate("at+bogus").answer);
    EXPECT_TRUE(CAtInterpreter::Evaluate("ATE0").echoOff);

    // A line without "AT" gets no answer at all.
    for (char c : std::string("hello\r")) ended = at.Feed(static_cast<uint8_t>(c), &line);
    ASSERT_TRUE(ended);
    EXPECT_TRUE(line.command.empty());
    EXPECT_TRUE(line.answer.empty());
}

}  // namespace
}  // namespace fennix::sim
