// Who the device on a port is, as the tool shows and records it: the
// library's FennixDeviceInfo as texts, one JSON object for `info`, the result
// events and the records, and a short name for people.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "fennix/fennix.h"

namespace fennix::cli {

// An empty text is a value the device did not give.
struct DeviceIdentity {
    std::string mode;       // "at", "diag", "download"; empty when the library gave another number
    int group = -1;         // the platform group; -1 when not known
    std::string esn, meid;  // upper-case hex
    std::string imei;       // 15 digits
    bool imeiValid = false;
    std::string compiled, released;  // date and time joined by one space, trimmed
    std::string versionDir, buildId, model;
};

DeviceIdentity IdentityOf(const FennixDeviceInfo& info);

// "esn", "meid", "imei", "imei_valid", "compiled", "released", "version_dir",
// "build_id", "device_model", "mode", "group" in that order; null for a value
// not given.
nlohmann::ordered_json IdentityJson(const DeviceIdentity& device);

// The platform ID: the build ID's first five characters; empty without a build ID.
std::string PlatformId(const DeviceIdentity& device);

// The device's name for people: its IMEI, else "ESN " and its ESN, else
// "MEID " and its MEID; empty when it gave none.
std::string ShortName(const DeviceIdentity& device);

}  // namespace fennix::cli
