// Who the device is, read at the start of a flow: recorded as the port's
// "device" result field and shown as its name in the table and live line.
#pragma once

#include <optional>

#include "DeviceIdentity.h"
#include "PortRun.h"

namespace fennix::cli {

// Reads the identity on the port's open session. Records "device": the
// identity object where the device answered in AT or DIAG mode, null where it
// is in download mode (it has no identity then) or could not be read. A failed
// read does not fail the port: the flow's own export then reports the device.
// Returns the identity when the device answered in AT or DIAG mode.
std::optional<DeviceIdentity> ReadAndRecordIdentity(PortRun& run);

}  // namespace fennix::cli
