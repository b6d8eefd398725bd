// The programmer's hello reply: after the reply code and the 32-byte magic
// text, the protocol version and the oldest compatible one, the largest block
// the device takes, the flash's base address and ID text, how many stream
// writes may be outstanding, the sector table and the feature bits. Only the
// fields up to the window matter to the host; the reply has its natural
// length, up to the 620 bytes the exchange takes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "download/StreamSettings.h"

namespace fennix {

struct HelloAnnouncement {
    uint8_t version = 0;
    uint8_t compatibleVersion = 0;
    uint32_t maxBlockBytes = 0;
    uint32_t flashBase = 0;
    std::string flashId;
    uint16_t window = 0;
};

// The fields up to and including the window; nothing when the reply is not a
// hello reply or ends before its window field. The magic text and the
// versions are not judged.
std::optional<HelloAnnouncement> ParseHelloReply(const uint8_t* reply, size_t length);

// What a download streams with: the caller's settings bounded by what the
// device announced. Without an announcement (or with a window of 0 or 1) it
// is stop-and-wait; the block grows only when asked (`blockAuto`); the window
// never holds more than StreamSettings::kMostBytesOutstanding.
StreamPlan PlanStreaming(const StreamSettings& asked, const std::optional<HelloAnnouncement>& announced);

}  // namespace fennix
