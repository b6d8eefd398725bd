#include "FlowIdentity.h"

namespace fennix::cli {

std::optional<DeviceIdentity> ReadAndRecordIdentity(PortRun& run) {
    std::optional<DeviceIdentity> device = run.ReadIdentity();
    if (device && device->mode != "at" && device->mode != "diag") device.reset();
    run.SetResultField("device", device ? IdentityJson(*device) : nlohmann::ordered_json());
    if (device) run.SetDeviceName(ShortName(*device));
    return device;
}

}  // namespace fennix::cli
