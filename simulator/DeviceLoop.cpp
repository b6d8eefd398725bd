// The device thread: it sleeps in ppoll() until the host writes or opens or
// closes the port, an answer or the port's return falls due, or another
// thread wakes it; then it feeds the input to the dispatch and runs the
// output schedule.
#include <algorithm>
#include <cerrno>
#include <ctime>
#include <optional>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <unistd.h>

#include "VirtualDevice.h"

namespace fennix::sim {

namespace {

constexpr size_t kReadChunk = 4096;
// How often a due vanish looks again whether the host has read the last
// answer (see kVanishDrainLimit in DeviceSwitches.cpp).
constexpr auto kVanishDrainCheck = std::chrono::milliseconds(10);

}  // namespace

void CVirtualDevice::Run() {
    // The kernel may otherwise wake the thread up to 50 µs after a due time,
    // a sixth of a high-speed link's round trip.
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    std::unique_lock<std::mutex> lock(mutex_);
    std::vector<uint8_t> chunk(kReadChunk);
    while (!stopping_) {
        RunDueItems(Clock::now());
        LeaveWhenIdle(Clock::now());
        stateChanged_.notify_all();

        if (UnsolicitedWanted() && Clock::now() >= nextUnsolicited_) SendUnsolicited(Clock::now());

        CPty& pty = presence_.Port();
        pollfd fds[3] = {{wakeFd_, POLLIN, 0}, {-1, 0, 0}, {-1, 0, 0}};
        nfds_t count = 1;
        if (pty.IsOpen()) {
            fds[1].fd = pty.MasterFd();
            fds[1].events = static_cast<short>(POLLIN | (output_.Writing() ? POLLOUT : 0));
            fds[2].fd = pty.WatchFd();  // -1 (ignored by poll) without a watch
            fds[2].events = POLLIN;
            count = 3;
        }
        const Clock::time_point now = Clock::now();
        std::optional<Clock::duration> timeout = PollTimeout(now);
        const uint32_t quietMs = state_.options.quietNoteMs;
        const bool watchQuiet = quietMs > 0 && !quietNoted_ && count == 3;
        if (watchQuiet) {
            const Clock::duration left =
                std::max(lastInput_ + std::chrono::milliseconds(quietMs) - now, Clock::duration::zero());
            timeout = timeout ? std::min(*timeout, left) : left;
        }
        timespec wait{};
        if (timeout) {
            const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(*timeout).count();
            wait.tv_sec = static_cast<time_t>(ns / 1000000000);
            wait.tv_nsec = static_cast<long>(ns % 1000000000);
        }
        lock.unlock();
        // To the microsecond: the link's latencies are fractions of a millisecond.
        int ready = ::ppoll(fds, count, timeout ? &wait : nullptr, nullptr);
        lock.lock();
        if (watchQuiet && !stopping_) NoteQuietPort(Clock::now());
        if (ready <= 0 || stopping_) continue;

        if (fds[0].revents & POLLIN) {
            uint64_t value;
            while (::read(wakeFd_, &value, sizeof value) > 0) {
            }
        }
        if (count == 3 && pty.IsOpen() && fds[2].fd == pty.WatchFd() && (fds[2].revents & POLLIN)) TakeHostEvents();
        if (count == 3 && pty.IsOpen() && fds[1].fd == pty.MasterFd()) {
            if (fds[1].revents & POLLOUT) TryWrite();
            if (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) {
                ssize_t n = ::read(pty.MasterFd(), chunk.data(), chunk.size());
                if (n > 0) {
                    lastInput_ = Clock::now();
                    quietNoted_ = false;
                    ProcessInput(chunk.data(), static_cast<size_t>(n));
                } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                    // The pty was hung up (it should not be while the device
                    // holds its own slave open): rather than spin on it, drop
                    // off the bus and come straight back with a fresh one.
                    Record(EventKind::Note, {}, "port hung up");
                    DoVanish(VanishKind{});
                    presence_.ReturnNow();
                }
            }
        }
    }
    stateChanged_.notify_all();
}

std::optional<CVirtualDevice::Clock::duration> CVirtualDevice::PollTimeout(Clock::time_point now) const {
    Clock::time_point next = std::min({output_.NextDue(), presence_.NextReturn(), IdleLeaveDue()});
    if (UnsolicitedWanted()) next = std::min(next, nextUnsolicited_);
    if (next == Clock::time_point::max()) return std::nullopt;
    if (next <= now) return Clock::duration::zero();
    return std::min<Clock::duration>(next - now, std::chrono::seconds(60));
}

void CVirtualDevice::RunDueItems(Clock::time_point now) {
    if (output_.Writing()) TryWrite();
    while (OutputItem* item = output_.DueFront(now)) {
        if (item->kind == OutputItem::Kind::Vanish) {
            bool unread = output_.Writing() || presence_.Port().UnreadByHost() > 0;
            if (unread && state_.hostOpens > 0 && now < item->drainUntil) {
                item->due = now + kVanishDrainCheck;
                break;
            }
            DoVanish(output_.TakeFront().vanish);
            continue;
        }
        if (output_.Writing()) break;  // keep the order: wait until the port takes more
        // Answers due together leave in one write, as a device's USB packet would.
        for (OutputItem& w : output_.TakeDueWrites(now)) {
            if (!state_.present) continue;
            RecordedEvent e;
            e.kind = w.unsolicited ? EventKind::Unsolicited : EventKind::Answer;
            e.mode = w.mode;
            e.bytes = w.bytes;
            e.time = now;
            recording_.Add(std::move(e));
            output_.AddToWrite(w.bytes);
        }
        TryWrite();
    }
    if (presence_.ReturnDue(now)) DoReturn();
}

void CVirtualDevice::TryWrite() {
    if (!output_.WriteTo(presence_.Port())) Record(EventKind::Note, {}, "port write failed");
}

void CVirtualDevice::NoteQuietPort(Clock::time_point now) {
    if (quietNoted_ || state_.hostOpens == 0 ||
        now - lastInput_ < std::chrono::milliseconds(state_.options.quietNoteMs))
        return;
    quietNoted_ = true;
    CPty& pty = presence_.Port();
    int fromHost = 0;
    if (ioctl(pty.MasterFd(), FIONREAD, &fromHost) != 0) fromHost = -1;
    Record(EventKind::Note, {},
           "quiet port: " + std::to_string(fromHost) + " bytes from the host unread by the device, " +
               std::to_string(output_.Pending() + pty.UnreadByHost()) + " answer bytes unread by the host");
}

void CVirtualDevice::TakeHostEvents() {
    for (int change : presence_.Port().TakeHostEvents()) {
        if (change > 0) {
            ++state_.hostOpens;
            ++state_.hostOpenTotal;
            // Unsolicited traffic starts a moment after the port is opened.
            nextUnsolicited_ = Clock::now() + std::chrono::milliseconds(state_.options.unsolicitedEveryMs);
            Record(EventKind::HostOpened);
            continue;
        }
        if (state_.hostOpens > 0) --state_.hostOpens;
        if (state_.hostOpens == 0) quietSince_ = Clock::now();
        Record(EventKind::HostClosed);
        if (state_.hostOpens == 0 && deferred_.pending) {
            deferred_.pending = false;
            QueueModeSwitch(deferred_.mode, deferred_.vanish);
        }
    }
}

}  // namespace fennix::sim
