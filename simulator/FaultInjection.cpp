#include "FaultInjection.h"

#include "DeviceState.h"

namespace fennix::sim {

namespace {

const char* const kNames[] = {"none",      "no-answer", "late-answer", "wrong-command", "wrong-echo", "stray-frame",
                              "truncated", "bad-crc",   "vanish",      "vanish-return", "refused"};
constexpr int kFaultCount = sizeof kNames / sizeof kNames[0];
// The knob fault.kind is registered up to the last fault.
static_assert(kFaultCount == static_cast<int>(InjectedFault::Refused) + 1);

// Counted per device; the count starts again whenever the point is set.
struct InjectionCount {
    uint32_t seen = 0;
    bool fired = false;
    std::vector<uint8_t> refused;
};

}  // namespace

const char* InjectedFaultName(InjectedFault fault) {
    const int i = static_cast<int>(fault);
    return i >= 0 && i < kFaultCount ? kNames[i] : "?";
}

KnobCheck SetFaultPoint(DeviceOptions& options, const FaultPoint& point) {
    const std::pair<const char*, int64_t> knobs[] = {{"fault.kind", static_cast<int64_t>(point.fault)},
                                                     {"fault.mode", point.mode},
                                                     {"fault.command", point.command},
                                                     {"fault.nth", point.nth},
                                                     {"fault.late-ms", point.lateMs}};
    // All or nothing: half a point would arm a fault nobody asked for.
    for (const auto& [name, value] : knobs)
        if (KnobCheck check = CheckKnob(name, value); !check.Ok()) return check;
    for (const auto& [name, value] : knobs) options.knobs.Set(name, value);
    return {};
}

FaultPoint FaultPointOf(const DeviceState& state) {
    FaultPoint p;
    const int64_t kind = state.Knob("fault.kind");
    if (kind == 0) return p;
    p.fault = static_cast<InjectedFault>(kind);
    p.mode = static_cast<int>(state.Knob("fault.mode"));
    p.command = static_cast<int>(state.Knob("fault.command"));
    p.nth = static_cast<uint32_t>(state.Knob("fault.nth"));
    p.lateMs = static_cast<uint32_t>(state.Knob("fault.late-ms"));
    return p;
}

KnobCheck InjectFaultPoint(DeviceState& state, const FaultPoint& point) {
    KnobCheck check = SetFaultPoint(state.options, point);
    if (check.Ok()) state.Extension<InjectionCount>() = InjectionCount{};
    return check;
}

InjectedFault TakeFaultFor(DeviceState& state, DeviceMode mode, int command) {
    if (state.options.knobs.empty()) return InjectedFault::None;
    const FaultPoint point = FaultPointOf(state);
    if (point.fault == InjectedFault::None || !point.Matches(mode, command)) return InjectedFault::None;
    InjectionCount& count = state.Extension<InjectionCount>();
    if (count.fired || ++count.seen != point.nth) return InjectedFault::None;
    count.fired = true;
    return point.fault;
}

void RememberRefused(DeviceState& state, const std::vector<uint8_t>& packet) {
    state.Extension<InjectionCount>().refused = packet;
}

bool RefusedBefore(DeviceState& state, const std::vector<uint8_t>& packet) {
    if (state.options.knobs.empty()) return false;
    const std::vector<uint8_t>& refused = state.Extension<InjectionCount>().refused;
    return !refused.empty() && refused == packet;
}

void SpoilEcho(std::vector<uint8_t>& packet) {
    if (packet.empty()) return;
    const bool subsystem = packet[0] == 0x4B && packet.size() >= 4;
    if (subsystem) {
        packet[2] ^= 0xFF;
        packet[3] ^= 0xFF;
    } else if (packet.size() >= 2) {
        packet[1] ^= 0xFF;
    } else {
        packet[0] ^= 0xFF;
    }
}

void Truncate(std::vector<uint8_t>& packetOrText) { packetOrText.resize(packetOrText.size() / 2); }

std::vector<uint8_t> StrayLogRecord() {
    return {0x10, 0x00, 0x0C, 0x00, 0xFA, 0xCE, 0x00, 0x00, 0x31, 0x10, 0x00, 0x00};
}

}  // namespace fennix::sim
