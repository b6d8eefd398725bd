// Request/reply exchange of framed packets, as the protocols above the serial
// transport see it. CSerCOMLibrary implements it on a real port; tests can put
// a scripted device behind it.
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

class IPacketExchange {
public:
    virtual ~IPacketExchange() = default;
    // Reply length (> 0) or a negative packet-layer result. The reply buffer is
    // zeroed over its whole capacity before the reply is copied in.
    virtual int32_t DIAGTxRx(const uint8_t* request, uint32_t length, uint8_t* reply, uint32_t capacity,
                             uint32_t waitMs) = 0;
    // The waiting half of DIAGTxRx alone: the next reply frame within
    // `waitMs`, with nothing sent (for the answer a request is still owed
    // after a frame that was not its own).
    virtual int32_t DIAGReceive(uint8_t* reply, uint32_t capacity, uint32_t waitMs) = 0;
    virtual int32_t DLTxRx(const uint8_t* request, uint32_t length, uint8_t* reply, uint32_t capacity,
                           uint32_t waitMs) = 0;
    // Drains posted reply frames: total bytes taken, 0 when none is posted, or
    // kPacketTimeout.
    virtual int32_t ReadReturnPacket(uint8_t* buffer, uint32_t capacity, uint32_t* count, uint32_t maxFrames) = 0;
};

}  // namespace fennix
