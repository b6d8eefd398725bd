// The device's port as the host finds it on the bus: the pseudo-terminal and
// the stable path that points at it, both gone while the device has vanished,
// and the time the port is to come back. Kept apart from the device so that
// the port's comings and goings are one small state machine; the device
// resets its own session state around them.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "OutputSchedule.h"
#include "Pty.h"
#include "StablePath.h"

namespace fennix::sim {

class CBusPresence {
public:
    using Clock = std::chrono::steady_clock;

    // Claims the stable path and points it at a fresh pseudo-terminal. 0 or
    // an errno; on failure nothing is left claimed.
    int Appear(const std::string& directory, const std::string& name);
    // Closes the port and gives the stable path back, forgetting any vanish
    // or return still to come.
    void Disappear();

    // A vanish is queued behind the answers: input from now on is dropped.
    void MarkVanishQueued() { vanishQueued_ = true; }
    bool VanishQueued() const { return vanishQueued_; }
    // Takes the port off the bus; it comes back after `returnAfter` unless
    // `stayAway` (then only on ReturnNow).
    void Vanish(const VanishKind& kind, bool stayAway, std::chrono::milliseconds returnAfter);
    void ReturnNow();
    bool ReturnDue(Clock::time_point now) const { return returnPending_ && returnAt_ <= now; }
    // The time of the pending return (max when none).
    Clock::time_point NextReturn() const { return returnPending_ ? returnAt_ : Clock::time_point::max(); }

    struct Comeback {
        bool rebooted = false;  // a vanish since the last return stood for a reboot
        bool glitch = false;    // the firmware ran on: the boot is the same
    };
    // Brings the port back at its stable path. False when the port could
    // not be opened; another attempt is then due after `retryAfter`.
    bool Return(std::chrono::milliseconds retryAfter, Comeback* how);

    CPty& Port() { return pty_; }
    const CPty& Port() const { return pty_; }
    const std::string& Path() const { return pathText_; }
    // The pty slave behind the path; empty while the port has vanished.
    const std::string& SlavePath() const { return slavePath_; }

private:
    CPty pty_;
    CStablePath path_;
    std::string pathText_;
    std::string slavePath_;
    bool vanishQueued_ = false;
    bool returnPending_ = false;
    bool rebootOnReturn_ = false;
    bool glitchReturn_ = false;
    Clock::time_point returnAt_;
};

}  // namespace fennix::sim
