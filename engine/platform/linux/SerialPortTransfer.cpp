// Serial port on a terminal device: writing, reading and waking the reader.
#include "platform/SerialPort.h"

#include <cerrno>
#include <chrono>
#include <mutex>

#include <poll.h>
#include <unistd.h>

#include "platform/SerialPortCommon.h"
#include "platform/linux/SerialPortImpl.h"

namespace fennix::platform {

PortResult SerialPort::Write(const uint8_t* bytes, size_t count, size_t* written) {
    if (written != nullptr) *written = 0;
    int fd = impl_->fd.load();
    if (fd < 0) return PortResult::FromSystem(EBADF);
    auto deadline =
        SerialClock::now() +
        std::chrono::milliseconds(impl_->writeConstantMs + impl_->writeMultiplierMs * static_cast<uint64_t>(count));
    size_t done = 0;
    while (done < count) {
        ssize_t n = write(fd, bytes + done, count - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            if (written != nullptr) *written = done;
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return PortResult::FromSystem(errno);
        int left = RemainingMs(deadline);
        if (left == 0) return PortResult::TimedOut();
        pollfd room{fd, POLLOUT, 0};
        int ready = poll(&room, 1, left);
        if (ready < 0 && errno != EINTR) return PortResult::FromSystem(errno);
        if (ready > 0 && (room.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0 && (room.revents & POLLOUT) == 0) {
            return PortResult::FromSystem(EIO);
        }
    }
    return impl_->pseudoTerminal ? PortResult::Ok() : impl_->DrainOutput(deadline);
}

PortResult SerialPort::Read(uint8_t* buffer, size_t capacity, size_t* got, SerialReadFailure* failure) {
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
    auto deadline = SerialClock::now() + std::chrono::milliseconds(impl_->readTotalMs.load());
    for (;;) {
        pollfd watch[2];
        int ready = impl_->PollDeviceAndWake(fd, deadline, watch);
        if (ready < 0) {
            if (errno == EINTR) continue;
            return outcome.Fail(SerialReadFailure::Wait, errno);
        }
        if (ready == 0) return PortResult::Ok();  // read timeout: nothing arrived
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
        if (woken) return PortResult::Ok();
    }
}

bool SerialPort::WaitForInput(uint32_t milliseconds) {
    std::lock_guard<std::mutex> reading(impl_->readLock);
    int fd = impl_->fd.load();
    if (fd < 0) return true;
    auto deadline = SerialClock::now() + std::chrono::milliseconds(milliseconds);
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
