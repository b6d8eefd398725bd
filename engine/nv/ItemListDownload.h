// Writing an imported duck file into a device: numbered items as NV item
// writes, ARRAY entries as ARRAY entry writes and file entries through the
// device's file system.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

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

// Sends both lists to a device already in DIAG mode. Returns 0 at once when
// an exchange failed (the records after it are not sent), 0 at the end when a
// device file was opened but not written or closed (it may be left
// truncated), 1 otherwise. Refusals by the device are recorded in `failed`
// and do not stop the download; status 5 is answered by one more try. A file
// that cannot be opened, even after its directories were made, changes
// nothing on the device and leaves no trace in the result.
int32_t SendItemListsToDevice(CNvCommands& nv, const CNVArray& numbered, const CNVArray& named, NvFailedItem& failed);

}  // namespace fennix
