// The DIAG traffic a device sends without being asked while the host has its
// port open: log records, event reports and debug messages until the host
// switches them off.
#include "VirtualDevice.h"
#include "serial/Hdlc.h"

namespace fennix::sim {

bool CVirtualDevice::UnsolicitedWanted() const {
    const DeviceState& s = state_;
    return s.options.unsolicitedEveryMs > 0 && s.mode == DeviceMode::Diag && s.present && s.hostOpens > 0 &&
           !presence_.VanishQueued() && !(s.quietLogs && s.quietEvents && s.quietMessages);
}

// One log record (0x10), event report (0x60) or extended debug message (0x79)
// in turn, skipping the kinds already switched off. Sent only between
// answers, never into the middle of one.
void CVirtualDevice::SendUnsolicited(Clock::time_point now) {
    nextUnsolicited_ = now + std::chrono::milliseconds(state_.options.unsolicitedEveryMs);
    if (!output_.Idle()) return;
    const bool quiet[3] = {state_.quietLogs, state_.quietEvents, state_.quietMessages};
    const uint8_t codes[3] = {0x10, 0x60, 0x79};
    int kind = -1;
    for (int i = 0; i < 3 && kind < 0; ++i) {
        int k = static_cast<int>((unsolicitedCount_ + static_cast<uint32_t>(i)) % 3);
        if (!quiet[k]) kind = k;
    }
    if (kind < 0) return;
    ++unsolicitedCount_;
    std::vector<uint8_t> packet{codes[kind], 0x00, 0x0C, 0x00};
    for (int i = 0; i < 4; ++i) packet.push_back(static_cast<uint8_t>(unsolicitedCount_ >> (8 * i)));
    for (uint8_t b : {0x31, 0x10, 0x00, 0x00}) packet.push_back(b);
    OutputItem item;
    item.kind = OutputItem::Kind::Write;
    item.unsolicited = true;
    item.mode = state_.mode;
    item.bytes = PackFrame(packet.data(), packet.size(), 0, kHdlcFlag);
    link_.Configure(LinkOfKnobs(state_.options.knobs));
    item.due = link_.Modelled() ? link_.ToHost(now, item.bytes.size()) : now;
    output_.Push(std::move(item));
    RunDueItems(now);
}

}  // namespace fennix::sim
