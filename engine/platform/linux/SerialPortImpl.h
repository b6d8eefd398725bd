// The state of a serial port on a terminal device, shared by the files that
// set the port up (SerialPort.cpp) and that move bytes (SerialPortTransfer.cpp).
// Windows' overlapped port maps onto a non-blocking descriptor: reads poll the
// device together with a wake pipe, writes poll for room and then wait until
// the output queue is empty.
#pragma once

#include <atomic>
#include <cerrno>
#include <chrono>
#include <mutex>
#include <thread>

#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include "platform/SerialPort.h"

namespace fennix::platform {

using SerialClock = std::chrono::steady_clock;

inline int RemainingMs(SerialClock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SerialClock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

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
    PortResult DrainOutput(SerialClock::time_point deadline) {
        int descriptor = fd.load();
        for (;;) {
            int queued = 0;
            if (ioctl(descriptor, TIOCOUTQ, &queued) != 0) {
                return tcdrain(descriptor) == 0 || errno == ENOTTY || errno == EINVAL ? PortResult::Ok()
                                                                                      : PortResult::Failed(errno);
            }
            if (queued <= 0) return PortResult::Ok();
            if (SerialClock::now() >= deadline) return PortResult::TimedOut();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

    // Sleeps until the device has input (or hangs up), a wake-up, or the
    // deadline: poll's result, with the revents in `watch` (device, pipe).
    int PollDeviceAndWake(int descriptor, SerialClock::time_point deadline, pollfd (&watch)[2]) {
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

}  // namespace fennix::platform
