// Windowed streaming: what the hello reply announces, what a download
// streams with, and an image with several stream writes outstanding against
// a scripted device that loses, delays, swaps or misdirects answers.
#include <gtest/gtest.h>

#include <algorithm>

#include "download/FakeSessionLink.h"
#include "download/HelloReply.h"

namespace fennix::test {
namespace {

std::vector<uint8_t> HelloReply(uint16_t window, uint32_t maxBlock, const std::string& flashId = "SIMFLASH",
                                bool withWindow = true) {
    std::vector<uint8_t> r = {0x02};
    const char magic[] = "QCOM fast download protocol targ";
    r.insert(r.end(), magic, magic + 32);
    r.insert(r.end(), {3, 2});
    for (int i = 0; i < 4; ++i) r.push_back(static_cast<uint8_t>(maxBlock >> (8 * i)));
    r.insert(r.end(), {0, 0, 0, 0, static_cast<uint8_t>(flashId.size())});
    r.insert(r.end(), flashId.begin(), flashId.end());
    if (!withWindow) return r;
    r.insert(r.end(), {static_cast<uint8_t>(window), static_cast<uint8_t>(window >> 8), 0, 0, 0x09});
    return r;
}

TEST(HelloReply, FieldsUpToTheWindowAtTheirNaturalLength) {
    const auto full = HelloReply(8, 4096);
    const auto a = ParseHelloReply(full.data(), full.size());
    ASSERT_TRUE(a.has_value());
    EXPECT_EQ(3, a->version);
    EXPECT_EQ(4096u, a->maxBlockBytes);
    EXPECT_EQ("SIMFLASH", a->flashId);
    EXPECT_EQ(8, a->window);
    // Ending right after the window still parses; a byte short of it does not.
    const size_t windowEnd = full.size() - 3;
    EXPECT_TRUE(ParseHelloReply(full.data(), windowEnd).has_value());
    EXPECT_FALSE(ParseHelloReply(full.data(), windowEnd - 1).has_value());
    const auto cut = HelloReply(8, 4096, "SIMFLASH", false);
    EXPECT_FALSE(ParseHelloReply(cut.data(), cut.size()).has_value());
    auto wrongCode = full;
    wrongCode[0] = 0x0E;
    EXPECT_FALSE(ParseHelloReply(wrongCode.data(), wrongCode.size()).has_value());
    // A flash ID length running past the reply's end.
    auto longId = full;
    longId[43] = 200;
    EXPECT_FALSE(ParseHelloReply(longId.data(), longId.size()).has_value());
}

TEST(HelloReply, PlanIsBoundedByWhatTheDeviceAnnounces) {
    const auto announce = [](uint16_t window, uint32_t block) {
        HelloAnnouncement a;
        a.window = window;
        a.maxBlockBytes = block;
        return std::optional<HelloAnnouncement>(a);
    };
    struct Case {
        uint16_t asked;
        bool blockAuto;
        std::optional<HelloAnnouncement> announced;
        uint16_t window;
        size_t block;
    } cases[] = {
        {1, false, announce(8, 4096), 1, 1024},         // the default asks for nothing
        {0, false, announce(8, 4096), 8, 1024},         // auto takes the device's window
        {4, false, announce(8, 4096), 4, 1024},         // a cap below it
        {16, false, announce(8, 4096), 8, 1024},        // never above it
        {0, false, announce(1, 4096), 1, 1024},         // a window of 1 or 0 is stop-and-wait
        {0, false, announce(0, 4096), 1, 1024},         //
        {0, true, std::nullopt, 1, 1024},               // no announcement: nothing grows
        {1, true, announce(8, 4096), 1, 4096},          // blocks grow only when asked
        {0, true, announce(8, 1u << 20), 8, 32768},     // and never past the largest
        {0, true, announce(8, 0), 8, 1024},             // a device announcing no size
        {0, true, announce(65535, 32768), 32, 32768},   // at most 1 MiB outstanding
        {0, false, announce(65535, 1024), 1024, 1024},  //
    };
    for (const auto& c : cases) {
        const StreamPlan plan = PlanStreaming(StreamSettings{c.asked, c.blockAuto}, c.announced);
        EXPECT_EQ(c.window, plan.window) << c.asked;
        EXPECT_EQ(c.block, plan.blockBytes) << c.asked;
    }
}

// The download's commands with the device announcing `window` and blocks of
// up to `maxBlock`, the hello read and the streaming chosen; short waits.
struct WindowBench : DownloadBench {
    TempDir dir;
    explicit WindowBench(uint16_t window, StreamSettings asked = {0, false}, uint32_t maxBlock = 1024) {
        device->sendsAhead = true;
        flow.SetTimes(Timeouts::WithScales(1.0, 0.02));  // 10 ms a block, 100 ms the second try
        auto hello = HelloReply(window, maxBlock);
        device->script = [hello](int cmd, const std::vector<uint8_t>&, int) {
            return cmd == kHello ? Answer::With(hello) : Answer::Usual();
        };
        EnterDownloadMode(*this);
        EXPECT_EQ(StepResult::Done(), streaming.Hello());
        streaming.UseStreaming(asked);
        RecordedLines().clear();
    }
    // Replaces the stream writes' answers, keeping the hello's.
    void ScriptWrites(std::function<Answer(uint32_t offset, int index)> answer) {
        auto hello = device->script;
        device->script = [hello, answer](int cmd, const std::vector<uint8_t>& r, int index) {
            if (cmd != kStreamWrite) return hello(cmd, r, index);
            return answer(r[1] | r[2] << 8 | r[3] << 16 | uint32_t(r[4]) << 24, index);
        };
    }
    StepResult Flash(const std::vector<uint8_t>& data) {
        return streaming.DownloadImage(7, dir.Write("obl.mbn", data), "");
    }
    std::vector<uint32_t> WriteOffsets() const {
        std::vector<uint32_t> out;
        for (const auto& c : device->CallsOf(kStreamWrite))
            out.push_back(c.request[1] | c.request[2] << 8 | c.request[3] << 16 | uint32_t(c.request[4]) << 24);
        return out;
    }
    bool Committed(const std::vector<uint8_t>& data) const {
        const FlashedImage* image = device->Image(7);
        return image && image->committed && image->bytes == data;
    }
    int MostSends() const {
        std::map<uint32_t, int> sends;
        for (uint32_t o : WriteOffsets()) ++sends[o];
        int most = 0;
        for (const auto& s : sends) most = std::max(most, s.second);
        return most;
    }
};

std::vector<std::string> PercentLines() { return Texts(RecordedLines()); }

TEST(StreamWindow, HealthyDeviceGetsEveryBlockOnceWithAtMostTheWindowOutstanding) {
    const auto data = Pattern(10 * 1024 + 300, 7);
    WindowBench w(4);
    ASSERT_EQ(4, w.streaming.Plan().window);
    EXPECT_EQ(StepResult::Done(), w.Flash(data));
    EXPECT_TRUE(w.Committed(data));
    EXPECT_EQ(11u, w.WriteOffsets().size());
    EXPECT_EQ(1, w.MostSends());
    EXPECT_LE(w.device->mostAhead, 4);
    EXPECT_GE(w.device->mostAhead, 2);
    const auto windowed = PercentLines();

    // The same percentage lines as one write at a time gives.
    WindowBench one(4, StreamSettings{1, false});
    ASSERT_EQ(1, one.streaming.Plan().window);
    EXPECT_EQ(StepResult::Done(), one.Flash(data));
    EXPECT_EQ(PercentLines(), windowed);
    EXPECT_EQ(" 100 % completed.", windowed.back());
}

TEST(StreamWindow, LostAnswerSendsThatBlockAgainAndTheStreamGoesOn) {
    const auto data = Pattern(8 * 1024 + 10, 3);
    WindowBench w(4);
    w.ScriptWrites([](uint32_t, int index) { return index == 2 ? Answer::None() : Answer::Usual(); });
    EXPECT_EQ(StepResult::Done(), w.Flash(data));
    EXPECT_TRUE(w.Committed(data));
    const auto offsets = w.WriteOffsets();
    // Blocks 0..3 out; 0 and 1 answered, so 4 and 5 follow; 3, 4 and 5 are
    // answered, 2 is not: only 2 is unanswered and goes again, then the rest.
    EXPECT_EQ((std::vector<uint32_t>{0, 1024, 2048, 3072, 4096, 5120, 2048, 6144, 7168, 8192}), offsets);
    EXPECT_EQ(2, w.MostSends());
    // The second sends' answers to blocks answered before are passed over.
    EXPECT_EQ(" 100 % completed.", PercentLines().back());
}

TEST(StreamWindow, ABlockWhoseSecondSendIsNotAnsweredEitherFailsTheImageUnclosed) {
    const auto data = Pattern(6 * 1024, 5);
    WindowBench w(4);
    w.ScriptWrites([](uint32_t offset, int) { return offset == 3072 ? Answer::None() : Answer::Usual(); });
    EXPECT_EQ(kTimedOut, w.Flash(data));
    EXPECT_EQ(2, w.MostSends());
    EXPECT_FALSE(w.device->Image(7)->committed);
    EXPECT_TRUE(w.device->CallsOf(kCloseImage).empty());
    // Only the blocks before the lost one counted as written.
    for (const auto& line : PercentLines()) EXPECT_NE(" 100 % completed.", line);
}

TEST(StreamWindow, AnswersOutOfOrderOrTwiceAreMatchedByTheirAddress) {
    const auto data = Pattern(9 * 1024 + 1, 9);
    {
        WindowBench w(8);
        w.device->swapPairs = true;
        EXPECT_EQ(StepResult::Done(), w.Flash(data));
        EXPECT_TRUE(w.Committed(data));
        EXPECT_EQ(1, w.MostSends());
        const auto lines = PercentLines();
        EXPECT_TRUE(std::is_sorted(lines.begin(), lines.end()));
    }
    {
        // A late answer: the block and those after it go again, then both
        // answers of each come; the second ones are passed over, also at the close.
        WindowBench w(4);
        w.ScriptWrites([](uint32_t, int index) { return index == 1 ? Answer::Behind() : Answer::Usual(); });
        EXPECT_EQ(StepResult::Done(), w.Flash(data));
        EXPECT_TRUE(w.Committed(data));
        EXPECT_EQ(2, w.MostSends());
    }
}

TEST(StreamWindow, AnswerForNoBlockSentIsTreatedAsMissingAndTwiceFails) {
    const auto data = Pattern(5 * 1024, 1);
    const auto wrongEcho = [](uint32_t offset) {
        const uint32_t e = offset + 0x10000;
        return Answer::With({0x08, uint8_t(e), uint8_t(e >> 8), uint8_t(e >> 16), uint8_t(e >> 24)});
    };
    {
        WindowBench w(4);
        w.ScriptWrites([&](uint32_t offset, int index) { return index == 0 ? wrongEcho(offset) : Answer::Usual(); });
        EXPECT_EQ(StepResult::Done(), w.Flash(data));
        EXPECT_TRUE(w.Committed(data));
    }
    {
        WindowBench w(4);
        w.ScriptWrites([&](uint32_t offset, int) { return offset == 0 ? wrongEcho(offset) : Answer::Usual(); });
        EXPECT_EQ(StepResult::Failed(), w.Flash(data));
        EXPECT_FALSE(w.device->Image(7)->committed);
    }
    {
        // Another reply code is the device refusing: no second try.
        WindowBench w(4);
        w.ScriptWrites([](uint32_t, int index) { return index == 2 ? Answer::With({0x0E}) : Answer::Usual(); });
        EXPECT_EQ(StepResult::Failed(), w.Flash(data));
        EXPECT_EQ(1, w.MostSends());
    }
}

TEST(StreamWindow, BlocksGrowToTheAnnouncedSizeOnlyWhenAsked) {
    const auto data = Pattern(3 * 4096 + 5, 2);
    for (uint16_t window : {1, 4}) {
        WindowBench w(window, StreamSettings{0, true}, 4096);
        EXPECT_EQ(StepResult::Done(), w.Flash(data));
        EXPECT_TRUE(w.Committed(data));
        EXPECT_EQ((std::vector<uint32_t>{0, 4096, 8192, 12288}), w.WriteOffsets()) << window;
    }
    WindowBench w(4, StreamSettings{0, false}, 4096);
    EXPECT_EQ(1024u, w.streaming.Plan().blockBytes);
}

TEST(StreamWindow, ALinkThatCannotSendAheadStreamsOneWriteAtATime) {
    DownloadBench b;
    auto hello = HelloReply(8, 1024);
    b.device->script = [hello](int cmd, const std::vector<uint8_t>&, int) {
        return cmd == kHello ? Answer::With(hello) : Answer::Usual();
    };
    EnterDownloadMode(b);
    ASSERT_EQ(StepResult::Done(), b.streaming.Hello());
    b.streaming.UseStreaming(StreamSettings{0, false});
    EXPECT_EQ(1, b.streaming.Plan().window);
}

}  // namespace
}  // namespace fennix::test
