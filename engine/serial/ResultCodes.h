// The packet layer's result values, in one place. They travel in the same
// int as reply lengths, so every value here is named once and nowhere else.
// The channel's own results are typed (ChannelResult.h).
#pragma once

#include <cstdint>

namespace fennix {

// Packet-layer results: top bit set, so callers test for a negative value.
constexpr int32_t kPacketNullParameter = static_cast<int32_t>(0xF0000301);
constexpr int32_t kPacketOpenFailed = static_cast<int32_t>(0xF0000302);
constexpr int32_t kPacketModeUnknown = static_cast<int32_t>(0xF0000303);
// The switch out of DIAG into download mode failed (or the device's platform
// could not be read, so no switch was tried).
constexpr int32_t kPacketDiagSwitchFailed = static_cast<int32_t>(0xF0000304);
constexpr int32_t kPacketModeIsDL = static_cast<int32_t>(0xF0000305);
constexpr int32_t kPacketWrongMode = static_cast<int32_t>(0xF0000306);
constexpr int32_t kPacketWriteRefused = static_cast<int32_t>(0xF0000310);
constexpr int32_t kPacketTimeout = static_cast<int32_t>(0xF0000311);
constexpr int32_t kPacketDsSwitchFailed = static_cast<int32_t>(0xF0000312);
// The session was closed while the request was under way (Close from another
// thread): nothing more is exchanged.
constexpr int32_t kPacketCancelled = static_cast<int32_t>(0xF0000313);

}  // namespace fennix
