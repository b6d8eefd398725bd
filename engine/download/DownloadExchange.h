// CDownloadExchange: one download-mode request and the judgement of its reply,
// shared by the DMSS and the streaming commands. It owns the packet and reply
// scratch space of the commands built on it.
#pragma once

#include <cstdint>
#include <vector>

#include "download/FlowContext.h"
#include "download/StepResult.h"
#include "flow/FlowEvents.h"
#include "serial/ResultCodes.h"

namespace fennix {

class CDownloadExchange {
public:
    CDownloadExchange(const CDownloadExchange&) = delete;
    CDownloadExchange& operator=(const CDownloadExchange&) = delete;

    // Why the latest step failed on a file of this computer (FileMissing or
    // FileDamaged); None when it failed on the device, or did not fail.
    Cause FileFault() const { return fileFault_; }

protected:
    explicit CDownloadExchange(IFlowContext& flow) : flow_(flow) {}
    ~CDownloadExchange() = default;

    // Sends one packet whose reply must start with `expected`; drains and
    // fails on another reply, passes a failed exchange through.
    StepResult Command(const uint8_t* packet, uint32_t length, uint8_t expected, uint32_t replyCapacity,
                       uint32_t waitMs);
    // One DLTxRx into the reply scratch (cleared first).
    PacketReply Exchange(const uint8_t* packet, uint32_t length, uint32_t replyCapacity, uint32_t waitMs);
    // Done when the reply starts with `expected`, else drains and fails.
    StepResult Expect(uint8_t expected);

    IFlowContext& flow_;
    std::vector<uint8_t> packet_;
    std::vector<uint8_t> reply_;
    Cause fileFault_ = Cause::None;
};

}  // namespace fennix
