// CDownloadExchange: one download-mode request and the judgement of its reply,
// shared by the DMSS and the streaming commands. It owns the packet and reply
// scratch space of the commands built on it.
#pragma once

#include <cstdint>
#include <vector>

#include "download/FlowContext.h"

namespace fennix {

class CDownloadExchange {
public:
    CDownloadExchange(const CDownloadExchange&) = delete;
    CDownloadExchange& operator=(const CDownloadExchange&) = delete;

protected:
    explicit CDownloadExchange(IFlowContext& flow) : flow_(flow) {}
    ~CDownloadExchange() = default;

    // Sends one packet whose reply must start with `expected`; drains and
    // gives -1 on another reply, passes a failed exchange through.
    int32_t Command(const uint8_t* packet, uint32_t length, uint8_t expected, uint32_t replyCapacity, uint32_t waitMs);
    // One DLTxRx into the reply scratch (cleared first): its result.
    int32_t Exchange(const uint8_t* packet, uint32_t length, uint32_t replyCapacity, uint32_t waitMs);
    // 1 when the reply starts with `expected`, else drains and gives -1.
    int32_t Expect(uint8_t expected);

    IFlowContext& flow_;
    std::vector<uint8_t> packet_;
    std::vector<uint8_t> reply_;
};

}  // namespace fennix
