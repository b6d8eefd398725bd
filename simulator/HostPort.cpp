#include "HostPort.h"

#include <algorithm>
#include <cerrno>
#include <functional>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include "serial/Hdlc.h"

namespace fennix::sim {

using Clock = std::chrono::steady_clock;

int CHostPort::Open(const std::string& path) {
    Close();
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return lastError_ = errno;
    termios settings{};
    if (tcgetattr(fd, &settings) == 0) {
        cfmakeraw(&settings);
        tcsetattr(fd, TCSANOW, &settings);
    }
    tcflush(fd, TCIOFLUSH);
    fd_ = fd;
    return 0;
}

void CHostPort::Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

int CHostPort::Write(const std::vector<uint8_t>& bytes) {
    if (fd_ < 0) return lastError_ = EBADF;
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
        } else if (n < 0 && errno == EAGAIN) {
            pollfd p{fd_, POLLOUT, 0};
            if (::poll(&p, 1, 1000) <= 0) return lastError_ = ETIMEDOUT;
        } else if (n < 0 && errno != EINTR) {
            return lastError_ = errno;
        }
    }
    return 0;
}

int CHostPort::Write(const std::string& text) { return Write(std::vector<uint8_t>(text.begin(), text.end())); }

int CHostPort::WriteFrame(const std::vector<uint8_t>& packet, bool download) {
    return Write(PackFrame(packet.data(), packet.size(), download ? kHdlcFlag : 0, kHdlcFlag));
}

bool CHostPort::ReadSome(std::vector<uint8_t>& out, Ms timeout) {
    if (fd_ < 0) return false;
    pollfd p{fd_, POLLIN, 0};
    int ready = ::poll(&p, 1, static_cast<int>(timeout.count()));
    if (ready <= 0) return false;
    uint8_t buffer[4096];
    ssize_t n = ::read(fd_, buffer, sizeof buffer);
    if (n > 0) {
        out.insert(out.end(), buffer, buffer + n);
        return true;
    }
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return true;
    lastError_ = n < 0 ? errno : EIO;
    return false;
}

template <class Done>
static std::vector<uint8_t> ReadLoop(CHostPort::Ms timeout, Done done,
                                     const std::function<bool(std::vector<uint8_t>&, CHostPort::Ms)>& some) {
    std::vector<uint8_t> out;
    auto end = Clock::now() + timeout;
    while (!done(out)) {
        auto left = std::chrono::duration_cast<CHostPort::Ms>(end - Clock::now());
        if (left.count() <= 0 || !some(out, left)) break;
    }
    return out;
}

std::vector<uint8_t> CHostPort::ReadCount(size_t count, Ms timeout) {
    return ReadLoop(
        timeout, [count](const std::vector<uint8_t>& out) { return out.size() >= count; },
        [this](std::vector<uint8_t>& out, Ms left) { return ReadSome(out, left); });
}

std::vector<uint8_t> CHostPort::ReadFrames(size_t frames, bool download, Ms timeout) {
    return ReadLoop(
        timeout,
        [frames, download](const std::vector<uint8_t>& out) {
            // In download form a flag closes a frame only when bytes stand between it and the last flag.
            size_t closed = 0;
            size_t sinceFlag = 0;
            for (uint8_t b : out) {
                if (b != kHdlcFlag) {
                    ++sinceFlag;
                    continue;
                }
                if (!download || sinceFlag > 0) ++closed;
                sinceFlag = 0;
            }
            return closed >= frames;
        },
        [this](std::vector<uint8_t>& out, Ms left) { return ReadSome(out, left); });
}

std::vector<uint8_t> CHostPort::ReadQuiet(Ms quiet, Ms timeout) {
    std::vector<uint8_t> out;
    auto end = Clock::now() + timeout;
    while (Clock::now() < end) {
        auto left = std::chrono::duration_cast<Ms>(end - Clock::now());
        if (!ReadSome(out, std::min(quiet, left))) break;
    }
    return out;
}

std::vector<uint8_t> CHostPort::Exchange(const std::vector<uint8_t>& packet, bool download, Ms timeout) {
    if (WriteFrame(packet, download) != 0) return {};
    return Unframe(ReadFrames(1, download, timeout));
}

std::vector<uint8_t> CHostPort::Unframe(const std::vector<uint8_t>& frame) {
    std::vector<uint8_t> body;
    bool escape = false;
    for (uint8_t b : frame) {
        if (b == kHdlcFlag) {
            if (!body.empty()) break;
            continue;
        }
        if (escape) {
            body.push_back(static_cast<uint8_t>(b ^ kHdlcEscapeXor));
            escape = false;
        } else if (b == kHdlcEscape) {
            escape = true;
        } else {
            body.push_back(b);
        }
    }
    if (body.size() < 3 || CalcCRC16(body.data(), static_cast<uint32_t>(body.size() * 8)) != kCrcGoodResidue) return {};
    body.resize(body.size() - 2);
    return body;
}

}  // namespace fennix::sim
