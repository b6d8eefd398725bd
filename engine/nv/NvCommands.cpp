#include "nv/NvCommands.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "log/Log.h"
#include "nv/ByteOrder.h"

namespace fennix {

namespace {

constexpr uint8_t kNvReadCode = 38;
constexpr uint8_t kNvWriteCode = 39;
constexpr size_t kNvAnswerSize = 133;
constexpr size_t kNvStatusAt = 131;
constexpr size_t kNvDataAt = 3;
constexpr size_t kDrainMaxFrames = 1024;

// File-system requests: subsystem dispatch 75, subsystem 19, 16-bit command.
constexpr uint8_t kSubsystemDispatch = 75;
constexpr uint8_t kFsSubsystem = 19;
constexpr uint16_t kFsProbe = 19;
constexpr uint16_t kFsOpen = 2;
constexpr uint16_t kFsWrite = 5;
constexpr uint16_t kFsClose = 3;
constexpr uint16_t kFsMkdir = 9;
constexpr uint32_t kFsOpenWriteCreateTruncate = 0x241;
constexpr uint32_t kFsFileMode = 0666;
constexpr uint16_t kFsDirMode = 0777;
constexpr uint32_t kFsBadValue = 0xFFFFFFFF;  // -1 as handle or byte count

std::vector<uint8_t> FsRequest(uint16_t code) {
    std::vector<uint8_t> request{kSubsystemDispatch, kFsSubsystem};
    AppendLe16(request, code);
    return request;
}

void AppendPath(std::vector<uint8_t>& request, const std::string& path) {
    request.insert(request.end(), path.begin(), path.end());
    request.push_back(0);
}

uint16_t FsCode(const uint8_t* answer) { return GetLe16(answer + 2); }

}  // namespace

PacketReply CNvCommands::Exchange(const std::vector<uint8_t>& request, uint8_t* answer, size_t capacity) {
    return exchange_.DIAGTxRx(request.data(), static_cast<uint32_t>(request.size()), answer,
                              static_cast<uint32_t>(capacity), waitMs_);
}

void CNvCommands::Drain() {
    uint32_t count = 0;
    exchange_.ReadReturnPacket(drain_.data(), static_cast<uint32_t>(drain_.size()), &count, kDrainMaxFrames);
}

CNvCommands::AnswerCheck CNvCommands::NvCheck(const std::vector<uint8_t>& request, int index) const {
    const std::array<uint8_t, 3> head{request[0], request[1], request[2]};
    return [this, head, index](uint32_t length) {
        if (length < kNvAnswerSize) return false;  // no status field
        if (!std::equal(head.begin(), head.end(), answer_.begin())) return false;
        // Only an index that was read carries its echo.
        return index < 0 || StatusByte() != kNvStatusDone || answer_[kNvDataAt] == index;
    };
}

uint8_t CNvCommands::StatusByte() const { return refused_ ? answer_[0] : answer_[kNvStatusAt]; }

bool CNvCommands::IsRefusalOf(const std::vector<uint8_t>& request, uint32_t length, size_t echoed) const {
    if (length < 1 || (answer_[0] != kDiagBadCommand && answer_[0] != kDiagBadParameters)) return false;
    const size_t echo = static_cast<size_t>(length) - 1;
    if (echo < echoed) return false;
    // Devices echo the packet, or the frame it came in (stuffed, with its CRC).
    const auto echoes = [&](const std::vector<uint8_t>& form) {
        return echo <= form.size() && std::equal(answer_.begin() + 1, answer_.begin() + length, form.begin());
    };
    return echoes(request) || echoes(PackFrame(request.data(), request.size(), 0, kHdlcFlag));
}

PacketReply CNvCommands::MatchedExchange(const std::vector<uint8_t>& request, const AnswerCheck& belongs,
                                         size_t echoed) {
    using Clock = std::chrono::steady_clock;
    std::vector<uint8_t> owed;
    owed.swap(leftover_);
    refused_ = false;
    for (int send = 0; send < 2; ++send) {
        const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(waitMs_);
        PacketReply reply = Exchange(request, answer_.data(), answer_.size());
        bool foreign = false;
        for (;;) {
            // No answer at all is a failed exchange; the wait running out
            // after a foreign frame sends the request again.
            if (!reply.IsOk() && (reply.result != PacketResult::Timeout || !foreign)) return reply;
            if (!reply.IsOk()) break;
            const uint32_t length = reply.length;
            if (!owed.empty() && owed.size() == length && std::equal(owed.begin(), owed.end(), answer_.begin())) {
                owed.clear();
            } else if (belongs(length) || IsRefusalOf(request, length, echoed)) {
                refused_ = !belongs(length);
                if (send > 0) leftover_.assign(answer_.begin(), answer_.begin() + length);
                return reply;
            }
            LogFuncLine(kLogError, "CNvCommands::MatchedExchange",
                        "Answer of %d bytes (code %u) does not belong to request %u %u %u", static_cast<int>(length),
                        answer_[0], request[0], request[1], request[2]);
            foreign = true;
            // A device that keeps sending other frames must not hold the
            // request past its own wait.
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0) break;
            reply = exchange_.DIAGReceive(answer_.data(), static_cast<uint32_t>(answer_.size()),
                                          static_cast<uint32_t>(left.count()));
        }
        Drain();
    }
    std::fill(answer_.begin(), answer_.end(), 0);
    return PacketReply::Failed(PacketResult::Timeout);
}

