#include "LinkModel.h"

#include <algorithm>

#include "Knobs.h"

namespace fennix::sim {

namespace {

// Full speed: a request or an answer waits for the next 1 ms bus frame each
// way and bulk transfers reach about 1.1 MB/s; high speed has 125 µs
// microframes and about 35 MB/s.
constexpr LinkProfile kProfiles[kLinkProfiles] = {
    {"none", 0, 0, 0, 0, 0},
    {"usb-fs", 1000, 1000, 1100, 1100, 50},
    {"usb-hs", 125, 125, 35000, 35000, 20},
};

std::chrono::nanoseconds Crossing(size_t bytes, int64_t bytesPerMs) {
    if (bytesPerMs <= 0) return std::chrono::nanoseconds(0);
    return std::chrono::nanoseconds(static_cast<int64_t>(bytes) * 1000000 / bytesPerMs);
}

int64_t Either(int64_t value, int64_t profiles) { return value >= 0 ? value : profiles; }

}  // namespace

const LinkProfile* LinkProfileAt(int profile) {
    return profile >= 0 && profile < kLinkProfiles ? &kProfiles[profile] : nullptr;
}

int LinkProfileNumber(std::string_view name) {
    for (int i = 0; i < kLinkProfiles; ++i)
        if (name == kProfiles[i].name) return i;
    return -1;
}

const LinkProfile* FindLinkProfile(std::string_view name) { return LinkProfileAt(LinkProfileNumber(name)); }

double LinkBytesPerSecond(int profile) {
    const LinkProfile* link = LinkProfileAt(profile);
    return link ? static_cast<double>(link->toDeviceBytesPerMs) * 1000.0 : 0.0;
}

LinkProfile LinkOfKnobs(const KnobValues& knobs) {
    const LinkProfile* base = LinkProfileAt(static_cast<int>(knobs.Get("link.profile")));
    LinkProfile link = base ? *base : kProfiles[0];
    link.toDeviceLatencyUs = Either(knobs.Get("link.to-device-latency-us"), link.toDeviceLatencyUs);
    link.toHostLatencyUs = Either(knobs.Get("link.to-host-latency-us"), link.toHostLatencyUs);
    link.toDeviceBytesPerMs = Either(knobs.Get("link.to-device-bytes-per-ms"), link.toDeviceBytesPerMs);
    link.toHostBytesPerMs = Either(knobs.Get("link.to-host-bytes-per-ms"), link.toHostBytesPerMs);
    link.turnaroundUs = Either(knobs.Get("link.turnaround-us"), link.turnaroundUs);
    return link;
}

bool CLinkModel::Modelled() const {
    return link_.toDeviceLatencyUs > 0 || link_.toHostLatencyUs > 0 || link_.toDeviceBytesPerMs > 0 ||
           link_.toHostBytesPerMs > 0 || link_.turnaroundUs > 0;
}

CLinkModel::Clock::time_point CLinkModel::ToDevice(Clock::time_point readAt, size_t bytes) {
    const Clock::time_point start = std::max(readAt, toDeviceFree_);
    toDeviceFree_ = start + Crossing(bytes, link_.toDeviceBytesPerMs);
    return toDeviceFree_ + std::chrono::microseconds(link_.toDeviceLatencyUs + link_.turnaroundUs);
}

CLinkModel::Clock::time_point CLinkModel::ToHost(Clock::time_point readyAt, size_t bytes) {
    const Clock::time_point start = std::max(readyAt, toHostFree_);
    toHostFree_ = start + Crossing(bytes, link_.toHostBytesPerMs);
    return toHostFree_ + std::chrono::microseconds(link_.toHostLatencyUs);
}

void CLinkModel::Reset() { toDeviceFree_ = toHostFree_ = Clock::time_point::min(); }

}  // namespace fennix::sim
