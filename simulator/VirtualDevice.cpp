#include "VirtualDevice.h"

#include <algorithm>
#include <cerrno>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include "serial/Hdlc.h"

namespace fennix::sim {

namespace {

constexpr size_t kReadChunk = 4096;
constexpr uint32_t kRetryOpenMs = 100;
// A device that leaves the bus does so a moment after its last answer, and
// not before a host that has the port open has read that answer (closing the
// pty would throw the unread bytes away); it waits for a host that does not
// read only so long.
constexpr auto kVanishAfterAnswer = std::chrono::milliseconds(20);
constexpr auto kVanishDrainLimit = std::chrono::milliseconds(2000);
constexpr auto kVanishDrainCheck = std::chrono::milliseconds(10);

// Changes one bit of the byte in front of the closing flag. That byte is part
// of the CRC (possibly the second byte of an escape pair), so the frame then
// fails its check; the bit is chosen so that no new flag or escape appears.
void SpoilCrc(std::vector<uint8_t>& frame) {
    if (frame.size() < 2) return;
    uint8_t& b = frame[frame.size() - 2];
    uint8_t spoiled = b ^ 0x01;
    if (spoiled == kHdlcFlag || spoiled == kHdlcEscape) spoiled = b ^ 0x02;
    b = spoiled;
}

}  // namespace

// ---------------------------------------------------------------- context

void CDeviceContext::Reply(const std::vector<uint8_t>& packet) { device_.Emit(packet, true, command_); }

void CDeviceContext::ReplyRaw(const std::vector<uint8_t>& bytes) { device_.Emit(bytes, false, command_); }

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

void CDeviceContext::SwitchMode(DeviceMode mode, bool vanish) { device_.QueueModeSwitch(mode, vanish, false, false); }

void CDeviceContext::Reboot(DeviceMode mode) { device_.QueueModeSwitch(mode, true, true, false); }

void CDeviceContext::SwitchModeWhenHostCloses(DeviceMode mode, bool vanish, bool reboot) {
    if (state_.hostOpens == 0 || device_.pty_.WatchFd() < 0) {
        device_.QueueModeSwitch(mode, vanish, reboot, false);
        return;
    }
    device_.deferred_ = {true, mode, vanish, reboot};
    Note("switch waits for the host to close the port");
}

void CDeviceContext::Note(const std::string& text) { device_.Record(EventKind::Note, {}, text); }

// ---------------------------------------------------------------- device

CVirtualDevice::CVirtualDevice(DeviceOptions options) : handlers_(DefaultHandlers()) {
    state_.options = std::move(options);
    state_.mode = state_.options.mode;
}

CVirtualDevice::~CVirtualDevice() { Stop(); }

int CVirtualDevice::Start() {
    std::unique_lock<std::mutex> lock(mutex_);
    if (running_) return EALREADY;
    int error = path_.Claim(state_.options.directory, state_.options.name);
    if (error != 0) return error;
    error = pty_.Open();
    if (error == 0) error = path_.Point(pty_.SlavePath());
    if (error == 0) {
        wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (wakeFd_ < 0) error = errno;
    }
    if (error != 0) {
        pty_.Close();
        path_.Release();
        return error;
    }
    pathText_ = path_.Path();
    slavePath_ = pty_.SlavePath();
    state_.present = true;
    state_.hostOpens = 0;
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
    pty_.Close();
    path_.Release();
    ::close(wakeFd_);
    wakeFd_ = -1;
    running_ = false;
    state_.present = false;
    pathText_.clear();
    slavePath_.clear();
    output_.clear();
    pendingWrite_.clear();
    vanishPending_ = returnPending_ = false;
    stateChanged_.notify_all();
}

bool CVirtualDevice::Running() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return running_;
}

std::string CVirtualDevice::Path() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return pathText_;
}

std::string CVirtualDevice::SlavePath() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return slavePath_;
}

DeviceMode CVirtualDevice::Mode() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return state_.mode;
}

bool CVirtualDevice::Present() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return state_.present;
}

uint32_t CVirtualDevice::BootCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return state_.bootCount;
}

void CVirtualDevice::SetMode(DeviceMode mode) {
    std::lock_guard<std::mutex> lock(mutex_);
    QueueModeSwitch(mode, false, false, false);
    Wake();
}

void CVirtualDevice::SwitchMode(DeviceMode mode, bool vanish) {
    std::lock_guard<std::mutex> lock(mutex_);
    QueueModeSwitch(mode, vanish, false, false);
    Wake();
}

