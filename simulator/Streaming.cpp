// The streaming download protocol of the programmer once go has started it:
// hello, security mode, partition table, open multi-image (with its header),
// stream writes at offsets, close (which commits the image to flash) and
// reset, after which the device reboots into DIAG mode. Before go, these
// commands are refused like any unknown download-mode command.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "DeviceContext.h"
#include "PacketHandlers.h"
#include "StreamingFlash.h"

namespace fennix::sim {
namespace {

constexpr uint8_t kHello = 0x01;
constexpr uint8_t kStreamWrite = 0x07;
constexpr uint8_t kReset = 0x0B;
constexpr uint8_t kError = 0x0E;
constexpr uint8_t kClose = 0x15;
constexpr uint8_t kSecurityMode = 0x17;
constexpr uint8_t kPartitionTable = 0x19;
constexpr uint8_t kOpenMultiImage = 0x1B;

// Address space reserved for an image being flashed (see OpenMultiImage).
constexpr size_t kImageReserve = size_t{16} << 20;
// More flash than any of these devices has: a write that ends beyond it is
// refused rather than grown into gigabytes of memory.
constexpr uint64_t kFlashSize = uint64_t{1} << 30;

constexpr char kHostMagic[] = "QCOM fast download protocol host";
constexpr char kTargetMagic[] = "QCOM fast download protocol targ";
constexpr size_t kMagicLength = 32;

DownloadTarget& Target(CDeviceContext& ctx) { return ctx.State().Extension<DownloadTarget>(); }

// A device in another process (msm-sim) shows what it was given as files in
// the folder FENNIX_SIM_FLASH_DIR names, if set: programmer.bin,
// partition.bin, and image-<type>.bin with image-<type>.hdr per committed image.
void SaveToFlashDir(const std::string& name, const std::vector<uint8_t>& bytes) {
    const char* dir = std::getenv("FENNIX_SIM_FLASH_DIR");
    if (!dir || !*dir) return;
    const std::string path = std::string(dir) + "/" + name;
    if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
        if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    }
}

// The programmer's handlers answer only while it runs; otherwise the packet
// goes on to the mode's refusal.
bool Running(CDeviceContext& ctx) { return Target(ctx).Running(ctx.State()); }

void ErrorReply(CDeviceContext& ctx) { ctx.Reply({kError}); }

bool Refused(CDeviceContext& ctx, const Packet& p) {
    if (ctx.Knob("dl.refuse") != p[0]) return false;
    ErrorReply(ctx);
    return true;
}

bool Hello(CDeviceContext& ctx, const Packet& p) {
    if (!Running(ctx)) return false;
    if (Refused(ctx, p)) return true;
    if (p.size() < 1 + kMagicLength + 3 || std::memcmp(p.data() + 1, kHostMagic, kMagicLength) != 0) {
        ErrorReply(ctx);
        return true;
    }
    ++Target(ctx).hellos;
    const uint32_t maxBlock = static_cast<uint32_t>(ctx.Knob("dl.max-block"));
    const uint16_t window = static_cast<uint16_t>(ctx.Knob("dl.window"));
    static constexpr char kFlashId[] = "SIMFLASH";
    std::vector<uint8_t> reply{0x02};  // hello reply
    reply.insert(reply.end(), kTargetMagic, kTargetMagic + kMagicLength);
    reply.push_back(3);  // version
    reply.push_back(2);  // oldest compatible version
    for (int i = 0; i < 4; ++i) reply.push_back(static_cast<uint8_t>(maxBlock >> (8 * i)));
    reply.insert(reply.end(), {0x00, 0x00, 0x00, 0x00});  // flash base address
    reply.push_back(sizeof kFlashId - 1);
    reply.insert(reply.end(), kFlashId, kFlashId + sizeof kFlashId - 1);
    if (ctx.Knob("dl.hello-cut") == 0) {
        reply.push_back(static_cast<uint8_t>(window));  // stream writes that may be outstanding
        reply.push_back(static_cast<uint8_t>(window >> 8));
        reply.insert(reply.end(), {0x00, 0x00});  // no sector table
        reply.push_back(0x09);                    // features
    }
    ctx.Reply(reply);
    return true;
}

bool SecurityMode(CDeviceContext& ctx, const Packet& p) {
    if (!Running(ctx)) return false;
    if (Refused(ctx, p)) return true;
    if (p.size() != 2) {
        ErrorReply(ctx);
        return true;
    }
    Target(ctx).securityMode = p[1];
    ctx.Reply({0x18});
    return true;
}

bool PartitionTable(CDeviceContext& ctx, const Packet& p) {
    if (!Running(ctx)) return false;
    if (Refused(ctx, p)) return true;
    if (p.size() < 2) {
        ErrorReply(ctx);
        return true;
    }
    auto& target = Target(ctx);
    target.partitionTable.assign(p.begin() + 2, p.end());
    target.partitionAccepted = true;
    SaveToFlashDir("partition.bin", target.partitionTable);
    ctx.Reply({0x1A, 0x00});
    return true;
}

bool OpenMultiImage(CDeviceContext& ctx, const Packet& p) {
    if (!Running(ctx)) return false;
    if (Refused(ctx, p)) return true;
    if (p.size() < 2 || ctx.Knob("dl.refuse-open") == p[1]) {
        ErrorReply(ctx);
        return true;
    }
    auto& target = Target(ctx);
    target.openType = p[1];
    target.open.header.assign(p.begin() + 2, p.end());
    target.open.bytes.clear();
    // Room for a large image from the start: growing by reallocation would
    // copy megabytes and touch as many fresh pages inside one stream write,
    // which on a loaded virtual machine delays that write's reply by
    // hundreds of milliseconds, near the host's reply wait. Reserved
    // pages are only touched as the image reaches them.
    target.open.bytes.reserve(kImageReserve);
    target.blocksOfOpenImage = 0;
    ctx.Reply({0x1C, 0x00});
    return true;
}

// Answers after the delay, through the device's reply delay for this one
// answer; the answers queued behind it keep their order and come right after.
void ReplyAfter(CDeviceContext& ctx, const std::vector<uint8_t>& reply, int64_t delayMs, ReplyOrder order) {
    Faults& faults = ctx.State().options.faults;
    const Faults usual = faults;
    faults = Faults{};
    faults.replyDelayMs = static_cast<uint32_t>(delayMs);
    ctx.Reply(reply, order);
    faults = usual;
}

// With dl.swap-answers, the answer to the image's write 2k waits for the
// answer to write 2k+1 to overtake it; a host that waits for each answer
// gets it alone after this.
constexpr auto kSwapHold = std::chrono::milliseconds(20);

bool StreamWrite(CDeviceContext& ctx, const Packet& p) {
    if (p.size() < 5) return false;  // the DMSS parameter request
    if (!Running(ctx)) return false;
    if (Refused(ctx, p)) return true;
    auto& target = Target(ctx);
    if (target.openType < 0) {
        ErrorReply(ctx);
        return true;
    }
    const size_t length = p.size() - 5;
    if (length > static_cast<uint64_t>(ctx.Knob("dl.max-block"))) {
        ctx.Note("stream write longer than the announced block size");
        ErrorReply(ctx);
        return true;
    }
    const uint32_t offset = uint32_t(p[1]) | uint32_t(p[2]) << 8 | uint32_t(p[3]) << 16 | uint32_t(p[4]) << 24;
    if (uint64_t{offset} + length > kFlashSize) {
        ctx.Note("stream write beyond the flash");
        ErrorReply(ctx);
        return true;
    }
    const uint32_t requestIndex = target.blocksTotal++;
    if (ctx.Knob("dl.silent-image") == target.openType &&
        target.blocksOfOpenImage >= static_cast<uint64_t>(ctx.Knob("dl.silent-after-blocks"))) {
        ctx.Note("stream write left unanswered");
        return true;
    }
    auto& bytes = target.open.bytes;
    if (bytes.size() < offset + length) bytes.resize(offset + length);
    std::copy(p.begin() + 5, p.end(), bytes.begin() + offset);
    const uint32_t indexInImage = target.blocksOfOpenImage++;
    target.bytesStreamed += length;

    uint32_t echoed = offset;
    const int64_t wrongFrom = ctx.Knob("dl.wrong-echo-block");
    if (wrongFrom >= 0 && requestIndex >= wrongFrom && requestIndex < wrongFrom + ctx.Knob("dl.wrong-echo-count")) {
        echoed = offset + 0x10000;
        ++target.wrongEchoesSent;
    }
    const std::vector<uint8_t> reply = {0x08, uint8_t(echoed), uint8_t(echoed >> 8), uint8_t(echoed >> 16),
                                        uint8_t(echoed >> 24)};
    ReplyOrder order;
    if (ctx.Knob("dl.swap-answers") != 0)
        order = indexInImage % 2 == 0 ? ReplyOrder::Held(kSwapHold) : ReplyOrder::AheadOfHeld();
    const int answers = static_cast<int64_t>(requestIndex) == ctx.Knob("dl.double-answer-block") ? 2 : 1;
    for (int i = 0; i < answers; ++i) {
        if (static_cast<int64_t>(requestIndex) == ctx.Knob("dl.late-block")) {
            ctx.Note("stream write answered late");
            ReplyAfter(ctx, reply, ctx.Knob("dl.late-ms"), order);
        } else if (const int64_t slow = ctx.Knob("dl.write-delay-ms"); slow > 0) {
            ReplyAfter(ctx, reply, slow, order);
        } else {
            ctx.Reply(reply, order);
        }
        order = ReplyOrder{};
    }
    return true;
}

bool Close(CDeviceContext& ctx, const Packet& p) {
    if (!Running(ctx)) return false;
    if (Refused(ctx, p)) return true;
    auto& target = Target(ctx);
    if (target.openType < 0) {
        ErrorReply(ctx);
        return true;
    }
    const std::string name = "image-" + std::to_string(target.openType);
    SaveToFlashDir(name + ".bin", target.open.bytes);
    SaveToFlashDir(name + ".hdr", target.open.header);
    target.images[target.openType] = std::move(target.open);
    target.imageOrder.push_back(target.openType);
    target.open = FlashedImage{};
    target.openType = -1;
    ctx.Reply({0x16});
    return true;
}

bool Reset(CDeviceContext& ctx, const Packet& p) {
    if (!Running(ctx)) return false;
    if (Refused(ctx, p)) return true;
    if (ctx.Knob("dl.reset-fails") != 0) {
        ErrorReply(ctx);
        return true;
    }
    auto& target = Target(ctx);
    ++target.resets;
    target.programmerRunning = false;
    target.openType = -1;
    ctx.Reply({0x0C});
    if (ctx.Knob("dl.stay-away") != 0) ctx.State().options.faults.stayVanished = true;
    // The new firmware comes up in DIAG mode on a port that re-enumerates.
    ctx.Reboot(DeviceMode::Diag);
    return true;
}

const CHandlerRegistration kHelloHandler(DeviceMode::Download, kHello, Hello);
const CHandlerRegistration kSecurityHandler(DeviceMode::Download, kSecurityMode, SecurityMode);
const CHandlerRegistration kPartitionHandler(DeviceMode::Download, kPartitionTable, PartitionTable);
const CHandlerRegistration kOpenHandler(DeviceMode::Download, kOpenMultiImage, OpenMultiImage);
const CHandlerRegistration kStreamWriteHandler(DeviceMode::Download, kStreamWrite, StreamWrite);
const CHandlerRegistration kCloseHandler(DeviceMode::Download, kClose, Close);
const CHandlerRegistration kResetHandler(DeviceMode::Download, kReset, Reset);

}  // namespace

bool DownloadTarget::Running(const DeviceState& state) const {
    return programmerRunning && runningSinceBoot == state.bootCount;
}

}  // namespace fennix::sim
