// Serial port on a terminal device (termios). Windows' overlapped port maps
// onto a non-blocking descriptor: reads poll the device together with a wake
// pipe, writes poll for room and then wait until the output queue is empty.
// Pseudo-terminals (the virtual devices of the tests) take no modem-control
// requests; what they refuse that a real port would take is ignored.
#include "platform/SerialPort.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include "platform/SerialPortCommon.h"

namespace fennix::platform {

namespace {

// Device numbers of the pseudo-terminals' slave ends (Unix 98 ptys).
constexpr unsigned kFirstPtySlaveMajor = 136;
constexpr unsigned kLastPtySlaveMajor = 143;

using Clock = std::chrono::steady_clock;

int RemainingMs(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

bool SpeedFor(uint32_t baudRate, speed_t* speed) {
    switch (baudRate) {
        case 9600: *speed = B9600; return true;
        case 19200: *speed = B19200; return true;
        case 38400: *speed = B38400; return true;
        case 57600: *speed = B57600; return true;
        case 115200: *speed = B115200; return true;
#ifdef B230400
        case 230400: *speed = B230400; return true;
#endif
#ifdef B460800
        case 460800: *speed = B460800; return true;
#endif
#ifdef B921600
        case 921600: *speed = B921600; return true;
#endif
        default: return false;
    }
}

void SetNonBlockingCloseOnExec(int fd) {
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    fcntl(fd, F_SETFD, fcntl(fd, F_GETFD) | FD_CLOEXEC);
}

}  // namespace

struct SerialPort::Impl {
    // The descriptor is read by the reading thread without the caller's port
    // lock; it changes only while no read runs.
    std::atomic<int> fd{-1};
    int wakeRead = -1;
    int wakeWrite = -1;
    std::mutex readLock;  // held for the length of one Read
    // WaitForInput saw bytes waiting: the next Read tries them before it
    // polls again (one system call less per reply). Reader thread only.
    bool inputSeen = false;
    termios settings{};
    bool haveSettings = false;
    std::atomic<uint32_t> readTotalMs{500};
    // A pseudo-terminal hands written bytes straight to its other end: it
    // has no output queue to wait for, and asking costs a system call per
    // write.
    bool pseudoTerminal = false;
    uint32_t writeMultiplierMs = 1;
    uint32_t writeConstantMs = 50;