void CVirtualDevice::Reboot(DeviceMode mode) {
    std::lock_guard<std::mutex> lock(mutex_);
    QueueModeSwitch(mode, true, true, false);
    Wake();
}

void CVirtualDevice::Unplug() {
    std::lock_guard<std::mutex> lock(mutex_);
    QueueModeSwitch(state_.mode, true, false, true);
    Wake();
}

void CVirtualDevice::Replug() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!state_.present) {
        returnPending_ = true;
        returnAt_ = Clock::now();
    }
    Wake();
}

void CVirtualDevice::SetFaults(const Faults& faults) {
    std::lock_guard<std::mutex> lock(mutex_);
    state_.options.faults = faults;
    Wake();
}

void CVirtualDevice::InjectFault(const FaultPoint& point) {
    std::lock_guard<std::mutex> lock(mutex_);
    InjectFaultPoint(state_, point);
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

// ---------------------------------------------------------------- device thread

void CVirtualDevice::Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    std::vector<uint8_t> chunk(kReadChunk);
    while (!stopping_) {
        RunDueItems(Clock::now());
        stateChanged_.notify_all();

        if (UnsolicitedWanted() && Clock::now() >= nextUnsolicited_) SendUnsolicited(Clock::now());

        pollfd fds[3] = {{wakeFd_, POLLIN, 0}, {-1, 0, 0}, {-1, 0, 0}};
        nfds_t count = 1;
        if (pty_.IsOpen()) {
            fds[1].fd = pty_.MasterFd();
            fds[1].events = static_cast<short>(POLLIN | (pendingWrite_.empty() ? 0 : POLLOUT));
            fds[2].fd = pty_.WatchFd();  // -1 (ignored by poll) without a watch
            fds[2].events = POLLIN;
            count = 3;
        }
        int timeout = PollTimeoutMs(Clock::now());
        lock.unlock();
        int ready = ::poll(fds, count, timeout);
        lock.lock();
        if (ready <= 0 || stopping_) continue;

        if (fds[0].revents & POLLIN) {
            uint64_t value;
            while (::read(wakeFd_, &value, sizeof value) > 0) {
            }
        }
        if (count == 3 && pty_.IsOpen() && fds[2].fd == pty_.WatchFd() && (fds[2].revents & POLLIN))
            TakeHostEvents();
        if (count == 3 && pty_.IsOpen() && fds[1].fd == pty_.MasterFd()) {
            if (fds[1].revents & POLLOUT) TryWrite();
            if (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) {
                ssize_t n = ::read(pty_.MasterFd(), chunk.data(), chunk.size());
                if (n > 0) {
                    ProcessInput(chunk.data(), static_cast<size_t>(n));
                } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                    // The pty was hung up (it should not be while the device
                    // holds its own slave open): rather than spin on it, drop
                    // off the bus and come straight back with a fresh one.
                    Record(EventKind::Note, {}, "port hung up");
                    OutputItem item;
                    item.kind = OutputItem::Kind::Vanish;
                    DoVanish(item);
                    returnPending_ = true;
                    returnAt_ = Clock::now();
                }
            }
        }
    }
    stateChanged_.notify_all();
}

int CVirtualDevice::PollTimeoutMs(Clock::time_point now) const {
    Clock::time_point next = Clock::time_point::max();
    // A write waits for the port to take the bytes before it; a vanish does not.
    if (!output_.empty() && (pendingWrite_.empty() || output_.front().kind == OutputItem::Kind::Vanish))
        next = output_.front().due;
    if (returnPending_) next = std::min(next, returnAt_);
    if (UnsolicitedWanted()) next = std::min(next, nextUnsolicited_);
    if (next == Clock::time_point::max()) return -1;
    if (next <= now) return 0;
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(next - now).count() + 1;
    return static_cast<int>(std::min<int64_t>(ms, 60000));
}

