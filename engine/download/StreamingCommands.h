// CStreamingCommands: the streaming download protocol spoken by the running
// programmer (hello, security mode, partition table, open multi-image, stream
// writes, close and reset) and the file-level steps built on them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "download/DownloadExchange.h"

namespace fennix {

class CStreamingCommands : private CDownloadExchange {
public:
    using CDownloadExchange::FileFault;
    explicit CStreamingCommands(IFlowContext& flow);

    StepResult Hello();
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
    static constexpr size_t kStreamBlockBytes = 1024;

private:
    // A stream-write reply in the reply scratch that echoes a block of the
    // open image acknowledged already.
    bool IsStaleStreamReply(const PacketReply& reply) const;
    // Exchange that passes over stale stream-write replies and waits on, within
    // the same `waitMs` from the send, for the reply the packet is owed.
    PacketReply ExchangeSkippingStale(const uint8_t* packet, uint32_t length, uint32_t replyCapacity, uint32_t waitMs);

    // Offset of the last block of the open image the device acknowledged.
    std::optional<uint32_t> acknowledgedBlock_;
    Cause refusal_ = Cause::ImageOpenRefused;
};

}  // namespace fennix
