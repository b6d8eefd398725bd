// What every flow below the session tells about itself: the stage it is in,
// its progress within the stage, and how it ended and why. The download and
// NV layers speak only these types; the session turns them into the public
// events and the exports' integers.
#pragma once

#include <cstdint>

namespace fennix {

// The stages of a flow, in the order a download passes them. The values are
// the public FennixStage's (the session checks that they stay so).
enum class Stage : int32_t {
    None = 0,
    Open = 1,
    ModeSwitch = 2,
    Programmer = 3,
    Hello = 4,
    PartitionTable = 5,
    ImageOpen = 6,
    ImageWrite = 7,
    ImageClose = 8,
    Reset = 9,
    PowerOnCheck = 10,
    NvItem = 11,
    File = 12,
};

// Why a flow failed; the values are the public FennixCause's.
enum class Cause : int32_t {
    None = 0,
    PortMissing = 1,
    PortBusy = 2,
    PortForbidden = 3,
    NoAnswer = 4,
    ModeSwitchFailed = 5,
    ProgrammerRefused = 6,
    ImageOpenRefused = 7,
    ImageWriteRefused = 8,
    ImageCloseRefused = 9,
    NotBackAfterReset = 10,
    StoppedAnswering = 11,
    FileMissing = 12,
    FileDamaged = 13,
    Cancelled = 14,
    DeviceRefused = 15,
};

// How a flow ended. The exports make their integers of it.
enum class FlowResult {
    Succeeded,
    Failed,       // the flow's plain failure
    ResetFailed,  // a download whose reset request failed
    LinkFailed,   // a request or the mode change failed: the packet layer's result is kept
};

struct FlowOutcome {
    FlowResult result = FlowResult::Succeeded;
    Cause cause = Cause::None;
    int32_t linkResult = 0;  // LinkFailed: the packet layer's negative result

    static FlowOutcome Success() { return {}; }
    static FlowOutcome Failure(Cause why) { return {FlowResult::Failed, why, 0}; }
    // A request or the mode change failed: `packetResult` is the packet
    // layer's result, kept for the caller.
    static FlowOutcome LinkFailure(int32_t packetResult, Cause why) {
        return {FlowResult::LinkFailed, why, packetResult};
    }
    bool Succeeded() const { return result == FlowResult::Succeeded; }
};

// Where a flow reports its stages and progress. The session forwards them to
// the caller's event receiver; a flow run without one tells nobody.
class IFlowEvents {
public:
    // `image` is the image's place in the flash order and `imageName` its
    // name, for the image stages; -1 and null otherwise.
    virtual void EnterStage(Stage /*stage*/, int32_t /*image*/ = -1, const char* /*imageName*/ = nullptr) {}
    // Bytes or items done within the current stage, of `total` (0: not known).
    virtual void Progress(uint64_t /*done*/, uint64_t /*total*/) {}

protected:
    ~IFlowEvents() = default;
};

// The receiver of a flow run without one: it tells nobody.
inline IFlowEvents& NoFlowEvents() {
    static struct Silent : IFlowEvents {
    } silent;
    return silent;
}

}  // namespace fennix
