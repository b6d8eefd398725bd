// What happens when the operator ticks or unticks an image row's check box.
#pragma once

#include <string>

#include "console/ImageRows.h"

namespace tarnwell {

inline constexpr const char* kHeaderMissingMessage = "You cannot download this image without its header file.";

// Longest path a row holds (the dialog's buffers have room for 260 characters).
constexpr size_t kMaxPathLength = 259;

// A path counts as empty when nothing but white space remains after trimming.
bool IsBlankPath(const std::string& path);

enum class RowClickAction {
    Nothing,
    OpenFileDialog,
    WarnAndTickAgain,    // a header unticked while its image is ticked
    WarnAndUntickAgain,  // an image ticked while its header is unticked
};

// The check box has already changed its state when the rule runs: `nowTicked`
// is the new state, `headerTicked` the state of the row's header (only looked
// at for an image row), `imageTicked` that of the row's image (only looked at
// for a header row).
struct RowToggle {
    ImageRow row;
    bool nowTicked;
    bool headerTicked;
    bool imageTicked;
    std::string path;
};

RowClickAction DecideRowToggle(const RowToggle& toggle);

}  // namespace tarnwell
