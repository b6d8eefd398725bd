#include "Progress.h"

#include <algorithm>

namespace fennix::cli {

namespace {
std::string Text(const char* text) { return text ? text : ""; }

std::string ImageKey(const FennixEvent& event) {
    return event.imageName ? event.imageName : "#" + std::to_string(event.image);
}
}  // namespace

ProgressModel::ProgressModel(std::vector<StreamedImage> images) {
    for (const auto& image : images) expectedBytes_ += image.bytes;
}

ProgressModel ProgressModel::Counting(int items) {
    ProgressModel model;
    model.expectedItems_ = std::max(items, 0);
    return model;
}

bool ProgressModel::OnEvent(const FennixEvent& event, SteadyClock::time_point now) {
    if (event.kind != FENNIX_EVENT_LINE) {
        stage_ = event.stage;
        stageKey_ = Text(event.stageKey);
    }
    switch (event.kind) {
        case FENNIX_EVENT_STAGE:
            if (event.stage == FENNIX_STAGE_IMAGE_WRITE) {
                imageName_ = Text(event.imageName);
                written_.emplace(ImageKey(event), std::make_pair(uint64_t{0}, uint64_t{0}));
                if (!streaming_) {
                    streaming_ = true;
                    streamStart_ = now;
                }
            } else if (streaming_ && !streamEnded_ &&
                       (event.stage == FENNIX_STAGE_RESET || event.stage == FENNIX_STAGE_POWER_ON_CHECK)) {
                streamEnded_ = true;
                streamEnd_ = now;
            }
            break;
        case FENNIX_EVENT_PROGRESS:
            if (event.stage == FENNIX_STAGE_IMAGE_WRITE) {
                auto& [done, total] = written_[ImageKey(event)];
                done = std::max(done, event.done);
                total = event.total;
            } else if (event.stage == FENNIX_STAGE_NV_ITEM) {
                itemsDone_ = event.done;
                itemsTotal_ = event.total;
            }
            break;
        case FENNIX_EVENT_END:
            cause_ = event.cause == FENNIX_CAUSE_NONE ? std::string() : Text(event.causeKey);
            causeText_ = event.cause == FENNIX_CAUSE_NONE ? std::string() : Text(event.text);
            if (streaming_ && !streamEnded_) {
                streamEnded_ = true;
                streamEnd_ = now;
            }
            break;
        default: break;
    }
    return event.kind == FENNIX_EVENT_STAGE;
}

void ProgressModel::Finish(bool succeeded) { finished_ = succeeded; }

uint64_t ProgressModel::BytesTotal() const {
    if (expectedBytes_) return expectedBytes_;
    uint64_t total = 0;
    for (const auto& [name, image] : written_) total += image.second;
    return total;
}

uint64_t ProgressModel::BytesDone() const {
    uint64_t done = 0;
    for (const auto& [name, image] : written_) done += image.first;
    const uint64_t total = BytesTotal();
    return total ? std::min(done, total) : done;
}

double ProgressModel::Fraction() const {
    if (finished_) return 1;
    const uint64_t items = itemsTotal_ ? itemsTotal_ : static_cast<uint64_t>(expectedItems_);
    // A download with NV phases of its own (the items kept through a flash):
    // the items fill the bar within those phases, the bytes everywhere else.
    if (items && (!expectedBytes_ || stage_ == FENNIX_STAGE_NV_ITEM))
        return std::min(1.0, static_cast<double>(itemsDone_) / static_cast<double>(items));
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
    if (stage_ != FENNIX_STAGE_IMAGE_WRITE || imageName_.empty()) return {};
    int percent = 0;
    for (const auto& [name, image] : written_)
        if (name == imageName_ && image.second)
            percent = static_cast<int>(std::min<uint64_t>(100, image.first * 100 / image.second));
    return "writing " + imageName_ + " " + std::to_string(percent) + "%";
}

}  // namespace fennix::cli
