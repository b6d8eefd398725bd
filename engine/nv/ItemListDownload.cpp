#include "nv/ItemListDownload.h"

#include "log/Log.h"
#include "nv/DuckFile.h"
#include "nv/FieldText.h"

namespace fennix {

namespace {

void RecordFailure(NvFailedItem& failed, int32_t itemNumber) {
    failed.text.clear();
    failed.id = itemNumber;
}

// What the download does after one record.
enum class Next {
    Go,
    GoNotStored,  // a device file may have been left truncated: the result must say so
    Stop,         // an exchange failed: the device does not answer
};

// False when the download must stop.
bool SendNumberedItem(CNvCommands& nv, const CNV_ItemHolder& record, NvFailedItem& failed) {
    const auto& value = record.Value();
    if (value.size() > kNvItemValueMax) {
        // Cannot be expressed in an item write: refused here, like a device refusal.
        LogFuncLine(kLogError, "SendNumberedItem", "NV item %d: value of %d bytes is too long", record.itemNumber,
                    static_cast<int>(value.size()));
        RecordFailure(failed, record.itemNumber);
        return true;
    }
    const NvWriteResult written = nv.WriteNvItem(record.itemNumber, value.data(), value.size());
    if (written.result != NvRequestResult::Answered) {
        RecordFailure(failed, record.itemNumber);
        return false;
    }
    if (written.status != kNvStatusDone) {
        RecordFailure(failed, record.itemNumber);
        // The second try's answer is not judged, but a lost exchange still
        // means the device stopped answering.
        if (written.status == kNvStatusInactive &&
            nv.WriteNvItem(record.itemNumber, value.data(), value.size()).result == NvRequestResult::Lost)
            return false;
    }
    return true;
}

bool SendArrayEntry(CNvCommands& nv, const CNV_ItemHolder& record, NvFailedItem& failed) {
    const int32_t itemNumber = ArrayItemNumber(record.name);
    const auto& value = record.Value();
    if (value.size() > kNvArrayEntryValueMax) {
        LogFuncLine(kLogError, "SendArrayEntry", "ARRAY entry %d: value of %d bytes is too long", itemNumber,
                    static_cast<int>(value.size()));
        RecordFailure(failed, itemNumber);
        return true;
    }
    const NvAnswer answer = nv.WriteNvArrayEntry(itemNumber, value.data(), value.size());
    if (answer.result != NvRequestResult::Answered) {
        RecordFailure(failed, itemNumber);
        return false;
    }
    if (answer.status != kNvStatusDone) {
        RecordFailure(failed, itemNumber);
        if (answer.status == kNvStatusInactive &&
            nv.WriteNvArrayEntry(itemNumber, value.data(), value.size()).result == NvRequestResult::Lost)
            return false;
    }
    return true;
}

// A file that was never opened changes nothing on the device and leaves no
// trace; one opened and not written, or lost, is recorded as the failed item.
Next AfterFileWrite(FsFileResult result, const CNV_ItemHolder& record, NvFailedItem& failed) {
    if (result == FsFileResult::Stored || result == FsFileResult::NotOpened) return Next::Go;
    failed.text = record.name;
    failed.id = record.itemNumber;
    if (result == FsFileResult::Lost) return Next::Stop;
    LogFuncLine(kLogError, "AfterFileWrite", "File %.64s was opened but not written", record.name.c_str());
    return Next::GoNotStored;
}

Next SendFileEntry(CNvCommands& nv, const CNV_ItemHolder& record, NvFailedItem& failed) {
    const auto& value = record.Value();
    if (record.name.size() > kFsPathMax || value.size() > kFsFileLengthMax) {
        LogFuncLine(kLogError, "SendFileEntry", "File entry %.64s... cannot be sent: path or contents too long",
                    record.name.c_str());
        return Next::Go;
    }
    const FsFileResult first = nv.WriteFsFile(record.name, value.data(), value.size());
    if (first != FsFileResult::NotOpened) return AfterFileWrite(first, record, failed);
    // The usual reason is a missing directory: make them all and try once more.
    for (const std::string& directory : ParentDirectories(record.name)) {
        if (nv.MakeFsDir(directory) == NvOutcome::Lost) return AfterFileWrite(FsFileResult::Lost, record, failed);
    }
    return AfterFileWrite(nv.WriteFsFile(record.name, value.data(), value.size()), record, failed);
}

}  // namespace

std::vector<std::string> ParentDirectories(const std::string& path) {
    std::vector<std::string> directories;
    const size_t lastSlash = path.rfind('/');
    if (lastSlash == std::string::npos) return directories;
    const size_t directoryPart = lastSlash + 1;
    std::string grown;
    for (const TextField& field : SplitFieldsAt(path, '/')) {
        if (field.offset >= directoryPart) break;
        grown += field.text;
        directories.push_back(grown);
        grown += '/';
    }
    return directories;
}

FlowOutcome SendItemListsToDevice(CNvCommands& nv, const CNVArray& numbered, const CNVArray& named,
                                  NvFailedItem& failed, IFlowEvents& events) {
    // A file entry is two records of the list and one entry.
    uint64_t total = static_cast<uint64_t>(numbered.Count());
    for (int32_t i = 0; i < named.Count(); i += IsArrayName(named.At(i).name) ? 1 : 2) ++total;
    uint64_t done = 0;
    events.EnterStage(Stage::NvItem);
    const FlowOutcome lost = FlowOutcome::Failure(Cause::StoppedAnswering);
    for (const CNV_ItemHolder& record : numbered) {
        events.Progress(done++, total);
        if (!SendNumberedItem(nv, record, failed)) return lost;
    }

    bool allStored = true;
    for (int32_t i = 0; i < named.Count();) {
        events.Progress(done++, total);
        const CNV_ItemHolder& record = named.At(i);
        if (IsArrayName(record.name)) {
            if (!SendArrayEntry(nv, record, failed)) return lost;
            i += 1;
        } else {
            const Next next = SendFileEntry(nv, record, failed);
            if (next == Next::Stop) return lost;
            allStored &= next == Next::Go;
            i += 2;  // passes over the entry's second value, which is never sent
        }
    }
    events.Progress(total, total);
    return allStored ? FlowOutcome::Success() : FlowOutcome::Failure(Cause::DeviceRefused);
}

}  // namespace fennix
