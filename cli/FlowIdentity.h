// Who the device is, read at the start of a flow: recorded as the port's
// "device" result field and shown as its name in the table and live line.
#pragma once

#include <optional>
#include <string>

#include "DeviceIdentity.h"
#include "PortRun.h"

namespace fennix::cli {

// Records an identity read (`read`: nothing when the device could not be read)
// as the result field `key`: the identity object where the device answered in
// AT or DIAG mode, null where it is in download mode (it has no identity then)
// or could not be read; names the port's device after it. Returns the identity
// when the device answered in AT or DIAG mode.
std::optional<DeviceIdentity> RecordIdentity(PortRun& run, const std::string& key, std::optional<DeviceIdentity> read);

// Reads the identity on the port's open session and records it as "device".
// A failed read does not fail the port: the flow's own export then reports the
// device with its cause.
std::optional<DeviceIdentity> ReadAndRecordIdentity(PortRun& run);

}  // namespace fennix::cli
