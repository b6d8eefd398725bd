// The DMSS download protocol of a device in download mode: the parameter
// request, 32-bit writes of the programmer into RAM and go, which starts the
// programmer (the streaming protocol of Streaming.cpp). The NOP is
// the core's (DownloadBasics.cpp); its refusal is the common fault switch.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "DeviceContext.h"
#include "PacketHandlers.h"
#include "StreamingFlash.h"

namespace fennix::sim {
namespace {

constexpr uint8_t kGo = 0x05;
constexpr uint8_t kParameterRequest = 0x07;
constexpr uint8_t kWrite32 = 0x0F;
constexpr uint8_t kParameters = 0x08;

bool Refused(CDeviceContext& ctx, const Packet& p) {
    if (ctx.Knob("dl.refuse") != p[0]) return false;
    ctx.Reject(p);
    return true;
}

bool ParameterRequest(CDeviceContext& ctx, const Packet& p) {
    if (p.size() != 1) return false;  // a stream write of the running programmer
    if (Refused(ctx, p)) return true;
    // Protocol version 6 (oldest 2), writes of up to 1024 bytes, MSM model
    // 0x2E, device size unknown, flash device.
    ctx.Reply({kParameters, 0x06, 0x02, 0x04, 0x00, 0x2E, 0x00, 0x01});
    return true;
}

bool Write32(CDeviceContext& ctx, const Packet& p) {
    if (Refused(ctx, p)) return true;
    if (p.size() < 7) {
        ctx.Reject(p);
        return true;
    }
    const uint32_t address = uint32_t(p[1]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 8 | p[4];
    const size_t length = size_t(p[5]) << 8 | p[6];
    if (p.size() != 7 + length) {
        ctx.Reject(p);
        return true;
    }
    auto& target = ctx.State().Extension<DownloadTarget>();
    // RAM does not survive a reboot: the first write of a boot starts afresh.
    if (target.writes == 0 || target.ramBoot != ctx.State().bootCount) {
        target.programmer.clear();
        target.writes = 0;
        target.programmerBase = address;
        target.ramBoot = ctx.State().bootCount;
    }
    if (address < target.programmerBase) {
        ctx.Reject(p);  // below the load address: a real loader would overwrite itself
        return true;
    }
    const size_t offset = address - target.programmerBase;
    if (target.programmer.size() < offset + length) target.programmer.resize(offset + length);
    std::copy(p.begin() + 7, p.end(), target.programmer.begin() + static_cast<std::ptrdiff_t>(offset));
    ++target.writes;
    ctx.Reply({kDmssAck});
    return true;
}

bool Go(CDeviceContext& ctx, const Packet& p) {
    if (Refused(ctx, p)) return true;
    if (p.size() != 5) {
        ctx.Reject(p);
        return true;
    }
    auto& target = ctx.State().Extension<DownloadTarget>();
    target.goSegment = p[1] << 8 | p[2];
    if (const char* dir = std::getenv("FENNIX_SIM_FLASH_DIR"); dir && *dir) {
        if (std::FILE* f = std::fopen((std::string(dir) + "/programmer.bin").c_str(), "wb")) {
            std::fwrite(target.programmer.data(), 1, target.programmer.size(), f);
            std::fclose(f);
        }
    }
    target.programmerRunning = true;
    target.runningSinceBoot = ctx.State().bootCount;
    ctx.Reply({kDmssAck});
    ctx.Note("programmer started");
    return true;
}

const CHandlerRegistration kParameterRequestHandler(DeviceMode::Download, kParameterRequest, ParameterRequest);
const CHandlerRegistration kWrite32Handler(DeviceMode::Download, kWrite32, Write32);
const CHandlerRegistration kGoHandler(DeviceMode::Download, kGo, Go);

}  // namespace
}  // namespace fennix::sim
