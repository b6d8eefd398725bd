#include "download/HelloReply.h"

#include <algorithm>

#include "download/StreamingCodes.h"

namespace fennix {

namespace {

constexpr size_t kMagicEnd = 1 + 32;

}  // namespace

std::optional<HelloAnnouncement> ParseHelloReply(const uint8_t* reply, size_t length) {
    // version, compatible version, largest block, flash base, ID length
    constexpr size_t kFixedEnd = kMagicEnd + 1 + 1 + 4 + 4 + 1;
    if (reply == nullptr || length < kFixedEnd || reply[0] != streaming::kReplyHello) return std::nullopt;
    HelloAnnouncement a;
    const uint8_t* p = reply + kMagicEnd;
    a.version = p[0];
    a.compatibleVersion = p[1];
    a.maxBlockBytes = streaming::Little32(p + 2);
    a.flashBase = streaming::Little32(p + 6);
    const size_t idLength = p[10];
    const size_t windowAt = kFixedEnd + idLength;
    if (length < windowAt + 2) return std::nullopt;
    a.flashId.assign(reinterpret_cast<const char*>(reply + kFixedEnd), idLength);
    a.window = static_cast<uint16_t>(reply[windowAt] | reply[windowAt + 1] << 8);
    return a;
}

StreamPlan PlanStreaming(const StreamSettings& asked, const std::optional<HelloAnnouncement>& announced) {
    StreamPlan plan;
    if (!announced) return plan;
    if (announced->window > 1 && asked.window != 1) {
        plan.window =
            asked.window == StreamSettings::kWindowAuto ? announced->window : std::min(asked.window, announced->window);
    }
    if (asked.blockAuto && announced->maxBlockBytes > 0)
        plan.blockBytes = std::min<size_t>(announced->maxBlockBytes, StreamSettings::kLargestBlock);
    const size_t mostBlocks = std::max<size_t>(1, StreamSettings::kMostBytesOutstanding / plan.blockBytes);
    plan.window = static_cast<uint16_t>(std::min<size_t>(plan.window, mostBlocks));
    return plan;
}

}  // namespace fennix
