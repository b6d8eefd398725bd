// CRC and packing of outgoing frames.
#include "serial/Hdlc.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

namespace fennix {
namespace {

using Bytes = std::vector<uint8_t>;

// The CRC by its definition, one bit at a time: the table must agree with it.
uint16_t BitwiseCrc(const uint8_t* bytes, uint32_t bitCount) {
    uint16_t crc = 0xFFFF;
    for (uint32_t i = 0; i < bitCount; ++i) {
        unsigned bit = (bytes[i / 8] >> (i % 8)) & 1u;
        crc = ((crc ^ bit) & 1u) ? static_cast<uint16_t>((crc >> 1) ^ 0x8408) : static_cast<uint16_t>(crc >> 1);
    }
    return static_cast<uint16_t>(~crc);
}

Bytes Pack(const Bytes& packet, uint8_t leading, uint8_t trailing = kHdlcFlag) {
    return PackFrame(packet.data(), packet.size(), leading, trailing);
}

TEST(HdlcCrc, CheckValueAndEmptyInput) {
    const char* digits = "123456789";
    EXPECT_EQ(0x906E, CalcCRC16(reinterpret_cast<const uint8_t*>(digits), 9 * 8));
    EXPECT_EQ(0x0000, CalcCRC16(nullptr, 0));
}

TEST(HdlcCrc, LeftoverBitsGoLeastSignificantFirst) {
    const uint8_t one = 0x01, zero = 0x00;
    EXPECT_EQ(0x8000, CalcCRC16(&one, 1));
    EXPECT_EQ(0x0408, CalcCRC16(&zero, 1));
    // Bits above the count do not matter.
    const uint8_t noisy = 0xF1;
    EXPECT_EQ(CalcCRC16(&one, 1), CalcCRC16(&noisy, 1));

    std::mt19937 random(7);
    Bytes data(27);  // several eight-byte steps, then single bytes, then bits
    for (auto& b : data) b = static_cast<uint8_t>(random());
    for (uint32_t bits = 0; bits <= data.size() * 8; ++bits)
        EXPECT_EQ(BitwiseCrc(data.data(), bits), CalcCRC16(data.data(), bits)) << bits;
}

TEST(HdlcCrc, PacketFollowedByItsCrcGivesTheResidue) {
    std::mt19937 random(11);
    for (size_t n : {0u, 1u, 2u, 17u, 1024u}) {
        Bytes data(n);
        for (auto& b : data) b = static_cast<uint8_t>(random());
        uint16_t crc = CalcCRC16(data.data(), static_cast<uint32_t>(n * 8));
        data.push_back(static_cast<uint8_t>(crc & 0xFF));
        data.push_back(static_cast<uint8_t>(crc >> 8));
        EXPECT_EQ(kCrcGoodResidue, CalcCRC16(data.data(), static_cast<uint32_t>(data.size() * 8))) << n;
    }
}

TEST(HdlcPack, KnownFramesInBothForms) {
    struct Case {
        Bytes packet;
        Bytes diag;
    } cases[] = {
        {{0x06}, {0x06, 0x4E, 0x95, 0x7E}}, {{0x02}, {0x02, 0x6A, 0xD3, 0x7E}},
        {{0x3A}, {0x3A, 0xA1, 0x6E, 0x7E}}, {{0x61, 0x74, 0x0D}, {0x61, 0x74, 0x0D, 0x1C, 0xD5, 0x7E}},
        {{0x7C}, {0x7C, 0x93, 0x49, 0x7E}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.diag, Pack(c.packet, 0));
        Bytes download{0x7E};
        download.insert(download.end(), c.diag.begin(), c.diag.end());
        EXPECT_EQ(download, Pack(c.packet, kHdlcFlag));
    }
}

TEST(HdlcPack, ReservedPacketBytesAreStuffed) {
    const Bytes frame = Pack({0x7E, 0x7D, 0x01}, 0);
    ASSERT_GE(frame.size(), 5u);
    EXPECT_EQ((Bytes{0x7D, 0x5E, 0x7D, 0x5D, 0x01}), Bytes(frame.begin(), frame.begin() + 5));
    EXPECT_EQ(kHdlcFlag, frame.back());
}

// Finds a two-byte packet of ordinary bytes whose CRC byte at `shift` is `value`.
Bytes PacketWithCrcByte(int shift, uint8_t value) {
    for (unsigned v = 0; v < 0x10000; ++v) {
        Bytes packet{static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
        if (packet[0] >= 0x7D || packet[1] >= 0x7D) continue;
        if (((CalcCRC16(packet.data(), 16) >> shift) & 0xFF) == value) return packet;
    }
    return {};
}

TEST(HdlcPack, ReservedCrcBytesAreStuffed) {
    for (int shift : {0, 8}) {
        for (uint8_t reserved : {kHdlcFlag, kHdlcEscape}) {
            const Bytes packet = PacketWithCrcByte(shift, reserved);
            ASSERT_EQ(2u, packet.size());
            const uint16_t crc = CalcCRC16(packet.data(), 16);
            const uint8_t low = crc & 0xFF, high = crc >> 8;
            Bytes expected = packet;
            for (uint8_t b : {low, high}) {
                if (b == kHdlcFlag || b == kHdlcEscape) {
                    expected.push_back(kHdlcEscape);
                    expected.push_back(static_cast<uint8_t>(b ^ 0x20));
                } else {
                    expected.push_back(b);
                }
            }
            expected.push_back(kHdlcFlag);
            EXPECT_EQ(expected, Pack(packet, 0)) << shift << " " << int(reserved);
        }
    }
}

TEST(HdlcPack, WorstCaseFillsTwoNPlusSix) {
    // Every packet byte reserved and a CRC of 0x7D7D: everything is stuffed.
    const Bytes packet{0x7E, 0x7E, 0x7E, 0x7D, 0x7D, 0x7E, 0x7E, 0x7E, 0x7D, 0x7E, 0x7E};
    ASSERT_EQ(0x7D7D, CalcCRC16(packet.data(), static_cast<uint32_t>(packet.size() * 8)));
    const Bytes frame = Pack(packet, kHdlcFlag);
    EXPECT_EQ(2 * packet.size() + 6, frame.size());
    EXPECT_EQ(kHdlcFlag, frame.front());
    EXPECT_EQ((Bytes{0x7D, 0x5D, 0x7D, 0x5D, 0x7E}), Bytes(frame.end() - 5, frame.end()));
}

TEST(HdlcPack, ReusedBufferHoldsExactlyTheNewFrame) {
    // One buffer for a stream of frames of changing length and stuffing: each
    // time it holds the new frame and nothing left over from a longer one.
    std::mt19937 random(5);
    Bytes buffer;
    for (size_t n : {1024u, 3u, 0u, 600u, 600u, 1u}) {
        Bytes packet(n);
        for (auto& b : packet) b = static_cast<uint8_t>(random() % 4 == 0 ? 0x7E : random());
        PackFrameInto(packet.data(), packet.size(), kHdlcFlag, kHdlcFlag, buffer);
        EXPECT_EQ(Pack(packet, kHdlcFlag), buffer) << n;
    }
}

TEST(HdlcPack, TrailingByteIsWrittenAsGiven) {
    EXPECT_EQ((Bytes{0x06, 0x4E, 0x95, 0x7D}), Pack({0x06}, 0, 0x7D));
    EXPECT_EQ((Bytes{0x08, 0x02, 0x6A, 0xD3, 0x00}), Pack({0x02}, 0x08, 0x00));
}

}  // namespace
}  // namespace fennix
