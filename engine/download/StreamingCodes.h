// The command and reply codes of the streaming download protocol.
#pragma once

#include <cstdint>

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

}  // namespace fennix::streaming
