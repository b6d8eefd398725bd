// The MSM model choice: it names the programmer file the engine uploads.
#pragma once

#include <array>
#include <optional>
#include <string>

namespace tarnwell {

enum class MsmModel { Msm6250, Msm6260, Msm6280, Msm7200 };

struct MsmModelInfo {
    MsmModel model;
    int controlId;
    const char* label;
    bool shown;
    const char* programmerFile;  // begins with one backslash
};

const std::array<MsmModelInfo, 4>& MsmModels();
const MsmModelInfo& ModelInfo(MsmModel model);
std::optional<MsmModel> ModelOfControl(int controlId);

// The model selected when the dialog opens.
constexpr MsmModel kInitialModel = MsmModel::Msm6250;

// The start directory followed by the model's programmer file name. The path
// is kept whole even past 259 characters: cutting it would name another file.
std::string ProgrammerPath(const std::string& startDirectory, MsmModel model);

}  // namespace tarnwell
