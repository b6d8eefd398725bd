// What streaming one image file needs on either path (one write at a time, or
// a window of them): the file handed out in blocks, and the operator's
// percentage lines and PROGRESS events over the bytes the device answered.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <vector>

#include "download/FlowContext.h"
#include "platform/File.h"

namespace fennix {

// Hands an image out in blocks from reads of 64 KB: one system call per many
// blocks, on the path between a device's reply and the next write.
class BlockReader {
public:
    explicit BlockReader(platform::File& file) : file_(file), buffer_(kReadAhead) {}

    // Fills up to `capacity` bytes and gives how many; fewer only at the end
    // of the file. Nothing on a read error.
    std::optional<size_t> Next(uint8_t* block, size_t capacity) {
        size_t got = 0;
        while (got < capacity) {
            if (position_ == filled_) {
                const int64_t n = file_.Read(buffer_.data(), buffer_.size());
                if (n < 0) return std::nullopt;
                if (n == 0) break;
                position_ = 0;
                filled_ = static_cast<size_t>(n);
            }
            const size_t take = std::min(capacity - got, filled_ - position_);
            std::memcpy(block + got, buffer_.data() + position_, take);
            position_ += take;
            got += take;
        }
        return got;
    }

private:
    static constexpr size_t kReadAhead = 64 * 1024;
    platform::File& file_;
    std::vector<uint8_t> buffer_;
    size_t position_ = 0;
    size_t filled_ = 0;
};

// " NN % completed." once per whole percent, with its PROGRESS event.
class ImageProgress {
public:
    ImageProgress(IFlowContext& flow, uint64_t total) : flow_(flow), total_(total) {}

    void Add(uint64_t bytes) {
        done_ += bytes;
        // An empty image is complete as soon as its one empty write is answered.
        const uint64_t percent = total_ ? done_ * 100 / total_ : 100;
        if (percent <= lastPercent_) return;
        flow_.Progress(done_, total_);
        char line[32];
        FormatPercentLine(line, static_cast<int>(percent));
        flow_.Report(line, 0);
        lastPercent_ = percent;
    }

private:
    IFlowContext& flow_;
    uint64_t total_;
    uint64_t done_ = 0;
    uint64_t lastPercent_ = 0;
};

}  // namespace fennix
