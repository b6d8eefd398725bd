// Who the device of a port's flow is, read once on the flow's open session.
#pragma once

#include <optional>

#include "DeviceIdentity.h"
#include "PortRun.h"

namespace fennix::cli {

// Reads the identity, records it as the result field "device" (null when it
// could not be read) and names the port's device after it.
std::optional<DeviceIdentity> ReadAndRecordIdentity(PortRun& run);

}  // namespace fennix::cli
