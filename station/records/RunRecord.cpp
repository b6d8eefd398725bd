#include "RunRecord.h"

namespace fennix::records {

namespace {
constexpr const char* kResultNames[] = {"running", "success", "failed", "interrupted", "aborted"};
}

const char* RunResultName(RunResult result) { return kResultNames[static_cast<int>(result)]; }

std::optional<RunResult> ParseRunResult(std::string_view text) {
    for (int i = 0; i < 5; ++i)
        if (text == kResultNames[i]) return static_cast<RunResult>(i);
    return std::nullopt;
}

}  // namespace fennix::records
