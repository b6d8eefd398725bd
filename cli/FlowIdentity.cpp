#include "FlowIdentity.h"

namespace fennix::cli {

std::optional<DeviceIdentity> ReadAndRecordIdentity(PortRun& run) {
    std::optional<DeviceIdentity> identity = run.ReadIdentity();
    run.SetResultField("device", identity ? IdentityJson(*identity) : nullptr);
    if (identity) run.SetDeviceName(ShortName(*identity));
    return identity;
}

}  // namespace fennix::cli
