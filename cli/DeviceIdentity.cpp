#include "DeviceIdentity.h"

#include <cctype>
#include <cstring>

#include "AsciiCase.h"

namespace fennix::cli {

namespace {

// A text field of the structure, read no further than its array even when the
// library left it unterminated.
template <size_t N>
std::string Field(const char (&text)[N]) {
    return std::string(text, strnlen(text, N));
}

std::string Joined(const std::string& date, const std::string& time) {
    std::string both = date + " " + time;
    const size_t first = both.find_first_not_of(' ');
    if (first == std::string::npos) return {};
    return both.substr(first, both.find_last_not_of(' ') - first + 1);
}

const char* ModeName(int32_t mode) {
    switch (mode) {
        case FENNIX_MODE_AT: return "at";
        case FENNIX_MODE_DIAG: return "diag";
        case FENNIX_MODE_DOWNLOAD: return "download";
        default: return "";
    }
}

nlohmann::ordered_json TextOrNull(const std::string& value) {
    return value.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(value);
}

}  // namespace

DeviceIdentity IdentityOf(const FennixDeviceInfo& d) {
    DeviceIdentity id;
    id.mode = ModeName(d.mode);
    id.group = d.group;
    id.esn = AsciiUpper(Field(d.esn));
    id.meid = AsciiUpper(Field(d.meid));
    id.imei = Field(d.imei);
    id.imeiValid = d.imeiValid == 1;
    id.compiled = Joined(Field(d.compileDate), Field(d.compileTime));
    id.released = Joined(Field(d.releaseDate), Field(d.releaseTime));
    id.versionDir = Field(d.versionDir);
    id.buildId = Field(d.buildId);
    id.model = Field(d.model);
    return id;
}

nlohmann::ordered_json IdentityJson(const DeviceIdentity& d) {
    nlohmann::ordered_json j;
    j["esn"] = TextOrNull(d.esn);
    j["meid"] = TextOrNull(d.meid);
    j["imei"] = TextOrNull(d.imei);
    j["imei_valid"] = d.imei.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(d.imeiValid);
    j["compiled"] = TextOrNull(d.compiled);
    j["released"] = TextOrNull(d.released);
    j["version_dir"] = TextOrNull(d.versionDir);
    j["build_id"] = TextOrNull(d.buildId);
    j["device_model"] = TextOrNull(d.model);
    j["mode"] = TextOrNull(d.mode);
    j["group"] = d.group >= 0 ? nlohmann::ordered_json(d.group) : nlohmann::ordered_json();
    return j;
}

std::string PlatformId(const DeviceIdentity& device) { return device.buildId.substr(0, 5); }

std::string ShortName(const DeviceIdentity& device) {
    if (!device.imei.empty()) return device.imei;
    if (!device.esn.empty()) return "ESN " + device.esn;
    if (!device.meid.empty()) return "MEID " + device.meid;
    return {};
}

}  // namespace fennix::cli
