// Whether an image set fits the device it is about to be written into, as far
// as the device can tell: a device of the engine's platform group 1 is of the
// MSM6280 family, and a set's manifest may name the platforms it is for.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "DeviceIdentity.h"

namespace fennix::cli {

enum class ModelVerdict { NotChecked, Fits, Mismatch };

struct ModelCheck {
    ModelVerdict verdict = ModelVerdict::NotChecked;
    std::string why;  // for a mismatch: what does not fit, for people
};

// `device`: nothing when it is in download mode or could not be read;
// `model`: --model (empty when not given); `platformIds`: the manifest's
// (empty: any), compared without regard to case.
ModelCheck CheckModelFit(const std::optional<DeviceIdentity>& device, const std::string& model,
                         const std::vector<std::string>& platformIds);

}  // namespace fennix::cli
