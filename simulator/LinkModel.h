// The USB link between a host and one virtual device: each direction has a
// latency and a bandwidth, and the device answers a turnaround after a
// request has reached it. Frames in one direction queue behind each other on
// the bus but overlap the latency, so a host that keeps several requests
// outstanding gets a pipeline. Pure arithmetic over time points, so that it
// can be checked without a port.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace fennix::sim {

class KnobValues;

struct LinkProfile {
    const char* name = "none";
    int64_t toDeviceLatencyUs = 0;
    int64_t toHostLatencyUs = 0;
    int64_t toDeviceBytesPerMs = 0;  // 0: unlimited
    int64_t toHostBytesPerMs = 0;    // 0: unlimited
    int64_t turnaroundUs = 0;
};

// The profiles by their number (the link.profile knob): 0 none, 1 usb-fs,
// 2 usb-hs. Null for a number or a name that is none of them.
constexpr int kLinkProfiles = 3;
const LinkProfile* LinkProfileAt(int profile);
const LinkProfile* FindLinkProfile(std::string_view name);
// The profile's number, or -1.
int LinkProfileNumber(std::string_view name);
// The rate at which the profile's link carries bytes to the device, whatever
// the payload, in bytes per second; 0 for an unlimited link.
double LinkBytesPerSecond(int profile);

// The link a device's knobs describe: its profile with the figures set one by
// one (-1 keeps the profile's).
LinkProfile LinkOfKnobs(const KnobValues& knobs);

class CLinkModel {
public:
    using Clock = std::chrono::steady_clock;

    void Configure(const LinkProfile& link) { link_ = link; }
    // False for a link without latency, limit or turnaround: frames are there
    // when they are sent.
    bool Modelled() const;

    // A request of `bytes` wire bytes, read from the host's side at `readAt`:
    // the time the device answers it (arrival plus turnaround).
    Clock::time_point ToDevice(Clock::time_point readAt, size_t bytes);
    // An answer of `bytes` wire bytes, ready on the device at `readyAt`: the
    // time it is at the host.
    Clock::time_point ToHost(Clock::time_point readyAt, size_t bytes);
    // Both directions idle (a fresh enumeration).
    void Reset();

private:
    LinkProfile link_;
    Clock::time_point toDeviceFree_ = Clock::time_point::min();
    Clock::time_point toHostFree_ = Clock::time_point::min();
};

}  // namespace fennix::sim
