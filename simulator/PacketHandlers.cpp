#include "PacketHandlers.h"

namespace fennix::sim {

static std::pair<int, int> Key(DeviceMode mode, uint8_t command) { return {static_cast<int>(mode), command}; }

void CHandlerTable::Add(DeviceMode mode, uint8_t command, PacketHandler handler) {
    handlers_[Key(mode, command)].push_back(std::move(handler));
}

void CHandlerTable::AddFirst(DeviceMode mode, uint8_t command, PacketHandler handler) {
    auto& list = handlers_[Key(mode, command)];
    list.insert(list.begin(), std::move(handler));
}

void CHandlerTable::Set(DeviceMode mode, uint8_t command, PacketHandler handler) {
    auto& list = handlers_[Key(mode, command)];
    list.clear();
    list.push_back(std::move(handler));
}

void CHandlerTable::Remove(DeviceMode mode, uint8_t command) { handlers_.erase(Key(mode, command)); }

bool CHandlerTable::Dispatch(DeviceMode mode, CDeviceContext& ctx, const Packet& packet) const {
    if (packet.empty()) return false;
    auto it = handlers_.find(Key(mode, packet[0]));
    if (it == handlers_.end()) return false;
    for (const auto& handler : it->second)
        if (handler(ctx, packet)) return true;
    return false;
}

size_t CHandlerTable::HandlerCount(DeviceMode mode, uint8_t command) const {
    auto it = handlers_.find(Key(mode, command));
    return it == handlers_.end() ? 0 : it->second.size();
}

CHandlerTable& DefaultHandlers() {
    static CHandlerTable table = [] {
        CHandlerTable builtIn;
        InstallModeSwitchHandlers(builtIn);
        InstallDownloadBasics(builtIn);
        return builtIn;
    }();
    return table;
}

}  // namespace fennix::sim
