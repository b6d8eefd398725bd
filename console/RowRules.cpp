#include "console/RowRules.h"

#include <cctype>

namespace tarnwell {

bool IsBlankPath(const std::string& path) {
    for (char c : path)
        if (!std::isspace(static_cast<unsigned char>(c))) return false;
    return true;
}

RowClickAction DecideRowToggle(const RowToggle& toggle) {
    const bool wantsFile = toggle.nowTicked && IsBlankPath(toggle.path);
    switch (RoleOf(toggle.row)) {
        case PairRole::Header:
            if (!toggle.nowTicked && toggle.imageTicked) return RowClickAction::WarnAndTickAgain;
            break;
        case PairRole::Image:
            // The image box is refused whenever its header is unticked, even
            // when the click unticked it: it then simply stays unticked.
            if (!toggle.headerTicked) return RowClickAction::WarnAndUntickAgain;
            break;
        case PairRole::None: break;
    }
    return wantsFile ? RowClickAction::OpenFileDialog : RowClickAction::Nothing;
}

}  // namespace tarnwell
