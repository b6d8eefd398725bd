// CStreamingCommands: the streaming download protocol spoken by the running
// programmer (hello, security mode, partition table, open multi-image, stream
// writes, close and reset) and the file-level steps built on them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "download/DownloadExchange.h"
#include "download/HelloReply.h"
#include "download/StreamSettings.h"

namespace fennix {

class BlockReader;
class ImageProgress;

class CStreamingCommands : private CDownloadExchange {
public:
    using CDownloadExchange::FileFault;
    explicit CStreamingCommands(IFlowContext& flow);

    // Also reads what the device announces in its reply, and streams one
    // write at a time until UseStreaming says otherwise.
    StepResult Hello();
    // How the images of this download are streamed: `asked` bounded by the
    // latest hello reply (and by a link that cannot leave writes outstanding).
    void UseStreaming(const StreamSettings& asked);
    const StreamPlan& Plan() const { return plan_; }
    StepResult SendSecurity(uint8_t mode);
    StepResult SendPartitionTable(const uint8_t* table, uint16_t length);
    StepResult OpenMultiImage(uint8_t type, const uint8_t* header, uint16_t length);
    StepResult StreamWrite(const uint8_t* data, uint16_t length, uint32_t address);
    StepResult CloseImage();
    StepResult Reset();
    StepResult DownloadPartitionFile(const std::string& path);
    StepResult StreamFile(const std::string& path);
    // Open, stream and close of one image, each stage told to the flow with
    // the image's place in the flash order and its name.
    StepResult DownloadImage(uint8_t type, const std::string& bodyPath, const std::string& headerPath,
                             int32_t image = -1, const char* imageName = nullptr);
    // What a refusal of the latest partition table or image means: the cause
    // of the step it failed in.
    Cause Refusal() const { return refusal_; }

    // Largest partition table and image header the packets can carry.
    static constexpr size_t kMaxPartitionBytes = 1024;
    static constexpr size_t kMaxHeaderBytes = 512;

private:
    StepResult BlockUnreadable(const std::string& path);
    // The image in blocks, each sent once the one before it was answered.
    StepResult StreamOneByOne(BlockReader& reader, ImageProgress& progress, const std::string& path);
    // The image with up to plan_.window writes outstanding (StreamWindow.cpp).
    StepResult StreamWindowed(BlockReader& reader, ImageProgress& progress, const std::string& path);

    // A stream-write reply in the reply scratch that echoes a block of the
    // open image acknowledged already.
    bool IsStaleStreamReply(const PacketReply& reply) const;
    // Exchange that passes over stale stream-write replies and waits on, within
    // the same `waitMs` from the send, for the reply the packet is owed.
    PacketReply ExchangeSkippingStale(const uint8_t* packet, uint32_t length, uint32_t replyCapacity, uint32_t waitMs);

    // Offset of the last block of the open image the device acknowledged.
    std::optional<uint32_t> acknowledgedBlock_;
    Cause refusal_ = Cause::ImageOpenRefused;
    std::optional<HelloAnnouncement> announced_;
    StreamPlan plan_;
};

}  // namespace fennix
