// The benchmark's baseline: the host's side of a virtual device's port with no
// engine at all. Frames are built beforehand; an exchange is one write of the
// frame and reads until the reply frame's closing flag, as tight as a host can
// make it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace fennix::bench {

class CRawLink {
public:
    ~CRawLink();
    // 0 or errno. Raw mode, 115200 baud, like the engine's port setup.
    int Open(const std::string& path);
    // Writes `frame` and reads one download-form reply frame (opening and
    // closing flag). The reply's first packet byte, or -1 on error or timeout.
    int Exchange(const std::vector<uint8_t>& frame);

private:
    int fd_ = -1;
    std::vector<uint8_t> buffer_ = std::vector<uint8_t>(4096);
};

// The download-form frame of a packet (opening flag, stuffed packet and CRC,
// closing flag).
std::vector<uint8_t> DownloadFrame(const std::vector<uint8_t>& packet);

}  // namespace fennix::bench
