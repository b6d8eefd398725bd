#include "FlowIdentity.h"

namespace fennix::cli {

std::optional<DeviceIdentity> RecordIdentity(PortRun& run, const std::string& key, std::optional<DeviceIdentity> read) {
    if (read && read->mode != "at" && read->mode != "diag") read.reset();
    run.SetResultField(key, read ? IdentityJson(*read) : nlohmann::ordered_json());
    if (read && !ShortName(*read).empty()) run.SetDeviceName(ShortName(*read));
    return read;
}

std::optional<DeviceIdentity> ReadAndRecordIdentity(PortRun& run) {
    return RecordIdentity(run, "device", run.ReadIdentity());
}

}  // namespace fennix::cli
