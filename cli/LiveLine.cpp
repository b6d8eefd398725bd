#include "LiveLine.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace fennix::cli {

namespace {
constexpr int kWidestBar = 20;
constexpr int kNarrowestBar = 5;
// What the stage keeps before the bar narrows: "writing AMSS 100%" and a little.
constexpr int kStageRoom = 24;
// What the stage keeps beside a device column: the longest image's
// "writing OEMSBL 100%" and a space.
constexpr int kStageRoomBesideDevice = 20;
// Between the port and the stage: " [", "] ", "100%", "  ", "10:00", "  ", the
// rate's nine columns, "  ".
constexpr int kFixedColumns = 2 + 2 + 4 + 2 + 5 + 2 + 9 + 2;
}  // namespace

std::string PortBaseName(const std::string& port) {
    const size_t slash = port.find_last_of("/\\");
    return slash == std::string::npos || slash + 1 == port.size() ? port : port.substr(slash + 1);
}

std::string LayOutLiveLine(const LiveLineParts& parts, int portWidth, int width, int deviceWidth) {
    const int usable = std::max(width - 1, 1);
    // A port column of more than a third of the line keeps its last characters,
    // where the names of one bench differ.
    const int portColumn = std::max(1, std::min(portWidth, usable / 3));
    std::string port = PortBaseName(parts.port);
    if (static_cast<int>(port.size()) > portColumn) port = port.substr(port.size() - static_cast<size_t>(portColumn));
    // The device column and the space after it, where the stage keeps its room beside them.
    int deviceColumn = deviceWidth > 0 ? deviceWidth + 1 : 0;
    if (usable - portColumn - deviceColumn - kFixedColumns - kNarrowestBar < kStageRoomBesideDevice) deviceColumn = 0;
    const int bar =
        std::clamp(usable - portColumn - deviceColumn - kFixedColumns - kStageRoom, kNarrowestBar, kWidestBar);
    const double fraction = std::clamp(parts.fraction, 0.0, 1.0);
    const int filled = static_cast<int>(std::lround(fraction * bar));
    const std::string bars =
        std::string(static_cast<size_t>(filled), '#') + std::string(static_cast<size_t>(bar - filled), '.');
    std::string device;
    if (deviceColumn) {
        device = parts.device.substr(0, static_cast<size_t>(deviceWidth));
        device.resize(static_cast<size_t>(deviceColumn), ' ');
    }
    char head[256];
    std::snprintf(head, sizeof head, "%-*s %s[%s] %3d%%  %5s  %9s  ", portColumn, port.c_str(), device.c_str(),
                  bars.c_str(), static_cast<int>(std::floor(fraction * 100)), parts.elapsed.c_str(),
                  parts.rate.c_str());
    std::string line = std::string(head) + parts.text;
    if (static_cast<int>(line.size()) > usable) line.resize(static_cast<size_t>(usable));
    return line;
}

}  // namespace fennix::cli
