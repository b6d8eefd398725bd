// The command and reply codes of the streaming download protocol, and the
// little-endian addresses its stream writes carry and their replies echo.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace fennix::streaming {

constexpr uint8_t kCmdHello = 0x01;
constexpr uint8_t kReplyHello = 0x02;
constexpr uint8_t kCmdStreamWrite = 0x07;
constexpr uint8_t kReplyStreamWrite = 0x08;
constexpr uint8_t kCmdReset = 0x0B;
constexpr uint8_t kReplyReset = 0x0C;
constexpr uint8_t kCmdClose = 0x15;
constexpr uint8_t kReplyClose = 0x16;
constexpr uint8_t kCmdSecurityMode = 0x17;
constexpr uint8_t kReplySecurityMode = 0x18;
constexpr uint8_t kCmdPartitionTable = 0x19;
constexpr uint8_t kReplyPartitionTable = 0x1A;
constexpr uint8_t kCmdOpenMultiImage = 0x1B;
constexpr uint8_t kReplyOpenMultiImage = 0x1C;

// A stream write's reply: the code and the four address bytes it echoes.
constexpr uint32_t kStreamWriteReplyBytes = 5;
constexpr size_t kStreamWriteHeaderBytes = 5;

inline uint32_t Little32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// The stream write of `length` bytes at `offset` into `packet` (resized).
inline void BuildStreamWrite(std::vector<uint8_t>& packet, uint32_t offset, const uint8_t* data, size_t length) {
    packet.resize(kStreamWriteHeaderBytes + length);
    packet[0] = kCmdStreamWrite;
    for (size_t i = 0; i < 4; ++i) packet[1 + i] = static_cast<uint8_t>(offset >> (8 * i));
    if (length) std::memcpy(packet.data() + kStreamWriteHeaderBytes, data, length);
}

}  // namespace fennix::streaming
