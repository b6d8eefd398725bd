// Turns a flow's report lines into overall progress: which image is being
// written, how much of the whole set is through, and the stage to show.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace fennix::cli {

using SteadyClock = std::chrono::steady_clock;

// An image the download streams, in streaming order, with the line that
// reports it written.
struct StreamedImage {
    std::string name;
    uint64_t bytes = 0;
    std::string successLine;
};

class ProgressModel {
public:
    // A download: the images it streams.
    explicit ProgressModel(std::vector<StreamedImage> images);
    // An NV flow: "... Counts =  n" lines out of `items` (0: unknown).
    static ProgressModel Counting(int items);

    void OnLine(const std::string& text, int status, SteadyClock::time_point now);
    void Finish(bool succeeded);

    double Fraction() const;
    uint64_t BytesDone() const;  // of the streamed images
    uint64_t BytesTotal() const;
    double BytesPerSecond(SteadyClock::time_point now) const;
    SteadyClock::duration StreamingTime(SteadyClock::time_point now) const;
    std::string Stage() const;  // "writing AMSS 45%" while streaming, else empty

private:
    ProgressModel() = default;
    std::vector<StreamedImage> images_;
    size_t imagesDone_ = 0;
    int imagePercent_ = -1;
    int countTotal_ = 0;
    int count_ = 0;
    bool finished_ = false;
    bool streaming_ = false;
    SteadyClock::time_point streamStart_, streamEnd_;
    bool streamEnded_ = false;
};

// " 45 % completed." lines of the engine; -1 for other lines.
int PercentOfLine(const std::string& text);

}  // namespace fennix::cli