void CVirtualDevice::ProcessInput(const uint8_t* bytes, size_t n) {
    std::vector<uint8_t> atOutput;  // echo and answers of this chunk, sent in one piece
    auto flushAt = [&] {
        if (!atOutput.empty()) Emit(std::move(atOutput), false, -1);
        atOutput.clear();
    };
    for (size_t i = 0; i < n; ++i) {
        if (vanishPending_) {
            Record(EventKind::Discarded, std::vector<uint8_t>(bytes + i, bytes + n));
            break;
        }
        uint8_t byte = bytes[i];
        if (state_.mode == DeviceMode::At) {
            if (state_.echoOn) atOutput.push_back(byte);
            CAtInterpreter::Line line;
            if (!at_.Feed(byte, &line)) continue;
            if (line.command.empty()) continue;
            Record(EventKind::Request, {}, line.command);
            if (line.echoOff) state_.echoOn = false;
            if (line.echoOn) state_.echoOn = true;
            const InjectedFault fault = TakeFaultFor(state_, DeviceMode::At, -1);
            if (fault != InjectedFault::None) {
                flushAt();  // the echo so far goes out unspoiled
                if (StartInjectedFault(fault)) break;
                injecting_ = fault;
                Emit(std::vector<uint8_t>(line.answer.begin(), line.answer.end()), false, -1);
                injecting_ = InjectedFault::None;
            } else {
                atOutput.insert(atOutput.end(), line.answer.begin(), line.answer.end());
            }
            if (line.switchToDiag) {
                flushAt();
                QueueModeSwitch(DeviceMode::Diag, Vanishes(state_.options.vanishOnDiagSwitch, state_.options), false,
                                false);
            }
            continue;
        }
        assembler_.SetDownloadFraming(state_.mode == DeviceMode::Download);
        switch (assembler_.Feed(byte)) {
            case CFrameAssembler::Result::None: break;
            case CFrameAssembler::Result::Packet: HandlePacket(assembler_.Packet(), assembler_.Raw()); break;
            case CFrameAssembler::Result::BadFrame: Record(EventKind::BadFrame, assembler_.Raw()); break;
            case CFrameAssembler::Result::Discarded: Record(EventKind::Discarded, assembler_.Raw()); break;
        }
    }
    flushAt();
}

void CVirtualDevice::HandlePacket(const std::vector<uint8_t>& packet, const std::vector<uint8_t>& raw) {
    std::vector<uint8_t> request = packet;
    std::vector<uint8_t> rawCopy = raw;
    Record(EventKind::Request, request);
    const int command = request.empty() ? -1 : request[0];
    const InjectedFault fault = TakeFaultFor(state_, state_.mode, command);
    if (fault != InjectedFault::None && StartInjectedFault(fault)) return;
    CDeviceContext ctx(*this, state_, command, rawCopy);
    injecting_ = fault;
    if (!(hook_ && hook_(ctx, request)) && !handlers_.Dispatch(state_.mode, ctx, request)) ctx.Reject(request);
    injecting_ = InjectedFault::None;
}

bool CVirtualDevice::StartInjectedFault(InjectedFault fault) {
    Record(EventKind::Note, {}, std::string("injected fault: ") + InjectedFaultName(fault));
    switch (fault) {
        case InjectedFault::StrayFrame: EmitStrayFrame(); return false;
        case InjectedFault::Vanish: QueueModeSwitch(state_.mode, true, false, true); return true;
        case InjectedFault::VanishAndReturn: QueueModeSwitch(state_.mode, true, false, false, true); return true;
        default: return false;
    }
}

void CVirtualDevice::EmitStrayFrame() {
    const std::vector<uint8_t> packet = StrayLogRecord();
    OutputItem item;
    item.kind = OutputItem::Kind::Write;
    item.unsolicited = true;
    item.mode = state_.mode;
    item.bytes = PackFrame(packet.data(), packet.size(), state_.mode == DeviceMode::Download ? kHdlcFlag : 0, kHdlcFlag);
    item.due = std::max(LastDue(), Clock::now());
    output_.push_back(std::move(item));
}

