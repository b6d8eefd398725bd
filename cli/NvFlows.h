// The NV flows on one device, shared by `fennix backup`, `restore`,
// `nv-import` and the station's recipes: each runs on the port's thread,
// tells what it did through the port's lines and result fields, and returns
// the engine's result (1 for success).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "Brt.h"
#include "DeviceIdentity.h"
#include "FileTemplate.h"
#include "ItemList.h"
#include "PortRun.h"

namespace fennix::cli {

// The item list file as ReadItemList reads it (empty when it cannot be read).
std::vector<ListedItem> ReadItemListFile(const std::string& path);

// The listed items' numbers that `brt` does not hold, each once, in list order.
std::vector<int32_t> MissingItems(const std::vector<ListedItem>& items, const BrtFile& brt, int* backedUp);

// A BRT file to restore: false with `error` set when it cannot be read whole.
bool CheckBrt(const std::string& path, BrtFile* brt, std::string* error);

// `name` filled with the device's values: empty after failing the port
// ("identity-missing") when it names the device and the device was not read
// or lacks one of the values.
std::string DeviceFile(PortRun& run, const FileTemplate& name, TemplateValues values,
                       const std::optional<DeviceIdentity>& device);

// Reads the items of the list `csv` into `brt` (the engine replaces it only
// when the backup is complete) and reads the file back into `written`.
int32_t ReadItemsInto(PortRun& run, const std::string& csv, const std::string& brt, BrtFile* written);

// A backup as `fennix backup` makes it: the result fields "out" and "missing"
// and the note; with `strict`, a listed item not backed up fails the port.
// `written`: the file as read back, when given.
int32_t BackupItems(PortRun& run, const std::string& csv, const std::vector<ListedItem>& items, const std::string& brt,
                    bool strict, BrtFile* written = nullptr);

// Writes every item of the BRT file `path` into the device ("in"); `check`:
// the file is read whole first and a damaged or missing one fails the port.
int32_t RestoreItems(PortRun& run, const std::string& path, bool check);

// Imports the duck file and writes it into the device.
int32_t ImportDuck(PortRun& run, const std::string& path);

}  // namespace fennix::cli
