// The streaming download protocol spoken by the running programmer: hello,
// security mode, partition table, open multi-image, stream writes, close and
// reset, plus the file-level steps built on them. The stream-write address is
// little-endian.
#include "download/StreamingCommands.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <optional>
#include <vector>

#include "download/ImageStream.h"
#include "download/StreamingCodes.h"
#include "files/FileBytes.h"
#include "log/Log.h"
#include "platform/File.h"

namespace fennix {

namespace {

using namespace streaming;

constexpr char kHelloMagic[] = "QCOM fast download protocol host";
constexpr uint8_t kProtocolVersion = 3;
constexpr uint8_t kCompatibleVersion = 3;
constexpr uint8_t kFeatureBits = 0x09;

constexpr uint8_t kImageTypeCefs = 9;

constexpr uint32_t kHelloReplyCapacity = 620;
constexpr uint32_t kStreamWriteReplyCapacity = kStreamWriteReplyBytes;

bool CarriesHeader(uint8_t type) { return type == 4 || type == 5 || type == 10; }

// Reads a small file whole: None, or FileMissing when it cannot be opened and
// FileDamaged when it is longer than `limit` (the packet would not hold it).
Cause ReadSmallFile(const std::string& path, size_t limit, std::vector<uint8_t>& bytes, const char* port,
                    const char* function) {
    platform::File file;
    if (file.Open(path, platform::OpenMode::Read, platform::Share::ReadWrite) != 0) {
        LogPortLine(kLogError, port, function, "Can not open %s.", path.c_str());
        return Cause::FileMissing;
    }
    const int64_t size = file.Size();
    if (size < 0 || static_cast<uint64_t>(size) > limit) {
        LogPortLine(kLogError, port, function, "%s has %lld bytes, more than the %u that fit the packet.", path.c_str(),
                    static_cast<long long>(size), static_cast<unsigned>(limit));
        return size < 0 ? Cause::FileMissing : Cause::FileDamaged;
    }
    // A read that fails leaves the bytes read before it, as a shorter file would.
    ReadToEnd(file, bytes, static_cast<size_t>(size));
    bytes.resize(std::min(bytes.size(), static_cast<size_t>(size)));
    return Cause::None;
}

}  // namespace

CStreamingCommands::CStreamingCommands(IFlowContext& flow) : CDownloadExchange(flow) {
    packet_.reserve(StreamSettings::kDefaultBlock + 8);
}

StepResult CStreamingCommands::Hello() {
    uint8_t packet[36];
    packet[0] = kCmdHello;
    std::memcpy(packet + 1, kHelloMagic, 32);
    packet[33] = kProtocolVersion;
    packet[34] = kCompatibleVersion;
    packet[35] = kFeatureBits;
    announced_.reset();
    plan_ = StreamPlan{};
    const PacketReply reply = Exchange(packet, sizeof packet, kHelloReplyCapacity, flow_.Times().replyWait);
    if (!reply.IsOk()) return StepResult::Of(reply);
    announced_ = ParseHelloReply(reply_.data(), reply.length);
    return Expect(kReplyHello);
}

void CStreamingCommands::UseStreaming(const StreamSettings& asked) {
    plan_ = PlanStreaming(asked, announced_);
    const bool askedMore = asked.window != 1 || asked.blockAuto;
    if (plan_.window > 1 && !flow_.Link().SendsAhead()) plan_.window = 1;
    if (!askedMore) return;
    const char* port = flow_.PortName().c_str();
    static const char* const kFunction = "CStreamingCommands::UseStreaming";
    if (!announced_) {
        LogPortLine(kLogWarning, port, kFunction,
                    "The hello reply announces no window: stream writes go one at a time in blocks of %u bytes.",
                    static_cast<unsigned>(plan_.blockBytes));
        return;
    }
    LogPortLine(kLogWarning, port, kFunction,
                "The device announces a window of %u and blocks of up to %u bytes; streaming %u at a time in "
                "blocks of %u bytes.",
                static_cast<unsigned>(announced_->window), static_cast<unsigned>(announced_->maxBlockBytes),
                static_cast<unsigned>(plan_.window), static_cast<unsigned>(plan_.blockBytes));
}

StepResult CStreamingCommands::SendSecurity(uint8_t mode) {
    const uint8_t packet[2] = {kCmdSecurityMode, mode};
    return Command(packet, sizeof packet, kReplySecurityMode, 1, flow_.Times().replyWait);
}

StepResult CStreamingCommands::SendPartitionTable(const uint8_t* table, uint16_t length) {
    packet_.assign({kCmdPartitionTable, 0x00});  // 0: do not override a table already in flash
    packet_.insert(packet_.end(), table, table + length);
    return Command(packet_.data(), static_cast<uint32_t>(packet_.size()), kReplyPartitionTable, 2,
                   flow_.Times().replyWait);
}

StepResult CStreamingCommands::OpenMultiImage(uint8_t type, const uint8_t* header, uint16_t length) {
    acknowledgedBlock_.reset();  // the new image's offsets start at 0
    packet_.assign({kCmdOpenMultiImage, type});
    if (header) packet_.insert(packet_.end(), header, header + length);
    const uint32_t wait = type == kImageTypeCefs ? flow_.Times().cefsOpenWait : flow_.Times().replyWait;
    return Command(packet_.data(), static_cast<uint32_t>(packet_.size()), kReplyOpenMultiImage, 2, wait);
}

StepResult CStreamingCommands::StreamWrite(const uint8_t* data, uint16_t length, uint32_t address) {
    BuildStreamWrite(packet_, address, data, length);
    const auto size = static_cast<uint32_t>(packet_.size());
    const auto echoesAddress = [this] { return std::memcmp(reply_.data() + 1, packet_.data() + 1, 4) == 0; };

    // A lost reply or one for another block: send the block once more. The
    // second send waits as long as any request does: a device (or the thread
    // behind a virtual one) that stalls for a second, as a busy host or a USB
    // hub can make it, then answers late, and its answer to either send (both
    // echo the address) completes the block instead of failing the image.
    PacketReply reply =
        ExchangeSkippingStale(packet_.data(), size, kStreamWriteReplyCapacity, flow_.Times().streamWriteWait);
    if (!reply.IsOk() || !echoesAddress()) {
        reply = ExchangeSkippingStale(packet_.data(), size, kStreamWriteReplyCapacity,
                                      std::max(flow_.Times().streamWriteWait, flow_.Times().replyWait));
        if (!reply.IsOk()) return StepResult::Of(reply);
        if (!echoesAddress()) return StepResult::Failed();
    }
    if (reply_[0] != kReplyStreamWrite) return StepResult::Failed();
    acknowledgedBlock_ = address;
    return StepResult::Done();
}

bool CStreamingCommands::IsStaleStreamReply(const PacketReply& reply) const {
    if (!reply.IsOk() || reply.length != kStreamWriteReplyCapacity || reply_[0] != kReplyStreamWrite ||
        !acknowledgedBlock_)
        return false;
    const uint32_t echoed = Little32(reply_.data() + 1);
    // Blocks go out at rising offsets: every one up to the last acknowledged is.
    return echoed <= *acknowledgedBlock_;
}

PacketReply CStreamingCommands::ExchangeSkippingStale(const uint8_t* packet, uint32_t length, uint32_t replyCapacity,
                                                      uint32_t waitMs) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(waitMs);
    PacketReply reply = Exchange(packet, length, replyCapacity, waitMs);
    while (IsStaleStreamReply(reply)) {
        // A block whose wait ran out was sent twice and both answers came: the
        // second belongs to nobody. The packet's own answer may still come.
        LogPortLine(kLogWarning, flow_.PortName().c_str(), "CStreamingCommands::ExchangeSkippingStale",
                    "Discarded a second reply to the stream write at %02X %02X %02X %02X.", reply_[1], reply_[2],
                    reply_[3], reply_[4]);
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return PacketReply::Failed(PacketResult::Timeout);
        reply_.assign(replyCapacity, 0);
        reply = flow_.Link().DLReceive(reply_.data(), replyCapacity, static_cast<uint32_t>(left));
    }
    return reply;
}

