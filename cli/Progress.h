// Turns a flow's events into overall progress: how much of the whole flow is
// through, the stage to show, and how the flow ended and why.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "fennix/fennix.h"

namespace fennix::cli {

using SteadyClock = std::chrono::steady_clock;

// An image the download streams, in streaming order.
struct StreamedImage {
    std::string name;
    uint64_t bytes = 0;
};

class ProgressModel {
public:
    // A download: the images it streams, whose bytes are the whole of it.
    explicit ProgressModel(std::vector<StreamedImage> images);
    // An NV flow of `items` items (0: as many as the engine says).
    static ProgressModel Counting(int items);

    // True when the event entered another stage.
    bool OnEvent(const FennixEvent& event, SteadyClock::time_point now);
    void Finish(bool succeeded);

    double Fraction() const;
    uint64_t BytesDone() const;  // of the streamed images
    uint64_t BytesTotal() const;
    double BytesPerSecond(SteadyClock::time_point now) const;
    SteadyClock::duration StreamingTime(SteadyClock::time_point now) const;
    std::string Stage() const;  // "writing AMSS 45%" while streaming, else empty
    // The stage's stable name ("image-write"); empty before the first event.
    const std::string& StageKey() const { return stageKey_; }
    // In a stage whose operator lines only repeat its progress.
    bool Streaming() const { return stage_ == FENNIX_STAGE_IMAGE_WRITE; }
    // The end's cause ("image-open-refused"); empty before the end and on success.
    const std::string& Cause() const { return cause_; }
    // The end's cause as a sentence for people; empty like Cause().
    const std::string& CauseText() const { return causeText_; }

private:
    ProgressModel() = default;
    uint64_t expectedBytes_ = 0;
    int expectedItems_ = 0;
    int32_t stage_ = FENNIX_STAGE_NONE;
    std::string stageKey_, imageName_;
    // Bytes written of each image and its size, by the image's name.
    std::map<std::string, std::pair<uint64_t, uint64_t>> written_;
    uint64_t itemsDone_ = 0, itemsTotal_ = 0;
    std::string cause_, causeText_;
    bool finished_ = false;
    bool streaming_ = false;
    SteadyClock::time_point streamStart_, streamEnd_;
    bool streamEnded_ = false;
};

}  // namespace fennix::cli