void CVirtualDevice::Emit(std::vector<uint8_t> data, bool framed, int command) {
    Faults& f = state_.options.faults;
    bool applies = f.AnyAnswerFault() && (f.onlyCommand < 0 || f.onlyCommand == command) && f.answersToSpoil != 0;
    if (applies && f.answersToSpoil > 0) --f.answersToSpoil;

    if (applies && f.wrongFirstByte && !data.empty()) data[0] ^= 0xFF;
    const InjectedFault injected = injecting_;
    if (injected == InjectedFault::WrongCommand && !data.empty()) data[0] ^= 0xFF;
    if (injected == InjectedFault::WrongEcho) {
        if (framed) SpoilEcho(data);
        else if (!data.empty()) data[0] ^= 0xFF;
    }
    if (injected == InjectedFault::Truncated) Truncate(data);
    std::vector<uint8_t> wire;
    if (framed) {
        uint8_t leading = state_.mode == DeviceMode::Download ? kHdlcFlag : 0;
        wire = PackFrame(data.data(), data.size(), leading, kHdlcFlag);
        if ((applies && f.corruptCrc) || injected == InjectedFault::BadCrc) SpoilCrc(wire);
    } else {
        wire = std::move(data);
    }
    if ((applies && f.silent) || injected == InjectedFault::NoAnswer) {
        Record(EventKind::Suppressed, std::move(wire));
        return;
    }
    uint32_t delayMs = applies ? f.replyDelayMs : 0;
    if (injected == InjectedFault::LateAnswer) delayMs += FaultPointOf(state_).lateMs;
    OutputItem item;
    item.kind = OutputItem::Kind::Write;
    item.bytes = std::move(wire);
    item.mode = state_.mode;
    item.due = std::max(LastDue(), Clock::now() + std::chrono::milliseconds(delayMs));
    output_.push_back(std::move(item));
}

CVirtualDevice::Clock::time_point CVirtualDevice::LastDue() const {
    return output_.empty() ? Clock::time_point::min() : output_.back().due;
}

void CVirtualDevice::QueueModeSwitch(DeviceMode mode, bool vanish, bool reboot, bool stayAway, bool glitch) {
    if (mode != state_.mode) {
        RecordedEvent e;
        e.kind = EventKind::ModeChange;
        e.fromMode = state_.mode;
        e.mode = mode;
        e.time = Clock::now();
        recording_.Add(std::move(e));
        state_.mode = mode;
        at_.Reset();
        assembler_.Reset();
    }
    if (vanish) {
        OutputItem item;
        item.kind = OutputItem::Kind::Vanish;
        item.due = std::max(LastDue(), Clock::now()) + kVanishAfterAnswer;
        item.drainUntil = item.due + kVanishDrainLimit;
        item.reboot = reboot;
        item.stayAway = stayAway;
        item.glitch = glitch;
        output_.push_back(std::move(item));
        vanishPending_ = true;
    }
    stateChanged_.notify_all();
}

void CVirtualDevice::RunDueItems(Clock::time_point now) {
    if (!pendingWrite_.empty()) TryWrite();
    while (!output_.empty() && output_.front().due <= now) {
        OutputItem& item = output_.front();
        if (item.kind == OutputItem::Kind::Vanish) {
            bool unread = !pendingWrite_.empty() || pty_.UnreadByHost() > 0;
            if (unread && state_.hostOpens > 0 && now < item.drainUntil) {
                item.due = now + kVanishDrainCheck;
                break;
            }
            OutputItem vanish = std::move(item);
            output_.pop_front();
            DoVanish(vanish);
            continue;
        }
        if (!pendingWrite_.empty()) break;  // keep the order: wait until the port takes more
        // Answers due together leave in one write, as a device's USB packet would.
        while (!output_.empty() && output_.front().kind == OutputItem::Kind::Write && output_.front().due <= now) {
            OutputItem& w = output_.front();
            if (state_.present) {
                RecordedEvent e;
                e.kind = w.unsolicited ? EventKind::Unsolicited : EventKind::Answer;
                e.mode = w.mode;
                e.bytes = w.bytes;
                e.time = now;
                recording_.Add(std::move(e));
                pendingWrite_.insert(pendingWrite_.end(), w.bytes.begin(), w.bytes.end());
            }
            output_.pop_front();
        }
        TryWrite();
    }
    if (returnPending_ && returnAt_ <= now) DoReturn();
}

