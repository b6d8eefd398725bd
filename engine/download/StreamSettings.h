// How a download streams its images: how many stream writes may be
// outstanding and how large a block is. The default is one write at a time in
// 1,024-byte blocks, which every programmer understands; anything more is
// asked for by the caller and bounded by what the device announces in its
// hello reply (HelloReply.h).
#pragma once

#include <cstddef>
#include <cstdint>

namespace fennix {

struct StreamSettings {
    // 0: as many as the device announces; 1: stop-and-wait; N: at most N.
    static constexpr uint16_t kWindowAuto = 0;
    uint16_t window = 1;
    // Blocks of the device's announced maximum (bounded by kLargestBlock)
    // instead of kDefaultBlock.
    bool blockAuto = false;

    static constexpr size_t kDefaultBlock = 1024;
    static constexpr size_t kLargestBlock = 32768;
    // The bytes a window may hold, whatever the device announces: every
    // outstanding block is kept until answered, and the port's buffers hold
    // what is written ahead.
    static constexpr size_t kMostBytesOutstanding = 1024 * 1024;
};

// What one image is streamed with, once the hello reply was read.
struct StreamPlan {
    uint16_t window = 1;
    size_t blockBytes = StreamSettings::kDefaultBlock;
};

}  // namespace fennix
