// How one step of the download ended. A step either did what it was for, or
// failed: the device answered but not with the step's acknowledgement, or a
// file of this computer stopped it (the commands' FileFault tells which), or
// its exchange failed, and then the packet layer's result says how (the
// caller of StartDownload sees that number).
#pragma once

#include "serial/ResultCodes.h"

namespace fennix {

enum class StepStatus { Done, Failed, LinkFailed };

struct StepResult {
    StepStatus status = StepStatus::Done;
    PacketResult link = PacketResult::Ok;  // LinkFailed: the exchange's failure

    static constexpr StepResult Done() { return {}; }
    static constexpr StepResult Failed() { return {StepStatus::Failed, PacketResult::Ok}; }
    static constexpr StepResult LinkFailed(PacketResult failure) { return {StepStatus::LinkFailed, failure}; }
    // A failed exchange as the step's result.
    static StepResult Of(const PacketReply& reply) { return reply.IsOk() ? Done() : LinkFailed(reply.result); }
    constexpr bool IsDone() const { return status == StepStatus::Done; }
    constexpr bool operator==(const StepResult& other) const { return status == other.status && link == other.link; }
    constexpr bool operator!=(const StepResult& other) const { return !(*this == other); }
};

}  // namespace fennix
