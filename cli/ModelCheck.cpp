#include "ModelCheck.h"

#include <cctype>

#include "AsciiCase.h"

namespace fennix::cli {

ModelCheck CheckModelFit(const std::optional<DeviceIdentity>& device, const std::string& model,
                         const std::vector<std::string>& platformIds) {
    if (!device) return {};
    const std::string platform = PlatformId(*device);
    ModelCheck check;
    if (device->group == 1 && !model.empty()) {
        if (model != "6280")
            return {ModelVerdict::Mismatch, "the device (platform " + platform +
                                                ") is of the MSM6280 family, not the MSM" + model +
                                                " that --model names"};
        check.verdict = ModelVerdict::Fits;
    }
    if (platformIds.empty() || platform.empty()) return check;
    std::string listed;
    for (const auto& id : platformIds) {
        if (EqualIgnoringCase(id, platform)) return {ModelVerdict::Fits, {}};
        listed += (listed.empty() ? "" : ", ") + id;
    }
    return {ModelVerdict::Mismatch, "the image set is for the platforms " + listed + ", not the device's " + platform};
}

}  // namespace fennix::cli
