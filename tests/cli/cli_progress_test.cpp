// The tool's progress model on synthetic event streams: what the live lines,
// the JSON events and the record take from the engine's events.
#include <gtest/gtest.h>

#include "Progress.h"

namespace fennix::cli {
namespace {

using std::chrono::seconds;

FennixEvent Event(int32_t kind, int32_t stage, const char* stageKey) {
    FennixEvent e{};
    e.size = sizeof e;
    e.kind = kind;
    e.stage = stage;
    e.image = -1;
    e.stageKey = stageKey;
    return e;
}

FennixEvent Image(int32_t kind, int32_t stage, const char* stageKey, int32_t image, const char* name, uint64_t done = 0,
                  uint64_t total = 0) {
    FennixEvent e = Event(kind, stage, stageKey);
    e.image = image;
    e.imageName = name;
    e.done = done;
    e.total = total;
    return e;
}

FennixEvent End(int32_t cause, const char* causeKey) {
    FennixEvent e = Event(FENNIX_EVENT_END, FENNIX_STAGE_IMAGE_OPEN, "image-open");
    e.result = cause ? -1 : 1;
    e.cause = cause;
    e.causeKey = causeKey;
    return e;
}

TEST(CliProgress, DownloadTakesBytesStageAndRateFromTheEvents) {
    ProgressModel model({{"QCSBL", 1000}, {"AMSS", 3000}});
    const auto t0 = SteadyClock::now();
    EXPECT_TRUE(model.OnEvent(Event(FENNIX_EVENT_STAGE, FENNIX_STAGE_PROGRAMMER, "programmer"), t0));
    // The programmer's bytes are not the image set's.
    EXPECT_FALSE(
        model.OnEvent(Image(FENNIX_EVENT_PROGRESS, FENNIX_STAGE_PROGRAMMER, "programmer", -1, nullptr, 500, 500), t0));
    EXPECT_EQ(model.BytesDone(), 0u);
    EXPECT_EQ(model.Stage(), "");

    model.OnEvent(Image(FENNIX_EVENT_STAGE, FENNIX_STAGE_IMAGE_WRITE, "image-write", 3, "QCSBL"), t0);
    EXPECT_TRUE(model.Streaming());
    model.OnEvent(Image(FENNIX_EVENT_PROGRESS, FENNIX_STAGE_IMAGE_WRITE, "image-write", 3, "QCSBL", 1000, 1000), t0);
    model.OnEvent(Image(FENNIX_EVENT_STAGE, FENNIX_STAGE_IMAGE_CLOSE, "image-close", 3, "QCSBL"), t0);
    EXPECT_FALSE(model.Streaming());
    model.OnEvent(Image(FENNIX_EVENT_STAGE, FENNIX_STAGE_IMAGE_WRITE, "image-write", 5, "AMSS"), t0 + seconds(1));
    model.OnEvent(Image(FENNIX_EVENT_PROGRESS, FENNIX_STAGE_IMAGE_WRITE, "image-write", 5, "AMSS", 1500, 3000),
                  t0 + seconds(1));
    EXPECT_EQ(model.BytesDone(), 2500u);
    EXPECT_DOUBLE_EQ(model.Fraction(), 2500.0 / 4000);
    EXPECT_EQ(model.Stage(), "writing AMSS 50%");
    EXPECT_EQ(model.StageKey(), "image-write");
    // Streaming runs from the first image written to the reset.
    model.OnEvent(Image(FENNIX_EVENT_PROGRESS, FENNIX_STAGE_IMAGE_WRITE, "image-write", 5, "AMSS", 3000, 3000),
                  t0 + seconds(2));
    model.OnEvent(Event(FENNIX_EVENT_STAGE, FENNIX_STAGE_RESET, "reset"), t0 + seconds(2));
    EXPECT_EQ(model.StreamingTime(t0 + seconds(9)), seconds(2));
    EXPECT_DOUBLE_EQ(model.BytesPerSecond(t0 + seconds(9)), 2000);
    EXPECT_EQ(model.Stage(), "");
    EXPECT_EQ(model.Cause(), "");
}

TEST(CliProgress, EndCarriesTheCauseAndStopsTheStreamingClock) {
    ProgressModel model({{"AMSS", 4000}});
    const auto t0 = SteadyClock::now();
    model.OnEvent(Image(FENNIX_EVENT_STAGE, FENNIX_STAGE_IMAGE_WRITE, "image-write", 5, "AMSS"), t0);
    model.OnEvent(Image(FENNIX_EVENT_PROGRESS, FENNIX_STAGE_IMAGE_WRITE, "image-write", 5, "AMSS", 1000, 4000),
                  t0 + seconds(1));
    model.OnEvent(End(FENNIX_CAUSE_IMAGE_WRITE_REFUSED, "image-write-refused"), t0 + seconds(1));
    EXPECT_EQ(model.Cause(), "image-write-refused");
    EXPECT_EQ(model.StreamingTime(t0 + seconds(5)), seconds(1));
    model.Finish(false);
    EXPECT_DOUBLE_EQ(model.Fraction(), 0.25);

    ProgressModel good({{"AMSS", 4000}});
    good.OnEvent(End(FENNIX_CAUSE_NONE, nullptr), t0);
    EXPECT_EQ(good.Cause(), "");
    good.Finish(true);
    EXPECT_DOUBLE_EQ(good.Fraction(), 1);
}

TEST(CliProgress, NvFlowCountsItemsOutOfTheEnginesTotalOrTheToolsOwn) {
    const auto t0 = SteadyClock::now();
    ProgressModel listed = ProgressModel::Counting(40);
    auto items = Event(FENNIX_EVENT_PROGRESS, FENNIX_STAGE_NV_ITEM, "nv-item");
    items.done = 10;
    listed.OnEvent(items, t0);
    EXPECT_DOUBLE_EQ(listed.Fraction(), 0.25);
    items.total = 20;
    listed.OnEvent(items, t0);
    EXPECT_DOUBLE_EQ(listed.Fraction(), 0.5);
    EXPECT_EQ(listed.BytesDone(), 0u);

    ProgressModel unknown = ProgressModel::Counting(0);
    items.done = 5;
    unknown.OnEvent(items, t0);
    EXPECT_DOUBLE_EQ(unknown.Fraction(), 0.25);
}

}  // namespace
}  // namespace fennix::cli
