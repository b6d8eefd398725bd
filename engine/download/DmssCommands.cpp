// Programmer upload over the DMSS download protocol: NOP, parameter request,
// 32-bit writes of the programmer into RAM, and go. Multi-byte fields are
// big-endian.
#include "download/DmssCommands.h"

#include <vector>

#include "log/Log.h"

namespace fennix {

namespace {

constexpr uint8_t kCmdWrite32 = 0x0F;
constexpr uint8_t kCmdGo = 0x05;
constexpr uint8_t kCmdNop = 0x06;
constexpr uint8_t kCmdParameterRequest = 0x07;
constexpr uint8_t kReplyAck = 0x02;
constexpr uint8_t kReplyParameters = 0x08;
constexpr uint32_t kAckReplyCapacity = 10;
constexpr uint32_t kParameterReplyCapacity = 8;
constexpr int kNopAttempts = 10;

}  // namespace

StepResult CDmssCommands::TestCommunication() {
    const uint8_t nop = kCmdNop;
    const StepResult r = Command(&nop, 1, kReplyAck, kAckReplyCapacity, flow_.Times().replyWait);
    return r.IsDone() ? r : StepResult::Failed();
}

StepResult CDmssCommands::RequestParameter() {
    const uint8_t request = kCmdParameterRequest;
    return Command(&request, 1, kReplyParameters, kParameterReplyCapacity, flow_.Times().replyWait);
}

StepResult CDmssCommands::Write32(uint32_t address, const uint8_t* data, uint16_t length) {
    packet_.clear();
    packet_.push_back(kCmdWrite32);
    packet_.push_back(static_cast<uint8_t>(address >> 24));
    packet_.push_back(static_cast<uint8_t>(address >> 16));
    packet_.push_back(static_cast<uint8_t>(address >> 8));
    packet_.push_back(static_cast<uint8_t>(address));
    packet_.push_back(static_cast<uint8_t>(length >> 8));
    packet_.push_back(static_cast<uint8_t>(length));
    packet_.insert(packet_.end(), data, data + length);

    const auto size = static_cast<uint32_t>(packet_.size());
    PacketReply reply = Exchange(packet_.data(), size, kAckReplyCapacity, flow_.Times().replyWait);
    // A lost exchange (timeout, send error) is worth one more try; a refusal is not.
    if (!reply.IsOk()) reply = Exchange(packet_.data(), size, kAckReplyCapacity, flow_.Times().replyWait);
    return reply.IsOk() ? Expect(kReplyAck) : StepResult::Of(reply);
}

StepResult CDmssCommands::Go(uint16_t segment) {
    const uint8_t packet[5] = {kCmdGo, static_cast<uint8_t>(segment >> 8), static_cast<uint8_t>(segment), 0, 0};
    return Command(packet, sizeof packet, kReplyAck, kAckReplyCapacity, flow_.Times().replyWait);
}

StepResult CDmssCommands::DownloadHexFile(const std::string& programmerPath) {
    static const char* const kFunction = "CQualCmd::DownloadHexFile";
    int openError = 0;
    if (!hexFile_.Open(programmerPath, platform::Share::ReadWrite, &openError)) {
        // It opened but is too short to hold a record: there, but damaged.
        fileFault_ = openError != 0 ? Cause::FileMissing : Cause::FileDamaged;
        flow_.Say(OperatorLine::HexFileOpenFailed);
        return StepResult::Failed();
    }
    flow_.Say(OperatorLine::HexFileOpened);
    startSegment_ = static_cast<uint16_t>(hexFile_.StartSegmentHigh() * 256 + hexFile_.StartSegmentLow());

    // The whole programmer is read before its first byte goes out, so that a
    // file that cannot be read whole leaves the device's RAM untouched.
    std::vector<std::vector<uint8_t>> blocks;
    if (hexFile_.Fault().empty()) {
        uint32_t n = 0;
        do {
            std::vector<uint8_t> block(CHexFile::kBlockSize, 0);
            n = hexFile_.ReadData(block.data());
            block.resize(n);
            blocks.push_back(std::move(block));
        } while (n == CHexFile::kBlockSize);
    }
    hexFile_.Close();
    const std::string fault = hexFile_.Fault().empty() ? hexFile_.DataNotDelivered() : hexFile_.Fault();
    if (!fault.empty()) {
        fileFault_ = Cause::FileDamaged;
        LogPortLine(kLogError, flow_.PortName().c_str(), kFunction,
                    "%s is not a programmer that can be sent whole: %s.", programmerPath.c_str(), fault.c_str());
        return StepResult::Failed();
    }

    // The data go to consecutive addresses from the start of the segment; the
    // record addresses of the file are not used.
    uint32_t address = static_cast<uint32_t>(startSegment_) << 16;
    uint64_t total = 0;
    for (const auto& block : blocks) total += block.size();
    uint64_t written = 0;
    uint64_t lastPercent = 0;
    for (const auto& block : blocks) {
        const StepResult r = Write32(address, block.data(), static_cast<uint16_t>(block.size()));
        if (!r.IsDone()) return r;
        address += static_cast<uint32_t>(block.size());
        written += block.size();
        // At most a hundred events, however many blocks the programmer has.
        const uint64_t percent = total ? written * 100 / total : 100;
        if (percent > lastPercent) {
            flow_.Progress(written, total);
            lastPercent = percent;
        }
    }
    return StepResult::Done();
}

StepResult CDmssCommands::RunProgrammerStage(const std::string& programmerPath) {
    fileFault_ = Cause::None;
    // Always ten NOPs: the first answers may be lost while the device settles,
    // and only the last one decides.
    StepResult r = StepResult::Failed();
    for (int attempt = 0; attempt < kNopAttempts; ++attempt) {
        r = TestCommunication();
        if (!r.IsDone()) {
            if (flow_.Cancelled()) break;
            flow_.Say(OperatorLine::TestCommunicationRetry);
            flow_.Pause(flow_.Times().nopRetryPause);
        }
    }
    if (!r.IsDone()) {
        flow_.ClosePort();
        flow_.Say(OperatorLine::TestCommunicationFailed);
        return r;
    }
    flow_.Say(OperatorLine::TestCommunicationSucceeded);

    RequestParameter();  // the programmer does not depend on the answer
    flow_.Say(OperatorLine::RequestParameter);

    r = DownloadHexFile(programmerPath);
    if (!r.IsDone()) {
        flow_.ClosePort();
        flow_.Say(OperatorLine::HexFileFailed);
        return r;
    }
    flow_.Say(OperatorLine::HexFileSucceeded);

    Go(startSegment_);  // a programmer that starts may not acknowledge; the hello tells
    return StepResult::Done();
}

}  // namespace fennix
