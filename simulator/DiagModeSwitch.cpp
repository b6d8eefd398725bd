// DIAG answers the host needs on its way from DIAG into download mode: build
// ID (platform), version (version directory), status (RF mode and state
// value), offline, the three quieting requests, and the download switch.
#include <string>

#include "DeviceContext.h"
#include "PacketHandlers.h"

namespace fennix::sim {
namespace {

void PutLe16(std::vector<uint8_t>& out, size_t at, uint16_t value) {
    out[at] = static_cast<uint8_t>(value);
    out[at + 1] = static_cast<uint8_t>(value >> 8);
}

void PutLe32(std::vector<uint8_t>& out, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) out[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

void AppendText(std::vector<uint8_t>& out, const std::string& text, size_t width) {
    for (size_t i = 0; i < width; ++i) out.push_back(i < text.size() ? static_cast<uint8_t>(text[i]) : 0);
}

// 7C: version, two reserved bytes, MSM hardware version, mobile model ID, then
// the build text and the model text, each NUL-terminated. The build text thus
// starts at byte 12, where the host reads the platform ID.
bool BuildId(CDeviceContext& ctx, const Packet&) {
    const DeviceOptions& o = ctx.State().options;
    std::vector<uint8_t> reply(12, 0);
    reply[0] = 0x7C;
    reply[1] = 0x02;
    PutLe32(reply, 4, o.msmHardwareVersion);
    PutLe32(reply, 8, o.mobileModelId);
    std::string build = BuildIdText(o);
    reply.insert(reply.end(), build.begin(), build.end());
    reply.push_back(0);
    reply.insert(reply.end(), o.model.begin(), o.model.end());
    reply.push_back(0);
    ctx.Reply(reply);
    return true;
}

// 00: compile date and time, release date and time, version directory (bytes
// 39..46), then station class mark, CAI revision, model, firmware revision,
// slot cycle index and hardware version.
bool Version(CDeviceContext& ctx, const Packet&) {
    const DeviceOptions& o = ctx.State().options;
    std::vector<uint8_t> reply{0x00};
    AppendText(reply, o.compileDate, 11);
    AppendText(reply, o.compileTime, 8);
    AppendText(reply, o.releaseDate, 11);
    AppendText(reply, o.releaseTime, 8);
    AppendText(reply, o.versionDirectory, 8);
    for (uint8_t b : {0x01, 0x06, 0x56, 0x10, 0x00, 0x02, 0x01, 0x00}) reply.push_back(b);
    ctx.Reply(reply);
    return true;
}

// 0C: 60 bytes with the ESN at 4..7, the RF mode at 8..9 and the state value at
// 32..33. After the offline request the state changes from the online to the
// offline value once the configured number of polls has passed.
bool Status(CDeviceContext& ctx, const Packet&) {
    DeviceState& s = ctx.State();
    const DeviceOptions& o = s.options;
    uint16_t state = o.onlineState;
    if (s.offlineRequested) {
        ++s.statusPollsSinceOffline;
        if (!o.faults.offlineNeverSettles && s.statusPollsSinceOffline > o.offlineAfterPolls) state = o.offlineState;
    }
    std::vector<uint8_t> reply(60, 0);
    reply[0] = 0x0C;
    reply[1] = 0x01;
    reply[2] = 0x01;
    PutLe32(reply, 4, o.esn);
    PutLe16(reply, 8, o.rfMode);
    PutLe16(reply, 32, state);
    ctx.Reply(reply);
    return true;
}

// 29: mode control, echoed. 0 and 1 take the device offline, 2 resets it
// (it vanishes and comes back in DIAG), 4 brings it online again.
bool ModeControl(CDeviceContext& ctx, const Packet& p) {
    if (p.size() < 3) return false;
    ctx.Reply(p);
    DeviceState& s = ctx.State();
    uint16_t mode = static_cast<uint16_t>(p[1] | (p[2] << 8));
    if (mode == 0 || mode == 1) {
        s.offlineRequested = true;
        s.statusPollsSinceOffline = 0;
    } else if (mode == 2) {
        ctx.Reboot(DeviceMode::Diag);
    } else if (mode == 4) {
        s.offlineRequested = false;
    }
    return true;
}

bool QuietMessages(CDeviceContext& ctx, const Packet& p) {
    ctx.State().quietMessages = true;
    ctx.Reply(p);
    return true;
}

bool QuietEvents(CDeviceContext& ctx, const Packet& p) {
    ctx.State().quietEvents = true;
    ctx.Reply(p);
    return true;
}

bool QuietLogs(CDeviceContext& ctx, const Packet& p) {
    ctx.State().quietLogs = true;
    ctx.Reply(p);
    return true;
}

// 3A: no answer (with the knob diag.ack-download-switch set, the request is
// echoed first, as some firmware does); the device restarts in download mode,
// off the bus for a moment unless it is a platform that switches in place.
bool DownloadSwitch(CDeviceContext& ctx, const Packet& p) {
    const DeviceOptions& o = ctx.State().options;
    if (ctx.Knob("diag.ack-download-switch") != 0) ctx.Reply(p);
    bool vanish = Vanishes(o.vanishOnDownloadSwitch, o);
    if (o.switchAfterHostCloses)
        ctx.SwitchModeWhenHostCloses(DeviceMode::Download, vanish, vanish);
    else if (vanish)
        ctx.Reboot(DeviceMode::Download);
    else
        ctx.SwitchMode(DeviceMode::Download, false);
    return true;
}

}  // namespace

void InstallModeSwitchHandlers(CHandlerTable& table) {
    table.Add(DeviceMode::Diag, 0x7C, BuildId);
    table.Add(DeviceMode::Diag, 0x00, Version);
    table.Add(DeviceMode::Diag, 0x0C, Status);
    table.Add(DeviceMode::Diag, 0x29, ModeControl);
    table.Add(DeviceMode::Diag, 0x1F, QuietMessages);
    table.Add(DeviceMode::Diag, 0x60, QuietEvents);
    table.Add(DeviceMode::Diag, 0x73, QuietLogs);
    table.Add(DeviceMode::Diag, 0x3A, DownloadSwitch);
}

}  // namespace fennix::sim
