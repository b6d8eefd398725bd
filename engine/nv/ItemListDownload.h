// Writing an imported duck file into a device: numbered items as NV item
// writes, ARRAY entries as ARRAY entry writes and file entries through the
// device's file system.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "flow/FlowEvents.h"
#include "nv/NvCommands.h"
#include "nv/NvItem.h"

namespace fennix {

// The item whose write failed last, kept by the session.
struct NvFailedItem {
    std::string text;
    int32_t id = 0;
};

// The directories above a device file, top down and without a leading '/':
// "/cfg/radio/table" gives "cfg" and "cfg/radio".
std::vector<std::string> ParentDirectories(const std::string& path);

// Sends both lists to a device already in DIAG mode, in the stage of the NV
// items with the entries as its progress. Fails at once when an exchange
// failed (the device stopped answering; the records after it are not sent),
// and at the end when a device file was opened but not written or closed (the
// device refused it; it may be left truncated); succeeds otherwise.
// Refusals by the device are recorded in `failed` and do not stop the
// download; status 5 is answered by one more try. A file that cannot be
// opened, even after its directories were made, changes nothing on the
// device and leaves no trace in the result.
FlowOutcome SendItemListsToDevice(CNvCommands& nv, const CNVArray& numbered, const CNVArray& named,
                                  NvFailedItem& failed, IFlowEvents& events = NoFlowEvents());

}  // namespace fennix
