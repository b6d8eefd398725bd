// Download mode as far as the host's mode probe needs it: the no-operation is
// acknowledged. The programmer upload and the streaming protocol add their
// commands in files of their own.
#include "DeviceContext.h"
#include "PacketHandlers.h"

namespace fennix::sim {
namespace {

constexpr uint8_t kNop = 0x06;

bool Nop(CDeviceContext& ctx, const Packet&) {
    ctx.Reply({kDmssAck});
    return true;
}

}  // namespace

void InstallDownloadBasics(CHandlerTable& table) { table.Add(DeviceMode::Download, kNop, Nop); }

}  // namespace fennix::sim
