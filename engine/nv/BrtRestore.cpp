#include "nv/BrtRestore.h"

#include <vector>

#include "log/Log.h"
#include "nv/BrtFile.h"
#include "nv/FileBytes.h"

namespace fennix {

namespace {

bool RestoreRecord(CNvCommands& nv, const CNV_ItemHolder& record) {
    const auto& value = record.Value();
    if (value.size() <= kNvItemValueMax) {
        const NvAnswer answer = nv.SendNvItemWrite(record.itemNumber, value.data(), value.size());
        return answer.exchange >= 0 && answer.status == kNvStatusDone;
    }
    return nv.WriteNvChunks(record) != 0;
}

}  // namespace

bool RestoreBrt(CNvCommands& nv, const std::string& brtPath, const NvReporter& report) {
    std::vector<uint8_t> bytes;
    if (!ReadFileBytes(brtPath, bytes)) {
        ReportNvLine(report, -1, "Open Brt file failed");
        return false;
    }
    // Every record is in memory before the first write, and a damaged file
    // sends nothing at all.
    const BrtContents contents = DecodeBrt(bytes.data(), bytes.size());
    if (!contents.complete) {
        LogFuncLine(kLogError, "CQualCmd::RestoreBrt",
                    "BRT file %s is damaged: %d records promised, %d read whole", brtPath.c_str(),
                    static_cast<int>(contents.count), static_cast<int>(contents.records.size()));
        return false;
    }
    int restored = 0;
    for (const CNV_ItemHolder& record : contents.records) {
        if (!RestoreRecord(nv, record)) continue;
        ++restored;
        ReportNvLine(report, 0, "RestoreBrt Counts =  %d", restored);
    }
    ReportNvLine(report, 0, "Total NvCounts in BRT file =  %d, %d has restored", static_cast<int>(contents.count),
                 restored);
    return true;
}

}  // namespace fennix
