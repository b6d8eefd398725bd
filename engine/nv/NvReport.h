// How the NV flows pass lines to the operator: text and status (0 progress or
// success, -1 failure), on the flow's own thread.
#pragma once

#include <cstdint>
#include <functional>

#include "log/Log.h"

namespace fennix {

using NvReporter = std::function<void(const char* text, int32_t status)>;

// Formats one line and hands it to `report` (nothing happens without one).
void ReportNvLine(const NvReporter& report, int32_t status, const char* format, ...) FENNIX_PRINTF(3, 4);

}  // namespace fennix
