// The body of an NV backup: read every item named in the CSV item list from the
// device and write what was read into the BRT file.
#pragma once

#include <string>

#include "nv/NvCommands.h"
#include "nv/NvReport.h"

namespace fennix {

// True when the BRT file was written. Items the device refuses are left out;
// the totals line tells how many. An exchange that fails ends the reading:
// the totals line follows and the body fails; so does a list none of whose
// items could be read. The BRT file is replaced only by a complete new one.
bool BackupBrt(CNvCommands& nv, const std::string& csvPath, const std::string& brtPath, const NvReporter& report);

}  // namespace fennix