PacketReply CNvCommands::NvExchange(const std::vector<uint8_t>& request, int index) {
    // A refusal must name the item (and the index of an indexed read).
    return MatchedExchange(request, NvCheck(request, index), index < 0 ? 3 : 4);
}

PacketReply CNvCommands::FsExchange(const std::vector<uint8_t>& request, size_t fields) {
    // The head and, for a write, the handle and offset the answer echoes.
    const size_t echoed = FsCode(request.data()) == kFsWrite ? 12 : 4;
    const std::vector<uint8_t> head(request.begin(), request.begin() + echoed);
    return MatchedExchange(
        request,
        [this, head, fields](uint32_t length) {
            return length >= std::max(fields, head.size()) && std::equal(head.begin(), head.end(), answer_.begin());
        },
        echoed);
}

NvReadResult CNvCommands::ReadNvItem(int32_t itemNumber) {
    std::vector<uint8_t> request{kNvReadCode};
    AppendLe16(request, static_cast<uint16_t>(itemNumber));
    NvReadResult result;
    if (!NvExchange(request).IsOk()) {
        result.result = NvRequestResult::Lost;
        return result;
    }
    result.status = StatusByte();
    if (refused_) return result;
    std::copy(&answer_[kNvDataAt], &answer_[kNvDataAt] + kNvItemValueMax, result.data.begin());
    return result;
}

NvOutcome CNvCommands::ReadIndexedNvItem(CNV_ItemHolder& record) {
    std::vector<uint8_t> collected;
    uint8_t indexEcho = 0;
    size_t read = 0;
    for (; read < kNvIndexMax; ++read) {
        std::vector<uint8_t> request{kNvReadCode};
        AppendLe16(request, static_cast<uint16_t>(record.itemNumber));
        request.push_back(static_cast<uint8_t>(read));
        // An item cut short by a lost exchange would be stored incomplete.
        if (!NvExchange(request, static_cast<int>(read)).IsOk()) return NvOutcome::Lost;
        if (StatusByte() != kNvStatusDone) break;
        collected.insert(collected.end(), &answer_[kNvDataAt + 1], &answer_[kNvStatusAt]);
        collected.push_back(0);
        indexEcho = answer_[kNvDataAt];
    }
    if (read == 0) return NvOutcome::Refused;
    if (read == 1) {
        // A single index is kept as the whole data field of its answer.
        collected.pop_back();
        collected.insert(collected.begin(), indexEcho);
    }
    record.SetValue(std::move(collected));
    return NvOutcome::Done;
}

NvRequestResult CNvCommands::ItemWriteExchange(int32_t itemNumber, const uint8_t* value, size_t length) {
    if (length > kNvItemValueMax) return NvRequestResult::NotSent;
    std::vector<uint8_t> request(3 + kNvItemValueMax, 0);
    request[0] = kNvWriteCode;
    PutLe16(&request[1], static_cast<uint16_t>(itemNumber));
    if (length > 0) std::memcpy(&request[3], value, length);
    return NvExchange(request).IsOk() ? NvRequestResult::Answered : NvRequestResult::Lost;
}

NvWriteResult CNvCommands::WriteNvItem(int32_t itemNumber, const uint8_t* value, size_t length) {
    NvWriteResult result;
    result.result = ItemWriteExchange(itemNumber, value, length);
    if (result.result != NvRequestResult::Answered) return result;
    result.status = refused_ ? StatusByte() : GetLe16(&answer_[kNvStatusAt]);
    return result;
}

NvAnswer CNvCommands::SendNvItemWrite(int32_t itemNumber, const uint8_t* value, size_t length) {
    NvAnswer result;
    result.result = ItemWriteExchange(itemNumber, value, length);
    if (result.result == NvRequestResult::Answered) result.status = StatusByte();
    return result;
}

