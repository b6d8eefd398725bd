#include "nv/NvReport.h"

#include <cstdarg>
#include <cstdio>

namespace fennix {

void ReportNvLine(const NvReporter& report, int32_t status, const char* format, ...) {
    if (!report) return;
    char line[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    report(line, status);
}

}  // namespace fennix
