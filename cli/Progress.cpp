#include "Progress.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace fennix::cli {

int PercentOfLine(const std::string& text) {
    int percent = -1;
    if (text.find("% completed.") == std::string::npos) return -1;
    if (std::sscanf(text.c_str(), " %d %% completed.", &percent) != 1) return -1;
    return std::clamp(percent, 0, 100);
}

ProgressModel::ProgressModel(std::vector<StreamedImage> images) : images_(std::move(images)) {}

ProgressModel ProgressModel::Counting(int items) {
    ProgressModel model;
    model.countTotal_ = items;
    return model;
}

void ProgressModel::OnLine(const std::string& text, int status, SteadyClock::time_point now) {
    if (const int percent = PercentOfLine(text); percent >= 0) {
        if (!streaming_) {
            streaming_ = true;
            streamStart_ = now;
        }
        imagePercent_ = percent;
        return;
    }
    if (imagesDone_ < images_.size() && text == images_[imagesDone_].successLine) {
        ++imagesDone_;
        imagePercent_ = -1;
        if (imagesDone_ == images_.size() && streaming_) {
            streamEnded_ = true;
            streamEnd_ = now;
        }
    }
    if (streaming_ && !streamEnded_ && status < 0) {
        streamEnded_ = true;
        streamEnd_ = now;
    }
    int count = 0;
    if (const char* at = std::strstr(text.c_str(), "Counts =")) {
        if (std::sscanf(at, "Counts = %d", &count) == 1) count_ = count;
    }
}

void ProgressModel::Finish(bool succeeded) { finished_ = succeeded; }

uint64_t ProgressModel::BytesTotal() const {
    uint64_t total = 0;
    for (const auto& image : images_) total += image.bytes;
    return total;
}

uint64_t ProgressModel::BytesDone() const {
    uint64_t done = 0;
    for (size_t i = 0; i < imagesDone_ && i < images_.size(); ++i) done += images_[i].bytes;
    if (imagesDone_ < images_.size() && imagePercent_ > 0)
        done += images_[imagesDone_].bytes * static_cast<uint64_t>(imagePercent_) / 100;
    return done;
}

double ProgressModel::Fraction() const {
    if (finished_) return 1;
    if (countTotal_ > 0) return std::min(1.0, static_cast<double>(count_) / countTotal_);
    const uint64_t total = BytesTotal();
    return total ? static_cast<double>(BytesDone()) / static_cast<double>(total) : 0;
}

SteadyClock::duration ProgressModel::StreamingTime(SteadyClock::time_point now) const {
    if (!streaming_) return {};
    return (streamEnded_ ? streamEnd_ : now) - streamStart_;
}

double ProgressModel::BytesPerSecond(SteadyClock::time_point now) const {
    const double seconds = std::chrono::duration<double>(StreamingTime(now)).count();
    return seconds > 0.05 ? static_cast<double>(BytesDone()) / seconds : 0;
}

std::string ProgressModel::Stage() const {
    if (imagePercent_ < 0 || imagesDone_ >= images_.size()) return {};
    return "writing " + images_[imagesDone_].name + " " + std::to_string(imagePercent_) + "%";
}

}  // namespace fennix::cli
