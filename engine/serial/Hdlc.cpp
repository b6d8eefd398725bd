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

// Entry i: the register after shifting i through eight steps.
constexpr std::array<uint16_t, 256> MakeCrcTable() {
    std::array<uint16_t, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        uint16_t crc = static_cast<uint16_t>(i);
        for (int step = 0; step < 8; ++step)
            crc = (crc & 1u) != 0 ? static_cast<uint16_t>((crc >> 1) ^ kReflectedPolynomial)
                                  : static_cast<uint16_t>(crc >> 1);
        table[i] = crc;
    }
    return table;
}

constexpr std::array<uint16_t, 256> kCrcTable = MakeCrcTable();

void PutStuffed(std::vector<uint8_t>& out, uint8_t byte) {
    if (byte == kHdlcFlag || byte == kHdlcEscape) {
        out.push_back(kHdlcEscape);
        out.push_back(static_cast<uint8_t>(byte ^ kHdlcEscapeXor));
    } else {
        out.push_back(byte);
    }
}

}  // namespace

uint16_t CalcCRC16(const uint8_t* bytes, uint32_t bitCount) {
    uint16_t crc = kCrcInitial;
    const uint32_t wholeBytes = bitCount / 8;
    for (uint32_t i = 0; i < wholeBytes; ++i)
        crc = static_cast<uint16_t>((crc >> 8) ^ kCrcTable[(crc ^ bytes[i]) & 0xFF]);
    const uint32_t leftover = bitCount % 8;
    for (uint32_t bit = 0; bit < leftover; ++bit) crc = ShiftBit(crc, (bytes[wholeBytes] >> bit) & 1u);
    return static_cast<uint16_t>(~crc);
}

std::vector<uint8_t> PackFrame(const uint8_t* packet, size_t n, uint8_t leading, uint8_t trailing) {
    const uint16_t crc = CalcCRC16(packet, static_cast<uint32_t>(n * 8));
    std::vector<uint8_t> out;
    out.reserve(2 * n + 6);
    if (leading != 0) out.push_back(leading);
    for (size_t i = 0; i < n; ++i) PutStuffed(out, packet[i]);
    PutStuffed(out, static_cast<uint8_t>(crc & 0xFF));
    PutStuffed(out, static_cast<uint8_t>(crc >> 8));
    out.push_back(trailing);
    return out;
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
        if (length_ == 0 && mode_ == kHdlcDownloadMode) {
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
    default:
        return kInvalidState;
    }
}

}  // namespace fennix
