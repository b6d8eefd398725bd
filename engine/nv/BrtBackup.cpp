#include "nv/BrtBackup.h"

#include <vector>

#include "files/FileBytes.h"
#include "log/Log.h"
#include "nv/BrtFile.h"
#include "nv/CsvItemList.h"

namespace fennix {

namespace {

NvOutcome ReadListedItem(CNvCommands& nv, CNV_ItemHolder& record) {
    const NvReadResult read = nv.ReadNvItem(record.itemNumber);
    if (read.result == NvRequestResult::Lost) return NvOutcome::Lost;
    if (read.status == kNvStatusDone) {
        record.SetValue(read.data.data(), read.data.size());
        return NvOutcome::Done;
    }
    if (read.status == kNvStatusReadByIndex) return nv.ReadIndexedNvItem(record);
    return NvOutcome::Refused;
}

}  // namespace

FlowOutcome BackupBrt(CNvCommands& nv, const std::string& csvPath, const std::string& brtPath, const NvReporter& report,
                      IFlowEvents& events) {
    events.EnterStage(Stage::File);
    std::vector<uint8_t> csvBytes;
    if (!ReadFileBytes(csvPath, csvBytes, kCsvFileMax)) {
        ReportNvLine(report, -1, "Open Csv file failed");
        return FlowOutcome::Failure(Cause::FileMissing);
    }
    const std::vector<CsvItem> listed = ParseCsvItemList(std::string(csvBytes.begin(), csvBytes.end()));

    events.EnterStage(Stage::NvItem);
    std::vector<CNV_ItemHolder> stored;
    bool deviceLost = false;
    uint64_t done = 0;
    for (const CsvItem& item : listed) {
        events.Progress(done++, listed.size());
        CNV_ItemHolder record;
        record.name = item.name;
        record.itemNumber = item.itemNumber;
        const NvOutcome outcome = ReadListedItem(nv, record);
        if (outcome == NvOutcome::Lost) {
            // A device that stopped answering would leave every later item
            // out of a file that reads as a complete backup.
            LogFuncLine(kLogError, "BackupBrt", "NV item %d: the device does not answer", item.itemNumber);
            deviceLost = true;
            break;
        }
        if (outcome == NvOutcome::Refused) continue;
        stored.push_back(record);
        ReportNvLine(report, 0, "BackupBrt Counts =  %d", static_cast<int>(stored.size()));
    }
    ReportNvLine(report, 0, "Total NvCounts in CSV file =  %d, %d has backuped", static_cast<int>(listed.size()),
                 static_cast<int>(stored.size()));
    if (deviceLost) return FlowOutcome::Failure(Cause::StoppedAnswering);
    events.Progress(listed.size(), listed.size());
    // Items listed and none read: an empty file would replace a good backup.
    if (!listed.empty() && stored.empty()) {
        LogFuncLine(kLogError, "BackupBrt", "No listed item could be read: %s is left as it was", brtPath.c_str());
        return FlowOutcome::Failure(Cause::DeviceRefused);
    }

    events.EnterStage(Stage::File);
    if (!ReplaceFileBytes(brtPath, EncodeBrt(stored))) {
        LogFuncLine(kLogError, "BackupBrt", "Cannot write the BRT file %s", brtPath.c_str());
        return FlowOutcome::Failure(Cause::FileMissing);
    }
    return FlowOutcome::Success();
}

}  // namespace fennix
