// Puts the NV memory and the file system on every virtual device's DIAG
// table: NV reads (38), NV writes (39) and the file-system subsystem (75/19).
// Each device keeps its own memory and tree in its state.
//
// A device run as its own program (msm-sim) is preloaded from the store file
// named by FENNIX_SIM_NV_STORE, if set, at its first NV or file-system
// request, and writes its contents back to that file after every request that
// may change them, so a script can read back what the host wrote.
#include <cstdlib>
#include <string>

#include "simulator/DeviceContext.h"
#include "simulator/DeviceIdentity.h"
#include "simulator/EfsTree.h"
#include "simulator/NvMemory.h"
#include "simulator/NvStore.h"
#include "simulator/PacketHandlers.h"

namespace fennix::sim {

namespace {

struct StoreFile {
    bool bound = false;
    std::string path;
};

void BindStoreFile(CDeviceContext& ctx) {
    DeviceState& state = ctx.State();
    StoreFile& file = state.Extension<StoreFile>();
    if (file.bound) return;
    file.bound = true;
    const char* path = std::getenv("FENNIX_SIM_NV_STORE");
    if (!path || !*path) return;
    file.path = path;
    std::string error;
    if (!LoadNvStoreFile(file.path, state.Extension<CNvMemory>(), state.Extension<CEfsTree>(), &error))
        ctx.Note("NV store not loaded: " + error);
}

void SaveStoreFile(CDeviceContext& ctx) {
    DeviceState& state = ctx.State();
    const StoreFile& file = state.Extension<StoreFile>();
    if (!file.path.empty() && !SaveNvStoreFile(file.path, state.Extension<CNvMemory>(), state.Extension<CEfsTree>()))
        ctx.Note("NV store not saved: " + file.path);
}

bool AnswerNv(CDeviceContext& ctx, const Packet& packet) {
    if (!CNvMemory::IsNvRequest(packet)) return false;  // refused as a bad command
    // Knob nv.reject-reads: a device that knows no NV reads refuses each one
    // as a bad command (0x13 and the request).
    if (packet[0] == 38 && ctx.Knob("nv.reject-reads") != 0) {
        ctx.Reject(packet);
        return true;
    }
    // Knob nv.refuse-item=<n>: a device that does not know item n refuses
    // its reads and writes (with its reject form) and answers all others.
    if (const int64_t refused = ctx.Knob("nv.refuse-item");
        refused >= 0 && packet.size() >= 3 && (packet[1] | (packet[2] << 8)) == refused) {
        ctx.Reject(packet);
        return true;
    }
    BindStoreFile(ctx);
    CNvMemory& memory = ctx.State().Extension<CNvMemory>();
    // The identity items answer from the device's identity until the memory
    // holds an item of their number.
    if (const uint16_t item = static_cast<uint16_t>(packet[1] | (packet[2] << 8));
        packet[0] == 38 && memory.items.count(item) == 0) {
        if (const auto value = IdentityItemValue(ctx.State().options, item)) {
            memory.reads++;
            ctx.Reply(SimNvAnswer(38, item, value->data(), value->size(), 0));
            return true;
        }
    }
    auto answer = memory.Answer(packet);
    if (answer)
        ctx.Reply(*answer);
    else
        ctx.Note("NV memory silent");
    if (packet[0] == 39) SaveStoreFile(ctx);
    return true;
}

bool AnswerFileSystem(CDeviceContext& ctx, const Packet& packet) {
    BindStoreFile(ctx);
    auto answer = ctx.State().Extension<CEfsTree>().Answer(packet);
    if (!answer) return false;  // another subsystem, or a command the tree does not know
    ctx.Reply(*answer);
    SaveStoreFile(ctx);
    return true;
}

const CHandlerRegistration kNvRead(DeviceMode::Diag, 38, AnswerNv);
const CHandlerRegistration kNvWrite(DeviceMode::Diag, 39, AnswerNv);
const CHandlerRegistration kFileSystem(DeviceMode::Diag, 75, AnswerFileSystem);

}  // namespace

}  // namespace fennix::sim
