// Everything a virtual device knows about itself. One instance per device,
// guarded by the device's lock: packet handlers get it through their
// CDeviceContext on the device thread, tests through CVirtualDevice::WithState.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <typeindex>
#include <unordered_map>

#include "DeviceOptions.h"

namespace fennix::sim {

struct DeviceState {
    DeviceOptions options;  // live settings; changes apply to the next request

    DeviceMode mode = DeviceMode::Diag;
    bool present = false;  // the port exists (false while vanished or stopped)
    // The port vanished with no return to come (unplugged, taken out after its
    // work, or a vanish under stayVanished): only Replug brings it back.
    bool gone = false;
    uint32_t bootCount = 0;  // grows each time the device comes back from a vanish (not from a glitch)
    // Opens and closes of the port by the host, as inotify reports them. The
    // kernel merges identical events that follow each other unread, so the
    // counts are exact for a host that holds one descriptor at a time (as the
    // engine does) and may run short for one that holds several at once.
    uint32_t hostOpens = 0;      // host descriptors open on the port now
    uint32_t hostOpenTotal = 0;  // host opens of the port so far

    // Mode switching conversation.
    bool offlineRequested = false;
    uint32_t statusPollsSinceOffline = 0;
    bool quietMessages = false;  // 0x1F seen
    bool quietEvents = false;    // 0x60 seen
    bool quietLogs = false;      // 0x73 seen
    bool echoOn = true;          // AT mode echo (ATE0 / ATE1)

    // A registered knob's value (its default when unset); throws std::logic_error
    // for a name that is not registered.
    int64_t Knob(std::string_view name) const { return options.knobs.Get(name); }

    // Per-device state of a protocol extension, created on first use. T must be
    // default-constructible. Its lifetime is the device's, across vanishes:
    // extensions that lose state on a reboot compare bootCount.
    template <class T>
    T& Extension() {
        auto& slot = extensions_[std::type_index(typeid(T))];
        if (!slot) slot = std::make_shared<T>();
        return *static_cast<T*>(slot.get());
    }

    // Forgets what the running firmware was told: called when the device comes
    // back after a vanish that stands for a reboot.
    void ForgetSession() {
        offlineRequested = false;
        statusPollsSinceOffline = 0;
        quietMessages = quietEvents = quietLogs = false;
        echoOn = true;
    }

private:
    std::unordered_map<std::type_index, std::shared_ptr<void>> extensions_;
};

}  // namespace fennix::sim