void CVirtualDevice::TryWrite() {
    while (!pendingWrite_.empty() && pty_.IsOpen()) {
        ssize_t n = ::write(pty_.MasterFd(), pendingWrite_.data(), pendingWrite_.size());
        if (n > 0) {
            pendingWrite_.erase(pendingWrite_.begin(), pendingWrite_.begin() + n);
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
        Record(EventKind::Note, {}, "port write failed");
        pendingWrite_.clear();
    }
    if (!pty_.IsOpen()) pendingWrite_.clear();
}

void CVirtualDevice::DoVanish(const OutputItem& item) {
    vanishPending_ = false;
    pendingWrite_.clear();
    pty_.Close();
    path_.Remove();
    slavePath_.clear();
    state_.present = false;
    state_.hostOpens = 0;
    deferred_.pending = false;
    at_.Reset();
    assembler_.Reset();
    Record(EventKind::Vanished);
    rebootOnReturn_ = rebootOnReturn_ || item.reboot;
    glitchReturn_ = item.glitch && !rebootOnReturn_;
    if (item.stayAway || state_.options.faults.stayVanished) {
        returnPending_ = false;
        return;
    }
    returnPending_ = true;
    returnAt_ = Clock::now() + std::chrono::milliseconds(state_.options.vanishMs);
}

void CVirtualDevice::DoReturn() {
    int error = pty_.Open();
    if (error == 0) error = path_.Point(pty_.SlavePath());
    if (error != 0) {
        pty_.Close();
        Record(EventKind::Note, {}, "port could not come back, retrying");
        returnAt_ = Clock::now() + std::chrono::milliseconds(kRetryOpenMs);
        return;
    }
    returnPending_ = false;
    slavePath_ = pty_.SlavePath();
    state_.present = true;
    if (!glitchReturn_) ++state_.bootCount;
    if (rebootOnReturn_) state_.ForgetSession();
    rebootOnReturn_ = false;
    glitchReturn_ = false;
    assembler_.Reset();
    at_.Reset();
    Record(EventKind::Returned, {}, slavePath_);
}

void CVirtualDevice::TakeHostEvents() {
    for (int change : pty_.TakeHostEvents()) {
        if (change > 0) {
            ++state_.hostOpens;
            ++state_.hostOpenTotal;
            // Unsolicited traffic starts a moment after the port is opened.
            nextUnsolicited_ = Clock::now() + std::chrono::milliseconds(state_.options.unsolicitedEveryMs);
            Record(EventKind::HostOpened);
            continue;
        }
        if (state_.hostOpens > 0) --state_.hostOpens;
        Record(EventKind::HostClosed);
        if (state_.hostOpens == 0 && deferred_.pending) {
            deferred_.pending = false;
            QueueModeSwitch(deferred_.mode, deferred_.vanish, deferred_.reboot, false);
        }
    }
}

bool CVirtualDevice::UnsolicitedWanted() const {
    const DeviceState& s = state_;
    return s.options.unsolicitedEveryMs > 0 && s.mode == DeviceMode::Diag && s.present && s.hostOpens > 0 &&
           !vanishPending_ && !(s.quietLogs && s.quietEvents && s.quietMessages);
}

// One log record (0x10), event report (0x60) or extended debug message (0x79)
// in turn, skipping the kinds already switched off. Sent only between
// answers, never into the middle of one.
void CVirtualDevice::SendUnsolicited(Clock::time_point now) {
    nextUnsolicited_ = now + std::chrono::milliseconds(state_.options.unsolicitedEveryMs);
    if (!output_.empty() || !pendingWrite_.empty()) return;
    const bool quiet[3] = {state_.quietLogs, state_.quietEvents, state_.quietMessages};
    const uint8_t codes[3] = {0x10, 0x60, 0x79};
    int kind = -1;
    for (int i = 0; i < 3 && kind < 0; ++i) {
        int k = static_cast<int>((unsolicitedCount_ + static_cast<uint32_t>(i)) % 3);
        if (!quiet[k]) kind = k;
    }
    if (kind < 0) return;
    ++unsolicitedCount_;
    std::vector<uint8_t> packet{codes[kind], 0x00, 0x0C, 0x00};
    for (int i = 0; i < 4; ++i) packet.push_back(static_cast<uint8_t>(unsolicitedCount_ >> (8 * i)));
    for (uint8_t b : {0x31, 0x10, 0x00, 0x00}) packet.push_back(b);
    OutputItem item;
    item.kind = OutputItem::Kind::Write;
    item.unsolicited = true;
    item.mode = state_.mode;
    item.bytes = PackFrame(packet.data(), packet.size(), 0, kHdlcFlag);
    item.due = now;
    output_.push_back(std::move(item));
    RunDueItems(now);
}

void CVirtualDevice::Record(EventKind kind, std::vector<uint8_t> bytes, std::string text) {
    RecordedEvent e;
    e.kind = kind;
    e.mode = state_.mode;
    uint32_t limit = state_.options.recordBytesLimit;
    if (limit > 0 && bytes.size() > limit) bytes.resize(limit);
    e.bytes = std::move(bytes);
    e.text = std::move(text);
    e.time = Clock::now();
    recording_.Add(std::move(e));
}

}  // namespace fennix::sim
