// The open-file dialog of an image row: its filter, its initial file name and
// what becomes of the file the operator picks.
#pragma once

#include <optional>
#include <string>

#include "console/ImageRows.h"

namespace tarnwell {

// Two entries, "label\0patterns\0" each, closed by a second NUL: the row's
// multi-image entry (selected first) and "All other files (*.*)".
std::string FileDialogFilter(const ImageRowInfo& row);

// The row's current path unless it is blank, otherwise the row's default name.
std::string InitialFileName(const ImageRowInfo& row, const std::string& currentPath);

// The path the row shows after the operator chose `fullPath`: ".mbn" is
// appended when the file name has no extension. Empty when the result would
// not fit into a row (it is then left as it was, as after a cancel).
std::optional<std::string> ChosenRowPath(const std::string& fullPath);

}  // namespace tarnwell
