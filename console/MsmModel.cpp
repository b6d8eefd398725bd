#include "console/MsmModel.h"

#include "console/resource.h"

namespace tarnwell {

namespace {

const std::array<MsmModelInfo, 4> kModels = {{
    {MsmModel::Msm6250, IDC_RADIO_MSM6250, "MSM6250", false, "\\NPRG6250SEC.HEX"},
    {MsmModel::Msm6260, IDC_RADIO_MSM6260, "MSM6260", false, "\\NPRG6260.HEX"},
    {MsmModel::Msm6280, IDC_RADIO_MSM6280, "MSM6280", true, "\\NPRG6280.HEX"},
    {MsmModel::Msm7200, IDC_RADIO_MSM7200, "MSM7200", false, "\\NPRG7200A.HEX"},
}};

}  // namespace

const std::array<MsmModelInfo, 4>& MsmModels() { return kModels; }

const MsmModelInfo& ModelInfo(MsmModel model) { return kModels[static_cast<int>(model)]; }

std::optional<MsmModel> ModelOfControl(int controlId) {
    for (const MsmModelInfo& info : kModels)
        if (info.controlId == controlId) return info.model;
    return std::nullopt;
}

std::string ProgrammerPath(const std::string& startDirectory, MsmModel model) {
    return startDirectory + ModelInfo(model).programmerFile;
}

}  // namespace tarnwell
