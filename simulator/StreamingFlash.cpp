#include "StreamingFlash.h"

#include "VirtualDevice.h"

namespace fennix::sim {

DownloadTarget SnapshotDownloadTarget(CVirtualDevice& device) {
    DownloadTarget copy;
    device.WithState([&](DeviceState& state) { copy = state.Extension<DownloadTarget>(); });
    return copy;
}

uint64_t StreamedBytes(CVirtualDevice& device) {
    uint64_t bytes = 0;
    device.WithState([&](DeviceState& state) { bytes = state.Extension<DownloadTarget>().bytesStreamed; });
    return bytes;
}

}  // namespace fennix::sim
