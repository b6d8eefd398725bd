// The packet layer's results, in one place. The failures keep the numbers
// the session's callers have always seen (top bit set, so that an int that
// carries one reads negative): the exports return them as they are. The
// kPacket* constants name those exported numbers for the code and tests that
// compare with them. The channel's results are typed separately
// (ChannelResult.h).
#pragma once

#include <cstdint>

namespace fennix {

enum class PacketResult : int32_t {
    Ok = 1,
    NullParameter = static_cast<int32_t>(0xF0000301),
    OpenFailed = static_cast<int32_t>(0xF0000302),
    ModeUnknown = static_cast<int32_t>(0xF0000303),
    // The switch out of DIAG into download mode failed (or the device's
    // platform could not be read, so no switch was tried).
    DiagSwitchFailed = static_cast<int32_t>(0xF0000304),
    ModeIsDL = static_cast<int32_t>(0xF0000305),
    WrongMode = static_cast<int32_t>(0xF0000306),
    WriteRefused = static_cast<int32_t>(0xF0000310),
    Timeout = static_cast<int32_t>(0xF0000311),
    DsSwitchFailed = static_cast<int32_t>(0xF0000312),
    // The session was closed while the request was under way (Close from
    // another thread): nothing more is exchanged.
    Cancelled = static_cast<int32_t>(0xF0000313),
};

// The outcome of one exchange: Ok with the reply's length, or a failure (and
// no length).
struct PacketReply {
    PacketResult result = PacketResult::Timeout;
    uint32_t length = 0;

    static PacketReply Of(uint32_t length) { return PacketReply{PacketResult::Ok, length}; }
    static PacketReply Failed(PacketResult failure) { return PacketReply{failure, 0}; }
    bool IsOk() const { return result == PacketResult::Ok; }
    // The reply as one number, the way the exports' callers and the tests
    // that stand in for them count: the length, or the failure's number.
    int32_t LengthOrCode() const { return IsOk() ? static_cast<int32_t>(length) : static_cast<int32_t>(result); }
};

constexpr int32_t kPacketNullParameter = static_cast<int32_t>(PacketResult::NullParameter);
constexpr int32_t kPacketOpenFailed = static_cast<int32_t>(PacketResult::OpenFailed);
constexpr int32_t kPacketModeUnknown = static_cast<int32_t>(PacketResult::ModeUnknown);
constexpr int32_t kPacketDiagSwitchFailed = static_cast<int32_t>(PacketResult::DiagSwitchFailed);
constexpr int32_t kPacketModeIsDL = static_cast<int32_t>(PacketResult::ModeIsDL);
constexpr int32_t kPacketWrongMode = static_cast<int32_t>(PacketResult::WrongMode);
constexpr int32_t kPacketWriteRefused = static_cast<int32_t>(PacketResult::WriteRefused);
constexpr int32_t kPacketTimeout = static_cast<int32_t>(PacketResult::Timeout);
constexpr int32_t kPacketDsSwitchFailed = static_cast<int32_t>(PacketResult::DsSwitchFailed);
constexpr int32_t kPacketCancelled = static_cast<int32_t>(PacketResult::Cancelled);

}  // namespace fennix