StepResult CStreamingCommands::CloseImage() {
    const uint8_t packet = kCmdClose;
    // Room for a stream-write reply, so that a late one is seen and passed
    // over; the close's own reply is one byte.
    const PacketReply reply =
        ExchangeSkippingStale(&packet, 1, kStreamWriteReplyCapacity, flow_.Times().closeImageWait);
    if (!reply.IsOk()) return StepResult::Of(reply);
    // Longer than a close's reply: a failed exchange, as the exchange treats an overflow.
    if (reply.length > 1) return StepResult::LinkFailed(PacketResult::Timeout);
    return Expect(kReplyClose);
}

StepResult CStreamingCommands::Reset() {
    const uint8_t packet = kCmdReset;
    return Command(&packet, 1, kReplyReset, 1, flow_.Times().replyWait);
}

StepResult CStreamingCommands::DownloadPartitionFile(const std::string& path) {
    refusal_ = Cause::ImageOpenRefused;  // the table is the first image's open, as the device sees it
    std::vector<uint8_t> table;
    fileFault_ =
        ReadSmallFile(path, kMaxPartitionBytes, table, flow_.PortName().c_str(), "CQualCmd::DownloadPartitionFile");
    if (fileFault_ != Cause::None) return StepResult::Failed();
    const StepResult r = SendPartitionTable(table.data(), static_cast<uint16_t>(table.size()));
    if (!r.IsDone()) flow_.ClosePort();
    return r;
}

