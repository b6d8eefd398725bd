#include "nv/BrtRestore.h"

#include <vector>

#include "files/FileBytes.h"
#include "log/Log.h"
#include "nv/BrtFile.h"

namespace fennix {

namespace {

NvOutcome RestoreRecord(CNvCommands& nv, const CNV_ItemHolder& record) {
    const auto& value = record.Value();
    if (value.size() <= kNvItemValueMax) {
        const NvAnswer answer = nv.SendNvItemWrite(record.itemNumber, value.data(), value.size());
        if (answer.result == NvRequestResult::Lost) return NvOutcome::Lost;
        return answer.result == NvRequestResult::Answered && answer.status == kNvStatusDone ? NvOutcome::Done
                                                                                            : NvOutcome::Refused;
    }
    return nv.WriteNvChunks(record);
}

}  // namespace

FlowOutcome RestoreBrt(CNvCommands& nv, const std::string& brtPath, const NvReporter& report, IFlowEvents& events) {
    events.EnterStage(Stage::File);
    std::vector<uint8_t> bytes;
    if (!ReadFileBytes(brtPath, bytes, kBrtFileMax)) {
        ReportNvLine(report, -1, "Open Brt file failed");
        return FlowOutcome::Failure(Cause::FileMissing);
    }
    // Every record is in memory before the first write, and a damaged file
    // sends nothing at all.
    const BrtContents contents = DecodeBrt(bytes.data(), bytes.size());
    if (!contents.complete) {
        LogFuncLine(kLogError, "RestoreBrt", "BRT file %s is damaged: %d records promised, %d read whole",
                    brtPath.c_str(), static_cast<int>(contents.count), static_cast<int>(contents.records.size()));
        return FlowOutcome::Failure(Cause::FileDamaged);
    }
    events.EnterStage(Stage::NvItem);
    int restored = 0;
    bool deviceLost = false;
    uint64_t done = 0;
    for (const CNV_ItemHolder& record : contents.records) {
        events.Progress(done++, contents.records.size());
        const NvOutcome outcome = RestoreRecord(nv, record);
        if (outcome == NvOutcome::Lost) {
            LogFuncLine(kLogError, "RestoreBrt", "NV item %d: the device does not answer", record.itemNumber);
            deviceLost = true;
            break;
        }
        if (outcome == NvOutcome::Refused) continue;
        ++restored;
        ReportNvLine(report, 0, "RestoreBrt Counts =  %d", restored);
    }
    ReportNvLine(report, 0, "Total NvCounts in BRT file =  %d, %d has restored", static_cast<int>(contents.count),
                 restored);
    if (deviceLost) return FlowOutcome::Failure(Cause::StoppedAnswering);
    events.Progress(contents.records.size(), contents.records.size());
    return FlowOutcome::Success();
}

}  // namespace fennix
