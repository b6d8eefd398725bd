// Helpers for tests that need a virtual device: start one for the length of
// a scope, and describe the usual kinds of device in one line.
//
//     fennix::sim::CScopedDevice dev(fennix::sim::DiagDevice("K7M"));
//     ASSERT_TRUE(dev.Ok()) << dev.Error();
//     OpenThePort(dev.Path());                       // the engine under test
//     dev->SetFaults(...); dev->Recording().Requests(DeviceMode::Diag, 0x7C);
#pragma once

#include <memory>
#include <string>

#include "VirtualDevice.h"

namespace fennix::sim {

// Time limits that keep the switches quick in tests: the port stays away for
// a tenth of a second.
inline DeviceOptions QuickOptions(DeviceMode mode) {
    DeviceOptions o;
    o.mode = mode;
    o.vanishMs = 100;
    return o;
}

inline DeviceOptions AtDevice() { return QuickOptions(DeviceMode::At); }

// A DIAG device; "K7M", "T7413", "PEXD4" and "LUNW2" make it platform group 1
// (switches to download mode in place), anything else group 0 (re-enumerates).
inline DeviceOptions DiagDevice(const std::string& platformId = "Q6250") {
    DeviceOptions o = QuickOptions(DeviceMode::Diag);
    o.platformId = platformId;
    return o;
}

inline DeviceOptions DownloadDevice() { return QuickOptions(DeviceMode::Download); }

// Starts a device on construction and stops it (removing its path) on destruction.
class CScopedDevice {
public:
    explicit CScopedDevice(DeviceOptions options = DiagDevice())
        : device_(std::make_unique<CVirtualDevice>(std::move(options))) {
        error_ = device_->Start();
    }

    bool Ok() const { return error_ == 0; }
    int Error() const { return error_; }
    std::string Path() const { return device_->Path(); }

    CVirtualDevice& operator*() { return *device_; }
    CVirtualDevice* operator->() { return device_.get(); }
    CVirtualDevice& Device() { return *device_; }

private:
    std::unique_ptr<CVirtualDevice> device_;
    int error_ = 0;
};

}  // namespace fennix::sim
