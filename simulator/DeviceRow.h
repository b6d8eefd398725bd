// One socket that devices are plugged into one after another: a stable path
// (a directory and a name) and a list of virtual devices, each with its own
// identity, faults and knobs. The first device appears after a delay; each
// one serves the path until it leaves the bus for good (unplugged by a fault
// point or Unplug, or taken out once the host has left its port closed for a
// while after using it), and the next one appears at the same path, on a
// fresh pseudo-terminal, after a gap. A device's own vanishes and returns
// (mode switches, resets) keep it in the socket.
//
//     DeviceRowOptions row;
//     row.directory = dir; row.name = "socket1"; row.appearAfterMs = 500;
//     row.devices = {DiagDevice(), DiagDevice(), DiagDevice()};
//     row.devices[1].identityPlace = 1; row.devices[2].identityPlace = 2;
//     CDeviceRow socket(row);
//     socket.Start();
//     socket.WaitForServed(1, 5s); ...; socket.WaitForLeft(0, 5s);
//     socket.Device(0).Recording();    // still readable after it left
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "VirtualDevice.h"

namespace fennix::sim {

struct DeviceRowOptions {
    // The socket's stable path is <directory>/<name>. An empty directory gives
    // the row a private temporary one; an empty name takes the first
    // "ttyMSM<n>" that is free (CStablePath::Usable) and no other row of this
    // process holds.
    std::string directory;
    std::string name;
    // The link does not exist before the first device appears.
    uint32_t appearAfterMs = 0;
    // Between one device leaving and the next appearing.
    uint32_t gapMs = 500;
    // How long the host must leave a used port closed before the device is
    // taken out (DeviceOptions::leaveAfterIdleMs), for the devices that do
    // not set their own; 0: devices leave only when unplugged.
    uint32_t leaveAfterIdleMs = 1500;
    // The devices in the order they arrive; their directory and name are the
    // row's.
    std::vector<DeviceOptions> devices;
};

class CDeviceRow {
public:
    using Ms = std::chrono::milliseconds;

    explicit CDeviceRow(DeviceRowOptions options);
    ~CDeviceRow();
    CDeviceRow(const CDeviceRow&) = delete;
    CDeviceRow& operator=(const CDeviceRow&) = delete;

    // Claims the socket's name and starts the row: without an appearance
    // delay the first device is on the bus when Start returns. 0, or an errno
    // (EALREADY when started before, EINVAL without devices).
    int Start();
    // Takes the device in the socket out and ends the row.
    void Stop();

    // The socket's stable path (valid after Start).
    std::string Path() const;
    // Devices that have arrived so far.
    size_t Served() const;
    // The device in the socket now, or null (before the first, in a gap,
    // after the last).
    CVirtualDevice* Current() const;
    size_t Size() const { return devices_.size(); }
    // Device k of the row (from 0), whether it has arrived, is in the socket
    // or has left: its recording and state stay readable until the row is
    // destroyed.
    CVirtualDevice& Device(size_t k) { return *devices_.at(k); }
    bool Left(size_t k) const;
    // An errno from a device that could not start (the row ends there), or 0.
    int Error() const;

    bool WaitForServed(size_t count, Ms timeout) const;
    bool WaitForLeft(size_t k, Ms timeout) const;

private:
    void Run(bool firstArrived);
    // Waits for the time unless the row stops first; false when it stops.
    bool Pause(uint32_t ms);
    int Arrive(size_t k);
    void WaitUntilGone(size_t k);

    DeviceRowOptions options_;
    std::vector<std::unique_ptr<CVirtualDevice>> devices_;
    std::string path_;
    std::string privateDirectory_;

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    // Read under a device's lock by the wait for it to leave.
    std::atomic<bool> stopping_{false};
    bool started_ = false;
    size_t served_ = 0;
    CVirtualDevice* current_ = nullptr;
    std::vector<bool> left_;
    int error_ = 0;
    std::thread thread_;
};

}  // namespace fennix::sim
