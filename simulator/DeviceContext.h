// What a packet handler can do while it answers one request. Handlers run on
// the device's thread with the device locked; everything they queue goes out
// in order after they return.
#pragma once

#include <chrono>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "DeviceState.h"
#include "PacketHandlers.h"

namespace fennix::sim {

class CVirtualDevice;

// Where an answer goes in the device's output: in order behind the others, or
// held for the next answer to overtake (an answer out of order), or as that
// next answer.
struct ReplyOrder {
    enum class Kind { InOrder, Held, AheadOfHeld } kind = Kind::InOrder;
    // Held: the answer goes out alone this long after it would have.
    std::chrono::milliseconds holdAtMost{0};

    static ReplyOrder Held(std::chrono::milliseconds most) { return {Kind::Held, most}; }
    static ReplyOrder AheadOfHeld() { return {Kind::AheadOfHeld, {}}; }
};

class CDeviceContext {
public:
    DeviceState& State() { return state_; }
    DeviceMode Mode() const { return state_.mode; }
    int64_t Knob(std::string_view name) const { return state_.Knob(name); }
    // Command code of the request being answered (-1 in AT mode).
    int Command() const { return command_; }

    // Sends a packet framed for the current mode (DIAG: packet, CRC, flag;
    // download: opening flag too). The answer faults apply.
    void Reply(const std::vector<uint8_t>& packet);
    void Reply(std::initializer_list<uint8_t> packet) { Reply(std::vector<uint8_t>(packet)); }
    void Reply(const std::vector<uint8_t>& packet, ReplyOrder order);
    // Refuses the request as the mode does: DIAG 0x13 + the request (or 0x14 +
    // the raw frame, by the reject form option); download NAK 03 00 06.
    void Reject(const Packet& packet);

    // Changes the personality after the answers queued so far. With vanish the
    // port drops off for the vanish time; a reboot also forgets the session
    // (offline request, quieting, AT echo setting).
    void SwitchMode(DeviceMode mode, bool vanish);
    void Reboot(DeviceMode mode);
    // The same, but only once the host has closed the port (at once when it
    // has it closed already).
    void SwitchModeWhenHostCloses(DeviceMode mode, bool vanish, bool reboot);

    void Note(const std::string& text);

private:
    friend class CVirtualDevice;
    CDeviceContext(CVirtualDevice& device, DeviceState& state, int command, const std::vector<uint8_t>& raw)
        : device_(device), state_(state), command_(command), raw_(raw) {}

    CVirtualDevice& device_;
    DeviceState& state_;
    int command_;
    const std::vector<uint8_t>& raw_;
};

}  // namespace fennix::sim
