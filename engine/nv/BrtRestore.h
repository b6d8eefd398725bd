// The body of an NV restore: write every record of a BRT file into the device.
#pragma once

#include <string>

#include "nv/NvCommands.h"
#include "nv/NvReport.h"

namespace fennix {

// False when the BRT file cannot be opened or is damaged (it then sends
// nothing), or when an exchange failed (the records after it are not sent;
// the totals line still comes); true otherwise, however many records the
// device refused.
bool RestoreBrt(CNvCommands& nv, const std::string& brtPath, const NvReporter& report);

}  // namespace fennix
