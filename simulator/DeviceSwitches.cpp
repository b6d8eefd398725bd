// The device's personality changes and its port leaving the bus and coming
// back, with the session state that goes with each.
#include <algorithm>

#include "VirtualDevice.h"

namespace fennix::sim {

namespace {

constexpr auto kRetryOpen = std::chrono::milliseconds(100);
// A device that leaves the bus does so a moment after its last answer, and
// not before a host that has the port open has read that answer (closing the
// pty would throw the unread bytes away); it waits for a host that does not
// read only so long.
constexpr auto kVanishAfterAnswer = std::chrono::milliseconds(20);
constexpr auto kVanishDrainLimit = std::chrono::milliseconds(2000);

}  // namespace

void CVirtualDevice::QueueModeSwitch(DeviceMode mode, std::optional<VanishKind> vanish) {
    if (mode != state_.mode) {
        RecordedEvent e;
        e.kind = EventKind::ModeChange;
        e.fromMode = state_.mode;
        e.mode = mode;
        e.time = Clock::now();
        recording_.Add(std::move(e));
        state_.mode = mode;
        at_.Reset();
        assembler_.Reset();
    }
    if (vanish) {
        OutputItem item;
        item.kind = OutputItem::Kind::Vanish;
        item.due = std::max(output_.LastDue(), Clock::now()) + kVanishAfterAnswer;
        item.drainUntil = item.due + kVanishDrainLimit;
        item.vanish = *vanish;
        output_.Push(std::move(item));
        presence_.MarkVanishQueued();
    }
    stateChanged_.notify_all();
}

void CVirtualDevice::DoVanish(const VanishKind& kind) {
    output_.DropWrite();
    link_.Reset();
    const bool stayAway = kind.stayAway || state_.options.faults.stayVanished;
    presence_.Vanish(kind, stayAway, std::chrono::milliseconds(state_.options.vanishMs));
    state_.present = false;
    state_.gone = stayAway;
    state_.hostOpens = 0;
    deferred_.pending = false;
    at_.Reset();
    assembler_.Reset();
    Record(EventKind::Vanished);
}

void CVirtualDevice::DoReturn() {
    CBusPresence::Comeback how;
    if (!presence_.Return(kRetryOpen, &how)) {
        Record(EventKind::Note, {}, "port could not come back, retrying");
        return;
    }
    state_.present = true;
    state_.gone = false;
    quietSince_ = Clock::now();
    if (!how.glitch) ++state_.bootCount;
    if (how.rebooted) state_.ForgetSession();
    assembler_.Reset();
    at_.Reset();
    Record(EventKind::Returned, {}, presence_.SlavePath());
}

CVirtualDevice::Clock::time_point CVirtualDevice::IdleLeaveDue() const {
    const uint32_t idleMs = state_.options.leaveAfterIdleMs;
    // A device the host never opened waits for its host; one in the middle
    // of a switch or reset is not done with it.
    if (idleMs == 0 || !state_.present || state_.hostOpens > 0 || state_.hostOpenTotal == 0 ||
        presence_.VanishQueued() || deferred_.pending || !output_.Idle())
        return Clock::time_point::max();
    return quietSince_ + std::chrono::milliseconds(idleMs);
}

void CVirtualDevice::LeaveWhenIdle(Clock::time_point now) {
    if (IdleLeaveDue() > now) return;
    Record(EventKind::Note, {}, "taken out after its work");
    DoVanish(VanishKind::StayAway());
}

}  // namespace fennix::sim