    // Waits until the device has taken every queued output byte, or until the
    // deadline. A device that cannot report its queue is drained blocking.
    int DrainOutput(Clock::time_point deadline) {
        int descriptor = fd.load();
        for (;;) {
            int queued = 0;
            if (ioctl(descriptor, TIOCOUTQ, &queued) != 0) {
                return tcdrain(descriptor) == 0 || errno == ENOTTY || errno == EINVAL ? 0 : errno;
            }
            if (queued <= 0) return 0;
            if (Clock::now() >= deadline) return kSerialWriteTimedOut;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

    // Sleeps until the device has input (or hangs up), a wake-up, or the
    // deadline: poll's result, with the revents in `watch` (device, pipe).
    int PollDeviceAndWake(int descriptor, Clock::time_point deadline, pollfd (&watch)[2]) {
        watch[0] = {descriptor, POLLIN, 0};
        watch[1] = {wakeRead, POLLIN, 0};
        return poll(watch, wakeRead >= 0 ? 2 : 1, RemainingMs(deadline));
    }

    void DrainWakePipe() {
        char sink[64];
        while (read(wakeRead, sink, sizeof sink) > 0) {
        }
    }
};

PortOpenFailure ClassifyPortOpenError(int systemError) {
    switch (systemError) {
        case 0: return PortOpenFailure::None;
        case ENOENT:
        case ENODEV:
        case ENXIO:
        case ENOTTY:
        case ENOTDIR: return PortOpenFailure::NoSuchPort;
        case EBUSY: return PortOpenFailure::InUse;
        case EACCES:
        case EPERM:
        case EROFS: return PortOpenFailure::PermissionDenied;
        default: return PortOpenFailure::Other;
    }
}

SerialPort::SerialPort() : impl_(new Impl) {
    int fds[2];
    if (pipe(fds) == 0) {
        SetNonBlockingCloseOnExec(fds[0]);
        SetNonBlockingCloseOnExec(fds[1]);
        impl_->wakeRead = fds[0];
        impl_->wakeWrite = fds[1];
    }
}

SerialPort::~SerialPort() {
    CloseDevice();
    if (impl_->wakeRead >= 0) close(impl_->wakeRead);
    if (impl_->wakeWrite >= 0) close(impl_->wakeWrite);
}

int SerialPort::Open(const std::string& devicePath) {
    if (IsOpen()) return EBUSY;
    int fd = open(devicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return errno;
    if (!isatty(fd)) {
        close(fd);
        return ENOTTY;
    }
    // No sharing: TIOCEXCL keeps other openers out (except privileged ones),
    // the lock keeps out every other channel, privileged or not.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        int error = errno == EWOULDBLOCK ? EBUSY : errno;
        close(fd);
        return error;
    }
    ioctl(fd, TIOCEXCL);
    struct stat info {};
    impl_->pseudoTerminal = fstat(fd, &info) == 0 && S_ISCHR(info.st_mode) &&
                            major(info.st_rdev) >= kFirstPtySlaveMajor && major(info.st_rdev) <= kLastPtySlaveMajor;
    impl_->haveSettings = false;
    impl_->fd.store(fd);
    return 0;
}

bool SerialPort::IsOpen() const { return impl_->fd.load() >= 0; }

int SerialPort::SetEventMask() {
    // Line-state events are not watched here; the step only has to find the
    // port usable.
    return IsOpen() ? 0 : EBADF;
}

int SerialPort::SetQueueSizes(uint32_t, uint32_t) {
    // The terminal layer sizes its own queues.
    return IsOpen() ? 0 : EBADF;
}

int SerialPort::Purge() {
    int fd = impl_->fd.load();
    if (fd < 0) return EBADF;
    // Output that a completed Write handed over has left already on a real
    // port; on a pseudo-terminal, flushing our output would instead discard
    // what the other end has not read yet. So only input is cleared.
    int error = impl_->DrainOutput(Clock::now() + std::chrono::milliseconds(impl_->writeConstantMs));
    if (error != 0 && error != kSerialWriteTimedOut) return error;
    if (tcflush(fd, TCIFLUSH) != 0) return errno;
    return 0;
}

int SerialPort::ReadSettings() {
    int fd = impl_->fd.load();
    if (fd < 0) return EBADF;
    if (tcgetattr(fd, &impl_->settings) != 0) return errno;
    impl_->haveSettings = true;
    return 0;
}

int SerialPort::WriteSettings(uint32_t baudRate) {
    int fd = impl_->fd.load();
    if (fd < 0) return EBADF;
    if (!impl_->haveSettings) {
        int error = ReadSettings();
        if (error != 0) return error;
    }
    termios t = impl_->settings;
    t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF |
                                        IXANY | INPCK);
    t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB);
#ifdef CRTSCTS
    t.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
#endif
    t.c_cflag |= CS8 | CREAD | CLOCAL;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    speed_t speed;
    if (!SpeedFor(baudRate, &speed)) return EINVAL;
    cfsetispeed(&t, speed);
    cfsetospeed(&t, speed);
    if (tcsetattr(fd, TCSANOW, &t) != 0) {
        // A device that refuses the rate (some virtual ones do) keeps its own.
        if (errno != EINVAL) return errno;
        cfsetispeed(&t, cfgetispeed(&impl_->settings));
        cfsetospeed(&t, cfgetospeed(&impl_->settings));
        if (tcsetattr(fd, TCSANOW, &t) != 0) return errno;
    }
    impl_->settings = t;
    // DTR and RTS on; pseudo-terminals have no modem lines and refuse this.
    int lines = TIOCM_DTR | TIOCM_RTS;
    ioctl(fd, TIOCMBIS, &lines);
    return 0;
}

int SerialPort::WriteTimeouts(uint32_t readTotalMs) {
    if (!IsOpen()) return EBADF;
    impl_->readTotalMs.store(readTotalMs);
    impl_->writeMultiplierMs = 1;
    impl_->writeConstantMs = 50;
    return 0;
}

int SerialPort::CreateWriteSignal() { return 0; }
int SerialPort::CreateReadSignal() { return 0; }
int SerialPort::ReleaseWriteSignal() { return 0; }
int SerialPort::ReleaseReadSignal() { return 0; }

int SerialPort::CloseDevice() {
    int fd = impl_->fd.load();
    if (fd < 0) return 0;
    std::unique_lock<std::mutex> reader = TakeReadLockForClose(impl_->readLock, *this);
    impl_->fd.store(-1);
    ioctl(fd, TIOCNXCL);
    int result = close(fd) == 0 ? 0 : errno;
    return result == EINTR ? 0 : result;
}

int SerialPort::Write(const uint8_t* bytes, size_t count, size_t* written) {
    if (written != nullptr) *written = 0;
    int fd = impl_->fd.load();
    if (fd < 0) return EBADF;
    auto deadline = Clock::now() + std::chrono::milliseconds(impl_->writeConstantMs +
                                                             impl_->writeMultiplierMs * static_cast<uint64_t>(count));
    size_t done = 0;
    while (done < count) {
        ssize_t n = write(fd, bytes + done, count - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            if (written != nullptr) *written = done;
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return errno;
        int left = RemainingMs(deadline);
        if (left == 0) return kSerialWriteTimedOut;
        pollfd room{fd, POLLOUT, 0};
        int ready = poll(&room, 1, left);
        if (ready < 0 && errno != EINTR) return errno;
        if (ready > 0 && (room.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0 && (room.revents & POLLOUT) == 0) {
            return EIO;
        }
    }
    return impl_->pseudoTerminal ? 0 : impl_->DrainOutput(deadline);
}

int SerialPort::Read(uint8_t* buffer, size_t capacity, size_t* got, SerialReadFailure* failure) {
    std::lock_guard<std::mutex> reading(impl_->readLock);
    ReadOutcome outcome(got, failure);
    int fd = impl_->fd.load();
    if (fd < 0) return outcome.Fail(SerialReadFailure::Start, EBADF);

    if (impl_->inputSeen) {
        impl_->inputSeen = false;
        ssize_t n = read(fd, buffer, capacity);
        if (n > 0) {
            return outcome.Got(static_cast<size_t>(n));
        }
        // Anything else (nothing after all, an error, a hang-up) is found
        // and reported by the poll below.
    }
    auto deadline = Clock::now() + std::chrono::milliseconds(impl_->readTotalMs.load());
    for (;;) {
        pollfd watch[2];
        int ready = impl_->PollDeviceAndWake(fd, deadline, watch);
        if (ready < 0) {
            if (errno == EINTR) continue;
            return outcome.Fail(SerialReadFailure::Wait, errno);
        }
        if (ready == 0) return 0;  // read timeout: nothing arrived
        bool woken = (watch[1].revents & POLLIN) != 0;
        if (woken) impl_->DrainWakePipe();
        if ((watch[0].revents & POLLNVAL) != 0) return outcome.Fail(SerialReadFailure::Start, EBADF);
        if ((watch[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
            ssize_t n = read(fd, buffer, capacity);
            if (n > 0) {
                return outcome.Got(static_cast<size_t>(n));
            }
            // End of file on a terminal means the device hung up (a pseudo-
            // terminal whose other end closed): the port is gone.
            if (n == 0) return outcome.Fail(SerialReadFailure::Start, EIO);
            if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
                return outcome.Fail(SerialReadFailure::Start, errno);
            }
            if ((watch[0].revents & (POLLHUP | POLLERR)) != 0) return outcome.Fail(SerialReadFailure::Start, EIO);
        }
        if (woken) return 0;
    }
}

bool SerialPort::WaitForInput(uint32_t milliseconds) {
    std::lock_guard<std::mutex> reading(impl_->readLock);
    int fd = impl_->fd.load();
    if (fd < 0) return true;
    auto deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
    for (;;) {
        pollfd watch[2];
        int ready = impl_->PollDeviceAndWake(fd, deadline, watch);
        if (ready < 0 && errno == EINTR) continue;
        if (ready == 0) return false;
        if (ready > 0) {
            impl_->inputSeen = (watch[0].revents & POLLIN) != 0;
            // The wake-up was meant for this wait: it is used up here.
            if ((watch[1].revents & POLLIN) != 0) impl_->DrainWakePipe();
        }
        return true;
    }
}

void SerialPort::WakeReader() {
    if (impl_->wakeWrite < 0) return;
    char one = 1;
    ssize_t ignored = write(impl_->wakeWrite, &one, 1);
    (void)ignored;
}

void SerialPort::DiscardWake() {
    if (impl_->wakeRead >= 0) impl_->DrainWakePipe();
}

}  // namespace fennix::platform
