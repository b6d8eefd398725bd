// A scripted device on the far end of a pseudo-terminal, for the serial
// channel's tests: the channel opens the terminal side by its path, the test
// reads and writes the other side. POSIX only; on Windows Available() is false
// and the tests that need it skip (the Wine suite covers the Win32 port).
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#if !defined(_WIN32)
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>
#endif

#include "serial/SerialIO.h"

namespace fennix::testsupport {

using Bytes = std::vector<uint8_t>;

class PtyDevice {
public:
    static bool Available() {
#if defined(_WIN32)
        return false;
#else
        return true;
#endif
    }

    PtyDevice() {
#if !defined(_WIN32)
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return;
        path_ = ptsname(master_);
        // Raw from the start, so nothing the channel writes before it sets the
        // port up is echoed back or translated.
        termios t{};
        tcgetattr(master_, &t);
        cfmakeraw(&t);
        tcsetattr(master_, TCSANOW, &t);
        // Held open so that the master never sees the terminal closed while
        // the channel closes and reopens it.
        holder_ = open(path_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
        reader_ = std::thread([this] { ReadLoop(); });
#endif
    }

    ~PtyDevice() {
        Hangup();
#if !defined(_WIN32)
        if (holder_ >= 0) close(holder_);
#endif
    }

    bool ok() const { return !path_.empty(); }
    const std::string& path() const { return path_; }

    // Every time the channel's 10-byte probe has been received, `answer` is
    // sent back (nothing when empty).
    void AnswerProbeWith(const Bytes& answer) {
        std::lock_guard<std::mutex> hold(lock_);
        answer_ = answer;
    }

    void Send(const Bytes& bytes) {
#if !defined(_WIN32)
        std::lock_guard<std::mutex> hold(writeLock_);
        size_t done = 0;
        while (done < bytes.size() && master_ >= 0) {
            ssize_t n = write(master_, bytes.data() + done, bytes.size() - done);
            if (n > 0)
                done += static_cast<size_t>(n);
            else
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
#endif
    }

    // All bytes received so far.
    Bytes Received() const {
        std::lock_guard<std::mutex> hold(lock_);
        return received_;
    }
    size_t ProbesReceived() const {
        std::lock_guard<std::mutex> hold(lock_);
        return probes_;
    }

    // Waits until `predicate` holds for the received bytes or the time is up.
    template <class Predicate>
    bool WaitForReceived(Predicate predicate, int ms) {
        std::unique_lock<std::mutex> hold(lock_);
        return changed_.wait_for(hold, std::chrono::milliseconds(ms), [&] { return predicate(received_); });
    }

    // Called on the device thread for every chunk received, after the probe
    // answer; lets a test answer requests.
    void OnReceive(std::function<void(const Bytes& chunk)> handler) {
        std::lock_guard<std::mutex> hold(lock_);
        handler_ = std::move(handler);
    }

    // The other end goes away: the terminal hangs up and its path vanishes.
    void Hangup() {
#if !defined(_WIN32)
        stop_ = true;
        if (reader_.joinable()) reader_.join();
        std::lock_guard<std::mutex> hold(writeLock_);
        if (master_ >= 0) close(master_);
        master_ = -1;
#endif
    }

    // The baud rate the terminal is set to now (0 when unknown).
    uint32_t Baud() const {
#if !defined(_WIN32)
        termios t{};
        if (tcgetattr(master_, &t) != 0) return 0;
        switch (cfgetospeed(&t)) {
            case B115200: return 115200;
            case B230400: return 230400;
            case B460800: return 460800;
            default: return 1;
        }
#else
        return 0;
#endif
    }

private:
    void ReadLoop() {
#if !defined(_WIN32)
        size_t scanned = 0;
        while (!stop_) {
            pollfd p{master_, POLLIN, 0};
            if (poll(&p, 1, 5) <= 0) continue;
            uint8_t chunk[4096];
            ssize_t n = read(master_, chunk, sizeof chunk);
            if (n <= 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
                continue;
            }
            Bytes answer;
            std::function<void(const Bytes&)> handler;
            {
                std::lock_guard<std::mutex> hold(lock_);
                received_.insert(received_.end(), chunk, chunk + n);
                const Bytes probe(CSerialIO::kProbe, CSerialIO::kProbe + sizeof CSerialIO::kProbe);
                for (;;) {
                    auto at = std::search(received_.begin() + static_cast<long>(scanned), received_.end(),
                                          probe.begin(), probe.end());
                    if (at == received_.end()) break;
                    scanned = static_cast<size_t>(at - received_.begin()) + probe.size();
                    ++probes_;
                    answer.insert(answer.end(), answer_.begin(), answer_.end());
                }
                handler = handler_;
            }
            changed_.notify_all();
            if (!answer.empty()) Send(answer);
            if (handler) handler(Bytes(chunk, chunk + n));
        }
#endif
    }

    int master_ = -1;
    int holder_ = -1;
    std::string path_;
    std::thread reader_;
    std::atomic<bool> stop_{false};
    mutable std::mutex lock_;
    std::mutex writeLock_;
    std::condition_variable changed_;
    Bytes received_;
    Bytes answer_;
    size_t probes_ = 0;
    std::function<void(const Bytes&)> handler_;
};

// Polls `condition` every millisecond until it holds or `ms` have passed.
template <class Condition>
bool Eventually(Condition condition, int ms) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

}  // namespace fennix::testsupport
