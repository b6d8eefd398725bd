// How a virtual device answers packets. Each mode (DIAG, download) has a table
// from command code to handlers; a handler that returns false passes the
// packet on to the next handler of the same code, and when none takes it the
// device refuses it the way its mode does (DIAG: 0x13 "bad command"; download:
// a NAK).
//
// Protocol extensions add themselves to the table every device starts with by
// defining a static CHandlerRegistration in their own source file:
//
//     static bool HandleGo(CDeviceContext& ctx, const Packet& p) { ...; return true; }
//     static const CHandlerRegistration kGo(DeviceMode::Download, 0x05, HandleGo);
//
// Tests change one device's table through CVirtualDevice::SetHandler.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <utility>
#include <vector>

#include "DeviceOptions.h"

namespace fennix::sim {

// The DMSS acknowledgement: download mode's answer to a NOP, a write and go.
constexpr uint8_t kDmssAck = 0x02;

class CDeviceContext;

using Packet = std::vector<uint8_t>;
using PacketHandler = std::function<bool(CDeviceContext& ctx, const Packet& packet)>;

class CHandlerTable {
public:
    // Adds a handler behind those already registered for the code.
    void Add(DeviceMode mode, uint8_t command, PacketHandler handler);
    // Puts a handler in front of those already registered for the code.
    void AddFirst(DeviceMode mode, uint8_t command, PacketHandler handler);
    // Replaces every handler of the code with this one.
    void Set(DeviceMode mode, uint8_t command, PacketHandler handler);
    // Drops every handler of the code: the device then refuses it.
    void Remove(DeviceMode mode, uint8_t command);

    // Offers the packet to the handlers of its code in order; false when none took it.
    bool Dispatch(DeviceMode mode, CDeviceContext& ctx, const Packet& packet) const;
    size_t HandlerCount(DeviceMode mode, uint8_t command) const;

private:
    std::map<std::pair<int, int>, std::vector<PacketHandler>> handlers_;
};

// The table every new device copies: the probe and mode-switch answers come
// first, extensions follow in the order of their static registration. Filled
// during static initialisation; read-only afterwards.
CHandlerTable& DefaultHandlers();

struct CHandlerRegistration {
    enum class Placement { Behind, InFront };
    CHandlerRegistration(DeviceMode mode, uint8_t command, PacketHandler handler,
                         Placement placement = Placement::Behind) {
        if (placement == Placement::InFront)
            DefaultHandlers().AddFirst(mode, command, std::move(handler));
        else
            DefaultHandlers().Add(mode, command, std::move(handler));
    }
};

// The built-in answers (DiagModeSwitch.cpp, DownloadBasics.cpp).
void InstallModeSwitchHandlers(CHandlerTable& table);
void InstallDownloadBasics(CHandlerTable& table);

// Runs before the handler table on every packet; returning true means the hook
// dealt with the packet (answered it, or chose silence). Used by tests and by
// extensions for faults of their own. Like handlers, hooks run with the device
// locked: they act through the context only, never through CVirtualDevice.
using RequestHook = std::function<bool(CDeviceContext& ctx, const Packet& packet)>;

}  // namespace fennix::sim
