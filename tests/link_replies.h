// Scripted links keep their answers as the flows' ints (a length, 1, or a
// packet-layer failure's number); these make the link's typed results of them.
#pragma once

#include <cstdint>

#include "serial/ResultCodes.h"

namespace fennix::testsupport {

inline PacketReply ReplyOf(int32_t lengthOrCode) {
    return lengthOrCode < 0 ? PacketReply::Failed(static_cast<PacketResult>(lengthOrCode))
                            : PacketReply::Of(static_cast<uint32_t>(lengthOrCode));
}

inline PacketResult ResultOf(int32_t code) { return static_cast<PacketResult>(code); }

}  // namespace fennix::testsupport
