// The body of an NV backup: read every item named in the CSV item list from the
// device and write what was read into the BRT file.
#pragma once

#include <string>

#include "flow/FlowEvents.h"
#include "nv/NvCommands.h"
#include "nv/NvReport.h"

namespace fennix {

// Succeeds when the BRT file was written. Items the device refuses are left
// out; the totals line tells how many. An exchange that fails ends the
// reading: the totals line follows and the body fails (the device stopped
// answering); so does a list none of whose items could be read (the device
// refused them). A CSV file that cannot be read and a BRT file that cannot be
// written are the file's failures. The BRT file is replaced only by a
// complete new one. Stages: the CSV file, the items, the BRT file.
FlowOutcome BackupBrt(CNvCommands& nv, const std::string& csvPath, const std::string& brtPath, const NvReporter& report,
                      IFlowEvents& events = NoFlowEvents());

}  // namespace fennix
