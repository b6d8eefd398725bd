// What a packet handler can do, carried out on the device it answers for.
#include "DeviceContext.h"

#include "VirtualDevice.h"

namespace fennix::sim {

void CDeviceContext::Reply(const std::vector<uint8_t>& packet) { device_.Emit(packet, true, command_); }

void CDeviceContext::Reply(const std::vector<uint8_t>& packet, ReplyOrder order) {
    device_.Emit(packet, true, command_, order);
}

void CDeviceContext::Reject(const Packet& packet) {
    if (state_.mode == DeviceMode::Download) {
        Reply({0x03, 0x00, 0x06});
        return;
    }
    std::vector<uint8_t> answer;
    if (state_.options.rejectForm == DiagRejectForm::BadParameter) {
        answer.push_back(0x14);
        answer.insert(answer.end(), raw_.begin(), raw_.end());
    } else {
        answer.push_back(0x13);
        answer.insert(answer.end(), packet.begin(), packet.end());
    }
    Reply(answer);
}

void CDeviceContext::SwitchMode(DeviceMode mode, bool vanish) {
    device_.QueueModeSwitch(mode, CVirtualDevice::VanishIf(vanish, false));
}

void CDeviceContext::Reboot(DeviceMode mode) { device_.QueueModeSwitch(mode, VanishKind::Reboot()); }

void CDeviceContext::SwitchModeWhenHostCloses(DeviceMode mode, bool vanish, bool reboot) {
    if (state_.hostOpens == 0 || device_.presence_.Port().WatchFd() < 0) {
        device_.QueueModeSwitch(mode, CVirtualDevice::VanishIf(vanish, reboot));
        return;
    }
    device_.deferred_ = {true, mode, CVirtualDevice::VanishIf(vanish, reboot)};
    Note("switch waits for the host to close the port");
}

void CDeviceContext::Note(const std::string& text) { device_.Record(EventKind::Note, {}, text); }

}  // namespace fennix::sim
