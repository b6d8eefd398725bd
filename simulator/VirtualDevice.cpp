// The virtual device's life (start, stop) and its locked public interface,
// used from any thread. The device thread's work lives in DeviceLoop.cpp and
// the files it names.
#include "VirtualDevice.h"

#include <cerrno>
#include <sys/eventfd.h>
#include <unistd.h>

namespace fennix::sim {

std::optional<VanishKind> CVirtualDevice::VanishIf(bool vanish, bool reboot) {
    if (!vanish) return std::nullopt;
    return reboot ? VanishKind::Reboot() : VanishKind{};
}

CVirtualDevice::CVirtualDevice(DeviceOptions options) : handlers_(DefaultHandlers()) {
    state_.options = std::move(options);
    state_.mode = state_.options.mode;
}

CVirtualDevice::~CVirtualDevice() { Stop(); }

int CVirtualDevice::Start() {
    std::unique_lock<std::mutex> lock(mutex_);
    if (running_) return EALREADY;
    int error = presence_.Appear(state_.options.directory, state_.options.name);
    if (error != 0) return error;
    wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd_ < 0) {
        error = errno;
        presence_.Disappear();
        return error;
    }
    state_.present = true;
    state_.gone = false;
    state_.hostOpens = 0;
    quietSince_ = Clock::now();
    deferred_.pending = false;
    assembler_.SetDownloadFraming(state_.mode == DeviceMode::Download);
    stopping_ = false;
    running_ = true;
    thread_ = std::thread(&CVirtualDevice::Run, this);
    return 0;
}

void CVirtualDevice::Stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!running_) return;
        stopping_ = true;
    }
    Wake();
    thread_.join();
    std::lock_guard<std::mutex> lock(mutex_);
    presence_.Disappear();
    ::close(wakeFd_);
    wakeFd_ = -1;
    running_ = false;
    state_.present = false;
    output_.Clear();
    stateChanged_.notify_all();
}

bool CVirtualDevice::Running() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return running_;
}

std::string CVirtualDevice::Path() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return presence_.Path();
}

std::string CVirtualDevice::SlavePath() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return presence_.SlavePath();
}

DeviceMode CVirtualDevice::Mode() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return state_.mode;
}

size_t CVirtualDevice::UnreadByHost() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return output_.Pending() + presence_.Port().UnreadByHost();
}

bool CVirtualDevice::Present() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return state_.present;
}

uint32_t CVirtualDevice::BootCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return state_.bootCount;
}

void CVirtualDevice::SwitchMode(DeviceMode mode, bool vanish) {
    std::lock_guard<std::mutex> lock(mutex_);
    QueueModeSwitch(mode, VanishIf(vanish, false));
    Wake();
}

void CVirtualDevice::Reboot(DeviceMode mode) {
    std::lock_guard<std::mutex> lock(mutex_);
    QueueModeSwitch(mode, VanishKind::Reboot());
    Wake();
}

void CVirtualDevice::Unplug() {
    std::lock_guard<std::mutex> lock(mutex_);
    QueueModeSwitch(state_.mode, VanishKind::StayAway());
    Wake();
}

void CVirtualDevice::Replug() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!state_.present) presence_.ReturnNow();
    Wake();
}

void CVirtualDevice::SetFaults(const Faults& faults) {
    std::lock_guard<std::mutex> lock(mutex_);
    state_.options.faults = faults;
    Wake();
}

KnobCheck CVirtualDevice::InjectFault(const FaultPoint& point) {
    std::lock_guard<std::mutex> lock(mutex_);
    return InjectFaultPoint(state_, point);
}

KnobCheck CVirtualDevice::SetKnob(const std::string& name, int64_t value) {
    std::lock_guard<std::mutex> lock(mutex_);
    KnobCheck check = state_.options.knobs.Set(name, value);
    Wake();
    return check;
}

Faults CVirtualDevice::GetFaults() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return state_.options.faults;
}

DeviceOptions CVirtualDevice::Options() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return state_.options;
}

void CVirtualDevice::WithState(const std::function<void(DeviceState&)>& fn) {
    std::lock_guard<std::mutex> lock(mutex_);
    fn(state_);
    stateChanged_.notify_all();
    Wake();
}

void CVirtualDevice::SetHandler(DeviceMode mode, uint8_t command, PacketHandler handler) {
    std::lock_guard<std::mutex> lock(mutex_);
    handlers_.Set(mode, command, std::move(handler));
}

void CVirtualDevice::AddHandler(DeviceMode mode, uint8_t command, PacketHandler handler) {
    std::lock_guard<std::mutex> lock(mutex_);
    handlers_.Add(mode, command, std::move(handler));
}

void CVirtualDevice::RemoveHandler(DeviceMode mode, uint8_t command) {
    std::lock_guard<std::mutex> lock(mutex_);
    handlers_.Remove(mode, command);
}

void CVirtualDevice::SetRequestHook(RequestHook hook) {
    std::lock_guard<std::mutex> lock(mutex_);
    hook_ = std::move(hook);
}

bool CVirtualDevice::WaitForState(const std::function<bool(const DeviceState&)>& predicate,
                                  std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return stateChanged_.wait_for(lock, timeout, [&] { return predicate(state_); });
}

bool CVirtualDevice::WaitForMode(DeviceMode mode, std::chrono::milliseconds timeout) const {
    return WaitForState([mode](const DeviceState& s) { return s.mode == mode; }, timeout);
}

bool CVirtualDevice::WaitForPresent(bool present, std::chrono::milliseconds timeout) const {
    return WaitForState([present](const DeviceState& s) { return s.present == present; }, timeout);
}

void CVirtualDevice::Wake() {
    if (wakeFd_ < 0) return;
    uint64_t one = 1;
    ssize_t ignored = ::write(wakeFd_, &one, sizeof one);
    (void)ignored;
}

}  // namespace fennix::sim
