// Request/reply exchange of framed packets, as the protocols above the serial
// transport see it. CSerCOMLibrary implements it on a real port; tests can put
// a scripted device behind it.
#pragma once

#include <cstdint>

#include "serial/ResultCodes.h"

namespace fennix {

class IPacketExchange {
public:
    virtual ~IPacketExchange() = default;
    // The reply's length (> 0) or a failure. The reply buffer is zeroed over
    // its whole capacity before the reply is copied in.
    virtual PacketReply DIAGTxRx(const uint8_t* request, uint32_t length, uint8_t* reply, uint32_t capacity,
                                 uint32_t waitMs) = 0;
    // The waiting half of DIAGTxRx alone: the next reply frame within
    // `waitMs`, with nothing sent (for the answer a request is still owed
    // after a frame that was not its own).
    virtual PacketReply DIAGReceive(uint8_t* reply, uint32_t capacity, uint32_t waitMs) = 0;
    virtual PacketReply DLTxRx(const uint8_t* request, uint32_t length, uint8_t* reply, uint32_t capacity,
                               uint32_t waitMs) = 0;
    // Drains posted reply frames: the total bytes taken (0 when none is
    // posted), or Timeout.
    virtual PacketReply ReadReturnPacket(uint8_t* buffer, uint32_t capacity, uint32_t* count, uint32_t maxFrames) = 0;
};

}  // namespace fennix
