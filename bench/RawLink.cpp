#include "RawLink.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

#include "serial/Hdlc.h"

namespace fennix::bench {

namespace {
constexpr int kReplyTimeoutMs = 5000;
}

CRawLink::~CRawLink() {
    if (fd_ >= 0) close(fd_);
}

int CRawLink::Open(const std::string& path) {
    fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd_ < 0) return errno;
    termios t{};
    if (tcgetattr(fd_, &t) != 0) return errno;
    cfmakeraw(&t);
    cfsetispeed(&t, B115200);
    cfsetospeed(&t, B115200);
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    if (tcsetattr(fd_, TCSANOW, &t) != 0) return errno;
    tcflush(fd_, TCIOFLUSH);
    return 0;
}

int CRawLink::Exchange(const std::vector<uint8_t>& frame) {
    size_t written = 0;
    while (written < frame.size()) {
        const ssize_t n = write(fd_, frame.data() + written, frame.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return -1;
        written += static_cast<size_t>(n);
    }
    int flags = 0;
    int first = -1;
    while (flags < 2) {
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, kReplyTimeoutMs) <= 0) return -1;
        const ssize_t n = read(fd_, buffer_.data(), buffer_.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return -1;
        for (ssize_t i = 0; i < n; ++i) {
            if (buffer_[i] == kHdlcFlag) {
                ++flags;
            } else if (flags == 1 && first < 0) {
                first = buffer_[i];
            }
        }
    }
    return first;
}

std::vector<uint8_t> DownloadFrame(const std::vector<uint8_t>& packet) {
    return PackFrame(packet.data(), packet.size(), kHdlcFlag, kHdlcFlag);
}

}  // namespace fennix::bench