StepResult CStreamingCommands::StreamFile(const std::string& path) {
    platform::File file;
    if (file.Open(path, platform::OpenMode::Read, platform::Share::ReadWrite) != 0) {
        LogPortLine(kLogError, flow_.PortName().c_str(), "CQualCmd::StreamFile", "Can not open %s.", path.c_str());
        fileFault_ = Cause::FileMissing;
        return StepResult::Failed();
    }
    const int64_t size = file.Size();
    BlockReader reader(file);
    ImageProgress progress(flow_, size > 0 ? static_cast<uint64_t>(size) : 0);
    return plan_.window > 1 ? StreamWindowed(reader, progress, path) : StreamOneByOne(reader, progress, path);
}

StepResult CStreamingCommands::BlockUnreadable(const std::string& path) {
    LogPortLine(kLogError, flow_.PortName().c_str(), "CQualCmd::StreamFile", "Read of %s failed.", path.c_str());
    fileFault_ = Cause::FileMissing;
    return StepResult::Failed();
}

StepResult CStreamingCommands::StreamOneByOne(BlockReader& reader, ImageProgress& progress, const std::string& path) {
    std::vector<uint8_t> block(plan_.blockBytes);
    uint32_t offset = 0;
    uint32_t previous = 0;
    for (;;) {
        std::fill(block.begin(), block.end(), 0);
        const std::optional<size_t> read = reader.Next(block.data(), block.size());
        if (!read) return BlockUnreadable(path);
        const size_t n = *read;
        offset += previous;
        const StepResult r = StreamWrite(block.data(), static_cast<uint16_t>(n), offset);
        if (!r.IsDone()) return r;
        progress.Add(n);
        if (n != block.size()) return StepResult::Done();
        previous = static_cast<uint32_t>(n);
    }
}

StepResult CStreamingCommands::DownloadImage(uint8_t type, const std::string& bodyPath, const std::string& headerPath,
                                             int32_t image, const char* imageName) {
    fileFault_ = Cause::None;
    const auto enter = [&](Stage stage, Cause refusal) {
        refusal_ = refusal;
        flow_.EnterStage(stage, image, imageName);
    };
    enter(Stage::ImageOpen, Cause::ImageOpenRefused);
    StepResult r = StepResult::Failed();
    if (CarriesHeader(type)) {
        std::vector<uint8_t> header;
        fileFault_ =
            ReadSmallFile(headerPath, kMaxHeaderBytes, header, flow_.PortName().c_str(), "CQualCmd::DownloadImage");
        if (fileFault_ == Cause::None) r = OpenMultiImage(type, header.data(), static_cast<uint16_t>(header.size()));
    } else {
        r = OpenMultiImage(type, nullptr, 0);
    }
    if (r.IsDone()) {
        enter(Stage::ImageWrite, Cause::ImageWriteRefused);
        r = StreamFile(bodyPath);
        if (r.IsDone()) {
            enter(Stage::ImageClose, Cause::ImageCloseRefused);
            r = CloseImage();
        }
        if (r.IsDone()) return r;
    }
    flow_.ClosePort();
    return r;
}

}  // namespace fennix
