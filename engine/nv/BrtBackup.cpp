#include "nv/BrtBackup.h"

#include <vector>

#include "log/Log.h"
#include "nv/BrtFile.h"
#include "nv/CsvItemList.h"
#include "nv/FileBytes.h"

namespace fennix {

namespace {

// Reads one listed item; false when the device did not return it.
bool ReadListedItem(CNvCommands& nv, CNV_ItemHolder& record) {
    const NvReadResult read = nv.ReadNvItem(record.itemNumber);
    if (read.exchange < 0) return false;
    if (read.status == kNvStatusDone) {
        record.SetValue(read.data.data(), read.data.size());
        return true;
    }
    if (read.status == kNvStatusReadByIndex) return nv.ReadIndexedNvItem(record);
    return false;
}

}  // namespace

bool BackupBrt(CNvCommands& nv, const std::string& csvPath, const std::string& brtPath, const NvReporter& report) {
    std::vector<uint8_t> csvBytes;
    if (!ReadFileBytes(csvPath, csvBytes)) {
        ReportNvLine(report, -1, "Open Csv file failed");
        return false;
    }
    const std::vector<CsvItem> listed = ParseCsvItemList(std::string(csvBytes.begin(), csvBytes.end()));

    std::vector<CNV_ItemHolder> stored;
    for (const CsvItem& item : listed) {
        CNV_ItemHolder record;
        record.name = item.name;
        record.itemNumber = item.itemNumber;
        if (!ReadListedItem(nv, record)) continue;
        stored.push_back(record);
        ReportNvLine(report, 0, "BackupBrt Counts =  %d", static_cast<int>(stored.size()));
    }
    ReportNvLine(report, 0, "Total NvCounts in CSV file =  %d, %d has backuped", static_cast<int>(listed.size()),
                 static_cast<int>(stored.size()));

    if (!ReplaceFileBytes(brtPath, EncodeBrt(stored))) {
        LogFuncLine(kLogError, "CQualCmd::BackupBrt", "Cannot write the BRT file %s", brtPath.c_str());
        return false;
    }
    return true;
}

}  // namespace fennix
