#include "serial/Hdlc.h"

#include <array>

#include "log/Log.h"

namespace fennix {

namespace {

constexpr uint16_t kReflectedPolynomial = 0x8408;
constexpr uint16_t kCrcInitial = 0xFFFF;

uint16_t ShiftBit(uint16_t crc, unsigned bit) {
    return ((crc ^ bit) & 1u) != 0 ? static_cast<uint16_t>((crc >> 1) ^ kReflectedPolynomial)
                                   : static_cast<uint16_t>(crc >> 1);
}

// Slicing tables: entry i of table k is the register after byte i was shifted
// in and then k zero bytes. Table 0 is the classic byte table; with all eight,
// a stream write's CRC takes eight independent lookups per eight bytes instead
// of a chain of one lookup per byte.
using CrcTables = std::array<std::array<uint16_t, 256>, 8>;

constexpr CrcTables MakeCrcTables() {
    CrcTables tables{};
    for (unsigned i = 0; i < 256; ++i) {
        uint16_t crc = static_cast<uint16_t>(i);
        for (int step = 0; step < 8; ++step)
            crc = (crc & 1u) != 0 ? static_cast<uint16_t>((crc >> 1) ^ kReflectedPolynomial)
                                  : static_cast<uint16_t>(crc >> 1);
        tables[0][i] = crc;
    }
    for (size_t k = 1; k < tables.size(); ++k)
        for (unsigned i = 0; i < 256; ++i)
            tables[k][i] = static_cast<uint16_t>((tables[k - 1][i] >> 8) ^ tables[0][tables[k - 1][i] & 0xFF]);
    return tables;
}

constexpr CrcTables kCrcTables = MakeCrcTables();

bool NeedsEscape(uint8_t byte) { return byte == kHdlcFlag || byte == kHdlcEscape; }

// Writes `byte` at `out`, escaped when it must be; returns the next position.
uint8_t* PutStuffed(uint8_t* out, uint8_t byte) {
    if (NeedsEscape(byte)) {
        *out++ = kHdlcEscape;
        *out++ = static_cast<uint8_t>(byte ^ kHdlcEscapeXor);
    } else {
        *out++ = byte;
    }
    return out;
}

}  // namespace

uint16_t CalcCRC16(const uint8_t* bytes, uint32_t bitCount) {
    const auto& t = kCrcTables;
    uint16_t crc = kCrcInitial;
    const uint32_t wholeBytes = bitCount / 8;
    uint32_t i = 0;
    for (; i + 8 <= wholeBytes; i += 8) {
        const uint8_t* b = bytes + i;
        const uint8_t low = static_cast<uint8_t>(crc ^ b[0]);
        const uint8_t high = static_cast<uint8_t>((crc >> 8) ^ b[1]);
        crc = static_cast<uint16_t>(t[7][low] ^ t[6][high] ^ t[5][b[2]] ^ t[4][b[3]] ^ t[3][b[4]] ^ t[2][b[5]] ^
                                    t[1][b[6]] ^ t[0][b[7]]);
    }
    for (; i < wholeBytes; ++i) crc = static_cast<uint16_t>((crc >> 8) ^ t[0][(crc ^ bytes[i]) & 0xFF]);
    const uint32_t leftover = bitCount % 8;
    for (uint32_t bit = 0; bit < leftover; ++bit) crc = ShiftBit(crc, (bytes[wholeBytes] >> bit) & 1u);
    return static_cast<uint16_t>(~crc);
}

void PackFrameInto(const uint8_t* packet, size_t n, uint8_t leading, uint8_t trailing, std::vector<uint8_t>& out) {
    const uint16_t crc = CalcCRC16(packet, static_cast<uint32_t>(n * 8));
    // Room for the worst case (every byte escaped), cut to size at the end.
    // Only room the buffer never had is cleared by the resize.
    out.resize(2 * n + 6);
    uint8_t* at = out.data();
    if (leading != 0) *at++ = leading;
    for (size_t i = 0; i < n; ++i) at = PutStuffed(at, packet[i]);
    at = PutStuffed(at, static_cast<uint8_t>(crc & 0xFF));
    at = PutStuffed(at, static_cast<uint8_t>(crc >> 8));
    *at++ = trailing;
    out.resize(static_cast<size_t>(at - out.data()));
}

std::vector<uint8_t> PackFrame(const uint8_t* packet, size_t n, uint8_t leading, uint8_t trailing) {
    std::vector<uint8_t> out;
    PackFrameInto(packet, n, leading, trailing, out);
    return out;
}

size_t ResyncPosition(const uint8_t* bytes, size_t count, size_t failedAt, uint32_t phoneMode) {
    size_t flag = failedAt;
    while (flag < count && bytes[flag] != kHdlcFlag) ++flag;
    if (flag >= count) return count;
    if (phoneMode != kPhoneModeDL) return flag + 1;
    // A flag that ends the read may as well have closed the bad frame.
    if (flag + 1 >= count) return count;
    return bytes[flag + 1] == kHdlcFlag ? flag + 1 : flag;
}

CFrameReceiver::CFrameReceiver() : buffer_(kBufferSize, 0) {}

void CFrameReceiver::SetMode(uint32_t phoneMode) { mode_ = phoneMode; }

void CFrameReceiver::Clear() {
    length_ = 0;
    state_ = kNormal;
    overflowed_ = false;
}

void CFrameReceiver::Append(uint8_t byte) {
    // Past the end of the buffer nothing is stored; the frame fails at its flag.
    if (length_ >= kBufferSize) {
        overflowed_ = true;
        return;
    }
    buffer_[length_++] = byte;
}

int32_t CFrameReceiver::FailFrame() {
    length_ = 0;
    overflowed_ = false;
    return kFrameFailed;
}

int32_t CFrameReceiver::CloseFrame() {
    if (overflowed_) {
        LogLine(kLogError, "The frame is longer than the %u bytes buffer.", static_cast<unsigned>(kBufferSize));
        return FailFrame();
    }
    if (length_ < 2) {
        LogLine(kLogError, "The length of buffer including CRC should be larger than 2.");
        LogHexDump(kLogError, buffer_.data(), length_);
        return FailFrame();
    }
    if (CalcCRC16(buffer_.data(), length_ * 8) != kCrcGoodResidue) {
        LogLine(kLogError, "CRC checking fails.");
        LogHexDump(kLogError, buffer_.data(), length_);
        return FailFrame();
    }
    const int32_t packetLength = static_cast<int32_t>(length_ - 2);
    // A frame of nothing but its CRC (00 00) carries no packet: drop its bytes
    // so that they do not end up in front of the next frame.
    if (packetLength == 0) length_ = 0;
    return packetLength;
}

int32_t CFrameReceiver::ReceiveByte(uint8_t byte) {
    switch (state_) {
        case kNormal:
            if (length_ == 0 && mode_ == kPhoneModeDL) {
                if (byte == kHdlcFlag) {
                    state_ = kTakeUnchanged;
                    return kAbsorbed;
                }
                if (byte != 0x08) {
                    state_ = kDiscarding;
                    return kBadFirstByte;
                }
            }
            if (byte == kHdlcEscape) {
                state_ = kEscapeSeen;
                return kAbsorbed;
            }
            if (byte == kHdlcFlag) return CloseFrame();
            Append(byte);
            return kAbsorbed;
        case kEscapeSeen:
            Append(static_cast<uint8_t>(byte ^ kHdlcEscapeXor));
            state_ = kNormal;
            return kAbsorbed;
        case kTakeUnchanged:
            Append(byte);
            state_ = kNormal;
            return kAbsorbed;
        case kDiscarding:
            if (byte == kHdlcFlag) state_ = kNormal;
            return kDiscardingBytes;
        default: return kInvalidState;
    }
}

}  // namespace fennix
