#include "console/FileDialogSetup.h"

#include "console/RowRules.h"

namespace tarnwell {

std::string FileDialogFilter(const ImageRowInfo& row) {
    const std::string patterns = std::string(row.pattern) + "; " + row.defaultName;
    std::string filter = "Multi-image Files (" + patterns + ")";
    filter += '\0';
    filter += patterns;
    filter += '\0';
    filter += "All other files (*.*)";
    filter += '\0';
    filter += "*.*";
    filter += '\0';
    filter += '\0';
    return filter;
}

std::string InitialFileName(const ImageRowInfo& row, const std::string& currentPath) {
    return IsBlankPath(currentPath) ? std::string(row.defaultName) : currentPath;
}

std::optional<std::string> ChosenRowPath(const std::string& fullPath) {
    if (fullPath.empty()) return std::nullopt;
    const size_t nameStart = fullPath.find_last_of("\\/");
    const size_t dot = fullPath.rfind('.');
    const bool hasExtension = dot != std::string::npos && (nameStart == std::string::npos || dot > nameStart);
    std::string path = hasExtension ? fullPath : fullPath + ".mbn";
    if (path.size() > kMaxPathLength) return std::nullopt;
    return path;
}

}  // namespace tarnwell
