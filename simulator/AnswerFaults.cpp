// An answer on its way out: the fault switches and the injected fault spoil,
// delay or swallow it, then it is framed for the mode and queued in order.
#include <algorithm>

#include "VirtualDevice.h"
#include "serial/Hdlc.h"

namespace fennix::sim {

namespace {

// Changes one bit of the byte in front of the closing flag. That byte is part
// of the CRC (possibly the second byte of an escape pair), so the frame then
// fails its check; the bit is chosen so that no new flag or escape appears.
void SpoilCrc(std::vector<uint8_t>& frame) {
    if (frame.size() < 2) return;
    uint8_t& b = frame[frame.size() - 2];
    uint8_t spoiled = b ^ 0x01;
    if (spoiled == kHdlcFlag || spoiled == kHdlcEscape) spoiled = b ^ 0x02;
    b = spoiled;
}

}  // namespace

void CVirtualDevice::Emit(std::vector<uint8_t> data, bool framed, int command, ReplyOrder order) {
    Faults& f = state_.options.faults;
    bool applies = f.AnyAnswerFault() && (f.onlyCommand < 0 || f.onlyCommand == command) && f.answersToSpoil != 0;
    if (applies && f.answersToSpoil > 0) --f.answersToSpoil;

    if (applies && f.wrongFirstByte && !data.empty()) data[0] ^= 0xFF;
    const InjectedFault injected = injecting_;
    if (injected == InjectedFault::WrongCommand && !data.empty()) data[0] ^= 0xFF;
    if (injected == InjectedFault::WrongEcho) {
        if (framed)
            SpoilEcho(data);
        else if (!data.empty())
            data[0] ^= 0xFF;
    }
    if (injected == InjectedFault::Truncated) Truncate(data);
    std::vector<uint8_t> wire;
    if (framed) {
        uint8_t leading = state_.mode == DeviceMode::Download ? kHdlcFlag : 0;
        wire = PackFrame(data.data(), data.size(), leading, kHdlcFlag);
        if ((applies && f.corruptCrc) || injected == InjectedFault::BadCrc) SpoilCrc(wire);
    } else {
        wire = std::move(data);
    }
    if ((applies && f.silent) || injected == InjectedFault::NoAnswer) {
        Record(EventKind::Suppressed, std::move(wire));
        return;
    }
    uint32_t delayMs = applies ? f.replyDelayMs : 0;
    if (injected == InjectedFault::LateAnswer) delayMs += FaultPointOf(state_).lateMs;
    // The delays of the faults come on top of the link's: the answer is held
    // at the host's end of the bus, which stays free for the answers behind it.
    Clock::time_point atHost = answerReady_ ? link_.ToHost(*answerReady_, wire.size()) : Clock::now();
    atHost += std::chrono::milliseconds(delayMs);
    OutputItem item;
    item.kind = OutputItem::Kind::Write;
    item.bytes = std::move(wire);
    item.mode = state_.mode;
    switch (order.kind) {
        case ReplyOrder::Kind::InOrder:
            item.due = std::max(output_.LastDue(), atHost);
            output_.Push(std::move(item));
            break;
        case ReplyOrder::Kind::Held:
            item.held = true;
            item.due = std::max(output_.LastDue(), atHost + order.holdAtMost);
            output_.Push(std::move(item));
            break;
        case ReplyOrder::Kind::AheadOfHeld:
            item.due = std::max(output_.LastDueAheadOfHeld(), atHost);
            output_.PushAheadOfHeld(std::move(item));
            break;
    }
}

}  // namespace fennix::sim
