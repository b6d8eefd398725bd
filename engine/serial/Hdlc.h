// HDLC-style framing of DIAG and download packets: CRC-16/X.25 appended low
// byte first, 0x7D/0x7E stuffed, closing flag 0x7E and, in download mode, an
// opening flag.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "serial/PhoneMode.h"

namespace fennix {

constexpr uint8_t kHdlcFlag = 0x7E;
constexpr uint8_t kHdlcEscape = 0x7D;
constexpr uint8_t kHdlcEscapeXor = 0x20;
// CRC over a packet followed by its own two CRC bytes.
constexpr uint16_t kCrcGoodResidue = 0x0F47;

// Complemented CRC over `bitCount` bits (callers pass 8 x bytes). Whole bytes
// go through the table; leftover bits of the last byte go one at a time,
// least significant first.
uint16_t CalcCRC16(const uint8_t* bytes, uint32_t bitCount);

// Frames a packet: optional leading byte (0 = none), stuffed packet and CRC,
// trailing byte unstuffed. At most 2n + 6 bytes.
std::vector<uint8_t> PackFrame(const uint8_t* packet, size_t n, uint8_t leading, uint8_t trailing);
// The same into `out`, replacing its contents. A buffer kept from call to call
// keeps its room, so framing a stream of blocks allocates and clears nothing.
void PackFrameInto(const uint8_t* packet, size_t n, uint8_t leading, uint8_t trailing, std::vector<uint8_t>& out);

// Where the receiver takes up a read again after it failed a frame at
// `bytes[failedAt]` (and was cleared): at the next frame, which begins after
// the next flag (a DIAG frame) or at it (a download frame opens with a flag;
// two flags in a row are the bad frame's end and the next one's opening).
// `count` when no flag is left in the read.
size_t ResyncPosition(const uint8_t* bytes, size_t count, size_t failedAt, uint32_t phoneMode);

// Rebuilds frames byte by byte from the received stream.
class CFrameReceiver {
public:
    static constexpr size_t kBufferSize = 16384;

    enum State : int32_t {
        kNormal = 0,
        kEscapeSeen = 1,
        kTakeUnchanged = 2,  // the byte after an opening flag
        kDiscarding = -1,
    };

    enum Result : int32_t {
        kAbsorbed = 0,
        kDiscardingBytes = -1,
        kBadFirstByte = -2,
        kFrameFailed = -3,
        kInvalidState = -4,
    };

    CFrameReceiver();
    void SetMode(uint32_t phoneMode);
    // > 0: a good frame of that packet length is in Data(), its two CRC bytes
    // behind it; 0: absorbed; -1 discarding; -2 bad first byte in download
    // mode; -3 failed check; -4 invalid state. After a frame or a negative
    // result the owner calls Clear before feeding more bytes.
    int32_t ReceiveByte(uint8_t byte);
    void Clear();
    const uint8_t* Data() const { return buffer_.data(); }
    uint32_t Length() const { return length_; }
    int32_t CurrentState() const { return state_; }

private:
    void Append(uint8_t byte);
    int32_t CloseFrame();
    int32_t FailFrame();

    std::vector<uint8_t> buffer_;
    uint32_t length_ = 0;
    int32_t state_ = kNormal;
    uint32_t mode_ = 0;
    // Bytes arrived after the buffer was full: the frame cannot be checked.
    bool overflowed_ = false;
};

}  // namespace fennix