NvAnswer CNvCommands::WriteNvArrayEntry(int32_t itemNumber, const uint8_t* value, size_t length) {
    NvAnswer result;
    if (length > kNvArrayEntryValueMax) {
        result.result = NvRequestResult::NotSent;
        return result;
    }
    // The value starts at byte 3, over the upper half of the 32-bit number.
    std::vector<uint8_t> request(kNvAnswerSize, 0);
    request[0] = kNvWriteCode;
    PutLe32(&request[1], static_cast<uint32_t>(itemNumber));
    if (length > 0) std::memcpy(&request[3], value, length);
    if (!NvExchange(request).IsOk()) {
        result.result = NvRequestResult::Lost;
        return result;
    }
    result.status = StatusByte();
    return result;
}

NvOutcome CNvCommands::WriteNvChunks(const CNV_ItemHolder& record) {
    const int32_t length = record.ValueLength();
    if (length <= 0 || static_cast<size_t>(length) > kNvChunkValueMax) return NvOutcome::Refused;
    const uint8_t* value = record.Value().data();
    uint8_t lastStatus = kNvStatusDone;
    for (size_t k = 0;; ++k) {
        const size_t start = k * kNvChunkSize;
        const size_t take = std::min(kNvChunkSize, static_cast<size_t>(length) - start);
        // Bytes 4-131 carry the chunk; a short last chunk is padded with zeros.
        std::vector<uint8_t> request(4 + kNvChunkSize + 2, 0);
        request[0] = kNvWriteCode;
        PutLe16(&request[1], static_cast<uint16_t>(record.itemNumber));
        request[3] = static_cast<uint8_t>(k);
        std::memcpy(&request[4], value + start, take);
        if (!NvExchange(request).IsOk()) return NvOutcome::Lost;
        lastStatus = StatusByte();
        if (kNvChunkSize * (k + 1) >= static_cast<size_t>(length)) break;
    }
    return lastStatus == kNvStatusDone ? NvOutcome::Done : NvOutcome::Refused;
}

FsFileResult CNvCommands::WriteFsFile(const std::string& path, const uint8_t* value, size_t length) {
    if (path.size() > kFsPathMax || length > kFsFileLengthMax) return FsFileResult::NotOpened;
    const uint8_t* answer = answer_.data();

    std::vector<uint8_t> probe = FsRequest(kFsProbe);
    probe.push_back(0);
    if (!FsExchange(probe, 8).IsOk()) return FsFileResult::Lost;
    if (refused_ || GetLe32(answer + 4) != 0) return FsFileResult::NotOpened;

    std::vector<uint8_t> open = FsRequest(kFsOpen);
    AppendLe32(open, kFsOpenWriteCreateTruncate);
    AppendLe32(open, kFsFileMode);
    AppendPath(open, path);
    uint32_t handle = kFsBadValue;
    for (int attempt = 0; attempt < 5 && handle == kFsBadValue; ++attempt) {
        if (!FsExchange(open, 8).IsOk()) return FsFileResult::Lost;
        // A refused request is refused again: no point in the other tries.
        if (refused_) return FsFileResult::NotOpened;
        handle = GetLe32(answer + 4);
    }
    if (handle == kFsBadValue) return FsFileResult::NotOpened;

    size_t offset = 0;
    do {
        const size_t take = std::min(kFsWriteBlock, length - offset);
        std::vector<uint8_t> write = FsRequest(kFsWrite);
        AppendLe32(write, handle);
        AppendLe32(write, static_cast<uint32_t>(offset));
        if (take > 0) write.insert(write.end(), value + offset, value + offset + take);
        if (!FsExchange(write, 20).IsOk()) return FsFileResult::Lost;
        if (refused_ || GetLe32(answer + 16) != 0 || GetLe32(answer + 12) == kFsBadValue)
            return FsFileResult::NotWritten;
        offset += take;
    } while (offset < length);

    std::vector<uint8_t> close = FsRequest(kFsClose);
    AppendLe32(close, handle);
    if (!FsExchange(close, 8).IsOk()) return FsFileResult::Lost;
    return !refused_ && GetLe32(answer + 4) == 0 ? FsFileResult::Stored : FsFileResult::NotWritten;
}

NvOutcome CNvCommands::MakeFsDir(const std::string& path) {
    if (path.size() > kFsPathMax) return NvOutcome::Refused;
    std::vector<uint8_t> request = FsRequest(kFsMkdir);
    AppendLe16(request, kFsDirMode);
    AppendPath(request, path);
    // The error number is not looked at: an existing directory counts as made.
    if (!FsExchange(request, 4).IsOk()) return NvOutcome::Lost;
    return refused_ ? NvOutcome::Refused : NvOutcome::Done;
}

}  // namespace fennix
