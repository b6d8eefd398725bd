// The integers the exports return for a flow's outcome. They are made here
// and in nothing else: SessionExports.cpp and NvExports.cpp define these.
#pragma once

#include <cstdint>

#include "flow/FlowEvents.h"

namespace fennix {

// StartDownload, StartBackupBrt and StartRestoreBrt: 1 on success, -1 for the
// plain failure, -2 when the download's reset request failed, otherwise the
// packet layer's negative result.
int32_t FlowResultCode(const FlowOutcome& outcome);
// NVArrayToMobile: 1 when everything was stored, else 0; DuckToNVArray: 1
// when the duck file was read whole, else 0.
int32_t ItemListsResultCode(const FlowOutcome& outcome);
// ReadDeviceInfo: 1 when the device answered, else -1.
int32_t DeviceInfoResultCode(const FlowOutcome& outcome);

}  // namespace fennix
