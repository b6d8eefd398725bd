#include "Recording.h"

#include <cstdio>

namespace fennix::sim {

const char* EventKindName(EventKind kind) {
    switch (kind) {
        case EventKind::Request: return "request";
        case EventKind::Answer: return "answer";
        case EventKind::Suppressed: return "suppressed";
        case EventKind::BadFrame: return "bad-frame";
        case EventKind::Discarded: return "discarded";
        case EventKind::ModeChange: return "mode-change";
        case EventKind::Vanished: return "vanished";
        case EventKind::Returned: return "returned";
        case EventKind::Note: return "note";
        case EventKind::HostOpened: return "host-opened";
        case EventKind::HostClosed: return "host-closed";
        case EventKind::Unsolicited: return "unsolicited";
    }
    return "?";
}

void CRecording::Add(RecordedEvent event) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        event.sequence = nextSequence_++;
        events_.push_back(std::move(event));
    }
    changed_.notify_all();
}

void CRecording::Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    events_.clear();
}

std::vector<RecordedEvent> CRecording::Events() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return events_;
}

static bool IsRequest(const RecordedEvent& e, DeviceMode mode, int command) {
    return e.kind == EventKind::Request && e.mode == mode && (command < 0 || e.Command() == command);
}

std::vector<std::vector<uint8_t>> CRecording::Requests(DeviceMode mode, int command) const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::vector<uint8_t>> out;
    for (const auto& e : events_)
        if (IsRequest(e, mode, command)) out.push_back(e.bytes);
    return out;
}

size_t CRecording::CountRequests(DeviceMode mode, int command) const {
    std::lock_guard<std::mutex> lock(mutex_);
    size_t n = 0;
    for (const auto& e : events_) n += IsRequest(e, mode, command) ? 1 : 0;
    return n;
}

std::vector<std::string> CRecording::AtCommands() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> out;
    for (const auto& e : events_)
        if (e.kind == EventKind::Request && e.mode == DeviceMode::At) out.push_back(e.text);
    return out;
}

std::vector<ModeTransition> CRecording::Transitions() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<ModeTransition> out;
    for (const auto& e : events_)
        if (e.kind == EventKind::ModeChange) out.push_back({e.fromMode, e.mode});
    return out;
}

size_t CRecording::Count(EventKind kind) const {
    std::lock_guard<std::mutex> lock(mutex_);
    size_t n = 0;
    for (const auto& e : events_) n += e.kind == kind ? 1 : 0;
    return n;
}

bool CRecording::WaitUntil(const std::function<bool(const std::vector<RecordedEvent>&)>& predicate,
                           std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return predicate(events_); });
}

bool CRecording::WaitForCount(EventKind kind, size_t count, std::chrono::milliseconds timeout) const {
    return WaitUntil(
        [&](const std::vector<RecordedEvent>& events) {
            size_t n = 0;
            for (const auto& e : events) n += e.kind == kind ? 1 : 0;
            return n >= count;
        },
        timeout);
}

bool CRecording::WaitForRequests(DeviceMode mode, int command, size_t count, std::chrono::milliseconds timeout) const {
    return WaitUntil(
        [&](const std::vector<RecordedEvent>& events) {
            size_t n = 0;
            for (const auto& e : events) n += IsRequest(e, mode, command) ? 1 : 0;
            return n >= count;
        },
        timeout);
}

std::string CRecording::Dump() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string out;
    char hex[4];
    char time[40];
    for (const auto& e : events_) {
        out += std::to_string(e.sequence);
        // Microseconds of the monotonic clock, which every process of the
        // machine shares: a device's record lines up with its host's log.
        std::snprintf(time, sizeof time, " @%.6f ", std::chrono::duration<double>(e.time.time_since_epoch()).count());
        out += time;
        out += EventKindName(e.kind);
        out += ' ';
        if (e.kind == EventKind::ModeChange) {
            out += ModeName(e.fromMode);
            out += "->";
        }
        out += ModeName(e.mode);
        if (!e.text.empty()) out += " \"" + e.text + "\"";
        size_t shown = 0;
        for (uint8_t b : e.bytes) {
            if (++shown > 48) {
                out += " ...";
                break;
            }
            std::snprintf(hex, sizeof hex, " %02X", b);
            out += hex;
        }
        out += '\n';
    }
    return out;
}

CRecording::StreamWindowSeen CRecording::StreamWindow() const {
    constexpr int kStreamWrite = 0x07;  // alone: the DMSS parameter request
    constexpr uint8_t kStreamWriteReply = 0x08;
    StreamWindowSeen seen;
    int outstanding = 0;
    for (const RecordedEvent& e : Events()) {
        if (e.mode != DeviceMode::Download) continue;
        if (e.kind == EventKind::Request && e.Command() == kStreamWrite && e.bytes.size() > 5) {
            seen.mostOutstanding = std::max(seen.mostOutstanding, ++outstanding);
            seen.largestBlock = std::max(seen.largestBlock, e.bytes.size() - 5);
        }
        // Answers are recorded framed, behind their opening flag. The DMSS
        // parameter reply shares the code and comes before any stream write.
        if (e.kind == EventKind::Answer && e.bytes.size() > 1 && e.bytes[1] == kStreamWriteReply)
            outstanding = std::max(0, outstanding - 1);
    }
    return seen;
}

}  // namespace fennix::sim
