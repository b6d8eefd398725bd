#include "download/DownloadExchange.h"

namespace fennix {

PacketReply CDownloadExchange::Exchange(const uint8_t* packet, uint32_t length, uint32_t replyCapacity,
                                        uint32_t waitMs) {
    reply_.assign(replyCapacity, 0);
    return flow_.Link().DLTxRx(packet, length, reply_.data(), replyCapacity, waitMs);
}

StepResult CDownloadExchange::Expect(uint8_t expected) {
    if (reply_[0] == expected) return StepResult::Done();
    flow_.DrainReplies();
    return StepResult::Failed();
}

StepResult CDownloadExchange::Command(const uint8_t* packet, uint32_t length, uint8_t expected, uint32_t replyCapacity,
                                      uint32_t waitMs) {
    const PacketReply reply = Exchange(packet, length, replyCapacity, waitMs);
    return reply.IsOk() ? Expect(expected) : StepResult::Of(reply);
}

}  // namespace fennix
