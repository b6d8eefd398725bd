#include "download/DownloadExchange.h"

namespace fennix {

int32_t CDownloadExchange::Exchange(const uint8_t* packet, uint32_t length, uint32_t replyCapacity, uint32_t waitMs) {
    reply_.assign(replyCapacity, 0);
    return flow_.Link().DLTxRx(packet, length, reply_.data(), replyCapacity, waitMs).LengthOrCode();
}

int32_t CDownloadExchange::Expect(uint8_t expected) {
    if (reply_[0] == expected) return 1;
    flow_.DrainReplies();
    return -1;
}

int32_t CDownloadExchange::Command(const uint8_t* packet, uint32_t length, uint8_t expected, uint32_t replyCapacity,
                                   uint32_t waitMs) {
    const int32_t r = Exchange(packet, length, replyCapacity, waitMs);
    return r < 0 ? r : Expect(expected);
}

}  // namespace fennix
