// DIAG loopback (0x7B): the device sends the request back as it came. The
// host uses it to see that freshly flashed firmware has come up.
#include "DeviceContext.h"
#include "PacketHandlers.h"

namespace fennix::sim {
namespace {

constexpr uint8_t kLoopback = 0x7B;

bool Loopback(CDeviceContext& ctx, const Packet& p) {
    ctx.Reply(p);
    return true;
}

const CHandlerRegistration kLoopbackHandler(DeviceMode::Diag, kLoopback, Loopback);

}  // namespace
}  // namespace fennix::sim
