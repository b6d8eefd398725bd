// Input from the host to the device's answers: AT command lines and frames
// are assembled from the bytes, recorded, checked against the injected fault
// and handed to the request hook or the packet handlers.
#include <algorithm>

#include "VirtualDevice.h"
#include "serial/Hdlc.h"

namespace fennix::sim {

void CVirtualDevice::ProcessInput(const uint8_t* bytes, size_t n) {
    link_.Configure(LinkOfKnobs(state_.options.knobs));
    const Clock::time_point readAt = lastInput_;
    std::vector<uint8_t> atOutput;  // echo and answers of this chunk, sent in one piece
    size_t atBytes = 0;             // AT text taken since the last answer
    auto flushAt = [&] {
        if (atBytes > 0) answerReady_ = Arrived(readAt, atBytes);
        atBytes = 0;
        if (!atOutput.empty()) Emit(std::move(atOutput), false, -1);
        atOutput.clear();
    };
    for (size_t i = 0; i < n; ++i) {
        if (presence_.VanishQueued()) {
            Record(EventKind::Discarded, std::vector<uint8_t>(bytes + i, bytes + n));
            break;
        }
        uint8_t byte = bytes[i];
        if (state_.mode == DeviceMode::At) {
            ++atBytes;
            if (state_.echoOn) atOutput.push_back(byte);
            CAtInterpreter::Line line;
            if (!at_.Feed(byte, &line)) continue;
            if (line.command.empty()) continue;
            Record(EventKind::Request, {}, line.command);
            if (line.echoOff) state_.echoOn = false;
            if (line.echoOn) state_.echoOn = true;
            const InjectedFault fault = TakeFaultFor(state_, DeviceMode::At, -1);
            if (fault == InjectedFault::Refused) line.switchToDiag = false;
            if (fault != InjectedFault::None) {
                flushAt();  // the echo so far goes out unspoiled
                if (StartInjectedFault(fault)) break;
                injecting_ = fault;
                const std::string answer = fault == InjectedFault::Refused ? "\r\nERROR\r\n" : line.answer;
                Emit(std::vector<uint8_t>(answer.begin(), answer.end()), false, -1);
                injecting_ = InjectedFault::None;
            } else {
                atOutput.insert(atOutput.end(), line.answer.begin(), line.answer.end());
            }
            if (line.switchToDiag) {
                flushAt();
                QueueModeSwitch(DeviceMode::Diag,
                                VanishIf(Vanishes(state_.options.vanishOnDiagSwitch, state_.options), false));
            }
            continue;
        }
        const bool download = state_.mode == DeviceMode::Download;
        assembler_.SetDownloadFraming(download);
        const CFrameAssembler::Result result = assembler_.Feed(byte);
        if (result == CFrameAssembler::Result::None) continue;
        // Every frame crosses the bus, good or not; a download frame's
        // opening flag is not in Raw().
        answerReady_ = Arrived(readAt, assembler_.Raw().size() + (download ? 1 : 0));
        switch (result) {
            case CFrameAssembler::Result::None: break;
            case CFrameAssembler::Result::Packet: HandlePacket(assembler_.Packet(), assembler_.Raw()); break;
            case CFrameAssembler::Result::BadFrame: Record(EventKind::BadFrame, assembler_.Raw()); break;
            case CFrameAssembler::Result::Discarded: Record(EventKind::Discarded, assembler_.Raw()); break;
        }
    }
    flushAt();
    answerReady_.reset();
}

std::optional<CVirtualDevice::Clock::time_point> CVirtualDevice::Arrived(Clock::time_point readAt, size_t bytes) {
    if (!link_.Modelled()) return std::nullopt;
    return link_.ToDevice(readAt, bytes);
}

void CVirtualDevice::HandlePacket(const std::vector<uint8_t>& packet, const std::vector<uint8_t>& raw) {
    std::vector<uint8_t> request = packet;
    std::vector<uint8_t> rawCopy = raw;
    Record(EventKind::Request, request);
    const int command = request.empty() ? -1 : request[0];
    const InjectedFault fault = TakeFaultFor(state_, state_.mode, command);
    if (fault != InjectedFault::None && StartInjectedFault(fault)) return;
    if (fault == InjectedFault::Refused) RememberRefused(state_, request);
    // A device that does not know a request refuses it each time it comes.
    const bool refuse = fault == InjectedFault::Refused || RefusedBefore(state_, request);
    CDeviceContext ctx(*this, state_, command, rawCopy);
    injecting_ = fault;
    if (refuse)
        ctx.Reject(request);
    else if (!(hook_ && hook_(ctx, request)) && !handlers_.Dispatch(state_.mode, ctx, request))
        ctx.Reject(request);
    injecting_ = InjectedFault::None;
}

bool CVirtualDevice::StartInjectedFault(InjectedFault fault) {
    Record(EventKind::Note, {}, std::string("injected fault: ") + InjectedFaultName(fault));
    switch (fault) {
        case InjectedFault::StrayFrame: EmitStrayFrame(); return false;
        case InjectedFault::Vanish: QueueModeSwitch(state_.mode, VanishKind::StayAway()); return true;
        case InjectedFault::VanishAndReturn: QueueModeSwitch(state_.mode, VanishKind::Glitch()); return true;
        default: return false;
    }
}

void CVirtualDevice::EmitStrayFrame() {
    const std::vector<uint8_t> packet = StrayLogRecord();
    OutputItem item;
    item.kind = OutputItem::Kind::Write;
    item.unsolicited = true;
    item.mode = state_.mode;
    item.bytes =
        PackFrame(packet.data(), packet.size(), state_.mode == DeviceMode::Download ? kHdlcFlag : 0, kHdlcFlag);
    const Clock::time_point atHost = answerReady_ ? link_.ToHost(*answerReady_, item.bytes.size()) : Clock::now();
    item.due = std::max(output_.LastDue(), atHost);
    output_.Push(std::move(item));
}

void CVirtualDevice::Record(EventKind kind, std::vector<uint8_t> bytes, std::string text) {
    RecordedEvent e;
    e.kind = kind;
    e.mode = state_.mode;
    uint32_t limit = state_.options.recordBytesLimit;
    if (limit > 0 && bytes.size() > limit) bytes.resize(limit);
    e.bytes = std::move(bytes);
    e.text = std::move(text);
    e.time = Clock::now();
    recording_.Add(std::move(e));
}

}  // namespace fennix::sim
