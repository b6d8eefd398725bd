// What a virtual device still has to send, in order: answers and unsolicited
// frames, each with the time it falls due, and the vanishes queued behind
// them. Written bytes that the port has not taken yet wait in a write buffer,
// and nothing due later overtakes them. Kept apart from the device so that the
// ordering rules live in one place; the device decides what a due vanish does.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <vector>

#include "DeviceOptions.h"

namespace fennix::sim {

class CPty;

// How the port comes back after a queued vanish.
struct VanishKind {
    bool reboot = false;    // as a freshly booted device: the session is forgotten
    bool stayAway = false;  // only on Replug
    bool glitch = false;    // with the boot kept (the firmware ran on)

    static VanishKind Reboot() { return {true, false, false}; }
    static VanishKind StayAway() { return {false, true, false}; }
    static VanishKind Glitch() { return {false, false, true}; }
};

struct OutputItem {
    using Clock = std::chrono::steady_clock;
    enum class Kind { Write, Vanish } kind = Kind::Write;
    Clock::time_point due;
    bool unsolicited = false;            // Write: recorded as unsolicited traffic
    std::vector<uint8_t> bytes;          // Write: wire bytes
    DeviceMode mode = DeviceMode::Diag;  // Write: mode it was framed for
    VanishKind vanish;                   // Vanish: how the port comes back
    Clock::time_point drainUntil;        // Vanish: latest time to wait for the host to read
    // Write: an answer held back for the next one to overtake (PushAheadOfHeld);
    // until then it is due when it goes out alone.
    bool held = false;
};

class COutputSchedule {
public:
    using Clock = OutputItem::Clock;

    void Push(OutputItem item) { items_.push_back(std::move(item)); }
    // The due time of the last item queued (min when none): a new item is
    // never due before it.
    Clock::time_point LastDue() const;
    // As LastDue, but ahead of a held answer at the back: what the answer
    // that overtakes it must not come before.
    Clock::time_point LastDueAheadOfHeld() const;
    // Queues the item ahead of a held answer at the back, which then follows
    // it at once; with none held, as Push.
    void PushAheadOfHeld(OutputItem item);
    // The front item when it is due at `now`, else null.
    OutputItem* DueFront(Clock::time_point now);
    OutputItem TakeFront();
    // Removes the writes due at `now` from the front, in order.
    std::vector<OutputItem> TakeDueWrites(Clock::time_point now);
    // When the device must look at the queue again (max: not before an
    // event). A write waits for the port to take the bytes before it; a
    // vanish does not.
    Clock::time_point NextDue() const;

    bool Idle() const { return items_.empty() && buffer_.empty(); }
    bool Writing() const { return !buffer_.empty(); }
    size_t Pending() const { return buffer_.size(); }
    void AddToWrite(const std::vector<uint8_t>& bytes) { buffer_.insert(buffer_.end(), bytes.begin(), bytes.end()); }
    // Hands the write buffer to the port as far as it takes it now. False
    // when a write failed; the buffer is dropped then, and whenever the port
    // is closed.
    bool WriteTo(const CPty& pty);
    void DropWrite() { buffer_.clear(); }
    void Clear();

private:
    std::deque<OutputItem> items_;
    std::vector<uint8_t> buffer_;
};

}  // namespace fennix::sim
