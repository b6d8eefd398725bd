// The host's end of a virtual device's port, without any of the engine's
// layers: opens the stable path in raw mode, writes bytes, and reads what the
// device answers within a time limit. For tests that check the device's bytes
// exactly, and for tests of protocol extensions.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace fennix::sim {

class CHostPort {
public:
    using Ms = std::chrono::milliseconds;

    CHostPort() = default;
    ~CHostPort() { Close(); }
    CHostPort(const CHostPort&) = delete;
    CHostPort& operator=(const CHostPort&) = delete;

    // 0 or errno.
    int Open(const std::string& path);
    void Close();
    bool IsOpen() const { return fd_ >= 0; }

    // Writes all bytes; 0 or errno (EIO once the device's port has vanished).
    int Write(const std::vector<uint8_t>& bytes);
    int Write(const std::string& text);
    // Frames the packet as the host does (DIAG: no opening flag) and writes it.
    int WriteFrame(const std::vector<uint8_t>& packet, bool download);

    // Reads until `count` bytes have arrived or the time is up.
    std::vector<uint8_t> ReadCount(size_t count, Ms timeout);
    // Reads until `flags` closing flags (0x7E) have arrived or the time is up;
    // in download form each frame also opens with a flag, which is not counted.
    std::vector<uint8_t> ReadFrames(size_t frames, bool download, Ms timeout);
    // Reads whatever arrives until nothing more comes for `quiet`.
    std::vector<uint8_t> ReadQuiet(Ms quiet, Ms timeout = Ms(5000));
    // Exchanges one packet: writes its frame and returns the unframed answer
    // packet (empty when none or when it fails its check).
    std::vector<uint8_t> Exchange(const std::vector<uint8_t>& packet, bool download, Ms timeout = Ms(3000));

    // errno of the last failed read or write (EIO: the port is gone).
    int LastError() const { return lastError_; }

    // Unstuffs one frame (flags stripped) and checks its CRC; the packet
    // without CRC, or empty when the check fails.
    static std::vector<uint8_t> Unframe(const std::vector<uint8_t>& frame);

private:
    // Waits up to `timeout` for bytes and appends them; false on timeout or error.
    bool ReadSome(std::vector<uint8_t>& out, Ms timeout);

    int fd_ = -1;
    int lastError_ = 0;
};

}  // namespace fennix::sim
