// The body of an NV restore: write every record of a BRT file into the device.
#pragma once

#include <string>

#include "flow/FlowEvents.h"
#include "nv/NvCommands.h"
#include "nv/NvReport.h"

namespace fennix {

// Fails when the BRT file cannot be opened or is damaged (it then sends
// nothing), or when an exchange failed (the device stopped answering: the
// records after it are not sent; the totals line still comes); succeeds
// otherwise, however many records the device refused. Stages: the BRT file,
// the items.
FlowOutcome RestoreBrt(CNvCommands& nv, const std::string& brtPath, const NvReporter& report,
                       IFlowEvents& events = NoFlowEvents());

}  // namespace fennix
