// What a virtual device saw and did, in order, for tests to check afterwards
// or to wait for while the device runs. Thread-safe.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "DeviceOptions.h"

namespace fennix::sim {

enum class EventKind {
    Request,      // a packet (or an AT command line) the device accepted
    Answer,       // bytes the device wrote to the port, as they went on the wire
    Suppressed,   // an answer swallowed by the silent fault
    BadFrame,     // a frame that failed its check, raw bytes
    Discarded,    // bytes outside any frame in download mode
    ModeChange,   // the device's personality changed (from -> to)
    Vanished,     // the port went away
    Returned,     // the port came back
    Note,         // free text from a handler
    HostOpened,   // the host opened the port
    HostClosed,   // the host closed the port
    Unsolicited,  // DIAG traffic nobody asked for, as it went on the wire
};

const char* EventKindName(EventKind kind);

struct RecordedEvent {
    uint64_t sequence = 0;
    std::chrono::steady_clock::time_point time;
    EventKind kind = EventKind::Note;
    DeviceMode mode = DeviceMode::Diag;      // the mode at the time (ModeChange: the new mode)
    DeviceMode fromMode = DeviceMode::Diag;  // ModeChange only
    std::vector<uint8_t> bytes;
    std::string text;  // AT command line, note text

    int Command() const { return bytes.empty() ? -1 : bytes[0]; }
};

struct ModeTransition {
    DeviceMode from;
    DeviceMode to;
};

class CRecording {
public:
    void Add(RecordedEvent event);
    void Clear();

    std::vector<RecordedEvent> Events() const;
    // Packets of the given mode, optionally only those with the command code.
    std::vector<std::vector<uint8_t>> Requests(DeviceMode mode, int command = -1) const;
    size_t CountRequests(DeviceMode mode, int command = -1) const;
    std::vector<std::string> AtCommands() const;
    std::vector<ModeTransition> Transitions() const;
    size_t Count(EventKind kind) const;

    // Blocks until the predicate holds over the events so far, or the time is up.
    bool WaitUntil(const std::function<bool(const std::vector<RecordedEvent>&)>& predicate,
                   std::chrono::milliseconds timeout) const;
    bool WaitForCount(EventKind kind, size_t count, std::chrono::milliseconds timeout) const;
    bool WaitForRequests(DeviceMode mode, int command, size_t count, std::chrono::milliseconds timeout) const;

    // One line per event, with the time it was read or written, for failure
    // messages.
    std::string Dump() const;

    // How the host streamed: the most stream writes the device had received
    // and not yet answered at once (resent blocks count again), and the
    // largest block it received.
    struct StreamWindowSeen {
        int mostOutstanding = 0;
        size_t largestBlock = 0;
    };
    StreamWindowSeen StreamWindow() const;

private:
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<RecordedEvent> events_;
    uint64_t nextSequence_ = 1;
};

}  // namespace fennix::sim
