// Serial port on a terminal device (termios): opening, configuring and
// closing it. Pseudo-terminals (the virtual devices of the tests) take no
// modem-control requests; what they refuse that a real port would take is
// ignored.
#include "platform/SerialPort.h"

#include <cerrno>
#include <chrono>
#include <mutex>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include "platform/SerialPortCommon.h"
#include "platform/linux/SerialPortImpl.h"

namespace fennix::platform {

namespace {

// Device numbers of the pseudo-terminals' slave ends (Unix 98 ptys).
constexpr unsigned kFirstPtySlaveMajor = 136;
constexpr unsigned kLastPtySlaveMajor = 143;

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

PortResult SerialPort::Open(const std::string& devicePath) {
    if (IsOpen()) return PortResult::FromSystem(EBUSY);
    int fd = open(devicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return PortResult::FromSystem(errno);
    if (!isatty(fd)) {
        close(fd);
        return PortResult::FromSystem(ENOTTY);
    }
    // No sharing: TIOCEXCL keeps other openers out (except privileged ones),
    // the lock keeps out every other channel, privileged or not.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        int error = errno == EWOULDBLOCK ? EBUSY : errno;
        close(fd);
        return PortResult::FromSystem(error);
    }
    ioctl(fd, TIOCEXCL);
    struct stat info {};
    impl_->pseudoTerminal = fstat(fd, &info) == 0 && S_ISCHR(info.st_mode) &&
                            major(info.st_rdev) >= kFirstPtySlaveMajor && major(info.st_rdev) <= kLastPtySlaveMajor;
    impl_->haveSettings = false;
    impl_->fd.store(fd);
    return PortResult::Ok();
}

bool SerialPort::IsOpen() const { return impl_->fd.load() >= 0; }

PortResult SerialPort::SetEventMask() {
    // Line-state events are not watched here; the step only has to find the
    // port usable.
    return PortResult::FromSystem(IsOpen() ? 0 : EBADF);
}

PortResult SerialPort::SetQueueSizes(uint32_t, uint32_t) {
    // The terminal layer sizes its own queues.
    return PortResult::FromSystem(IsOpen() ? 0 : EBADF);
}

PortResult SerialPort::Purge() {
    int fd = impl_->fd.load();
    if (fd < 0) return PortResult::FromSystem(EBADF);
    // Output that a completed Write handed over has left already on a real
    // port; on a pseudo-terminal, flushing our output would instead discard
    // what the other end has not read yet. So only input is cleared.
    const PortResult drained =
        impl_->DrainOutput(SerialClock::now() + std::chrono::milliseconds(impl_->writeConstantMs));
    if (drained.GetStatus() == PortResult::Status::Failed) return drained;
    if (tcflush(fd, TCIFLUSH) != 0) return PortResult::FromSystem(errno);
    return PortResult::Ok();
}

PortResult SerialPort::ReadSettings() {
    int fd = impl_->fd.load();
    if (fd < 0) return PortResult::FromSystem(EBADF);
    if (tcgetattr(fd, &impl_->settings) != 0) return PortResult::FromSystem(errno);
    impl_->haveSettings = true;
    return PortResult::Ok();
}

PortResult SerialPort::WriteSettings(uint32_t baudRate) {
    int fd = impl_->fd.load();
    if (fd < 0) return PortResult::FromSystem(EBADF);
    if (!impl_->haveSettings) {
        const PortResult read = ReadSettings();
        if (!read.IsOk()) return read;
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
    if (!SpeedFor(baudRate, &speed)) return PortResult::FromSystem(EINVAL);
    cfsetispeed(&t, speed);
    cfsetospeed(&t, speed);
    if (tcsetattr(fd, TCSANOW, &t) != 0) {
        // A device that refuses the rate (some virtual ones do) keeps its own.
        if (errno != EINVAL) return PortResult::FromSystem(errno);
        cfsetispeed(&t, cfgetispeed(&impl_->settings));
        cfsetospeed(&t, cfgetospeed(&impl_->settings));
        if (tcsetattr(fd, TCSANOW, &t) != 0) return PortResult::FromSystem(errno);
    }
    impl_->settings = t;
    // DTR and RTS on; pseudo-terminals have no modem lines and refuse this.
    int lines = TIOCM_DTR | TIOCM_RTS;
    ioctl(fd, TIOCMBIS, &lines);
    return PortResult::Ok();
}

PortResult SerialPort::WriteTimeouts(uint32_t readTotalMs) {
    if (!IsOpen()) return PortResult::FromSystem(EBADF);
    impl_->readTotalMs.store(readTotalMs);
    impl_->writeMultiplierMs = 1;
    impl_->writeConstantMs = 50;
    return PortResult::Ok();
}

PortResult SerialPort::CreateWriteSignal() { return PortResult::Ok(); }
PortResult SerialPort::CreateReadSignal() { return PortResult::Ok(); }
PortResult SerialPort::ReleaseWriteSignal() { return PortResult::Ok(); }
PortResult SerialPort::ReleaseReadSignal() { return PortResult::Ok(); }

PortResult SerialPort::CloseDevice() {
    int fd = impl_->fd.load();
    if (fd < 0) return PortResult::Ok();
    std::unique_lock<std::mutex> reader = TakeReadLockForClose(impl_->readLock, *this);
    impl_->fd.store(-1);
    ioctl(fd, TIOCNXCL);
    int result = close(fd) == 0 ? 0 : errno;
    return PortResult::FromSystem(result == EINTR ? 0 : result);
}

}  // namespace fennix::platform
