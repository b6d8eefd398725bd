#include "ModeSwitchRequest.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace quillon {
namespace {

using Bytes = std::vector<uint8_t>;

template <class Header>
Bytes BuiltRequest() {
    ModeSwitchBuffer<Header> request;
    std::memset(&request, 0xA5, sizeof request);  // whatever was there before
    BuildModeSwitchRequest(request);
    Bytes bytes(sizeof request);
    std::memcpy(bytes.data(), &request, sizeof request);
    return bytes;
}

void Put16(Bytes& b, size_t at, uint16_t v) {
    b[at] = v & 0xFF;
    b[at + 1] = v >> 8;
}
void Put32(Bytes& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = (v >> (8 * i)) & 0xFF;
}

// The request as the driver reads it, written out field by field at the
// offsets of each layout.
struct Layout {
    size_t bufferSize;
    uint16_t headerLength;
    size_t dataBufferOffsetField;
    size_t senseInfoOffsetField;
    size_t cdbField;
    uint32_t senseOffset;
    uint32_t dataOffset;
};

Bytes ExpectedRequest(const Layout& l) {
    Bytes b(l.bufferSize, 0);
    Put16(b, 0, l.headerLength);
    b[2] = 0;                                         // ScsiStatus
    b[3] = 0;                                         // PathId
    b[4] = 1;                                         // TargetId
    b[5] = 0;                                         // Lun
    b[6] = 6;                                         // CdbLength
    b[7] = 24;                                        // SenseInfoLength
    b[8] = 1;                                         // DataIn
    Put32(b, 12, 192);                                // DataTransferLength
    Put32(b, 16, 2);                                  // TimeOutValue
    Put32(b, l.dataBufferOffsetField, l.dataOffset);  // upper half zero on x64
    Put32(b, l.senseInfoOffsetField, l.senseOffset);
    const uint8_t cdb[] = {0x30, 0x08, 0x2A, 0x00, 0xC0, 0x00};
    std::memcpy(&b[l.cdbField], cdb, sizeof cdb);
    return b;
}

TEST(ModeSwitchRequest, ThirtyTwoBitLayoutByteForByte) {
    const Layout x86{592, 44, 20, 24, 28, 48, 80};
    EXPECT_EQ(ExpectedRequest(x86), BuiltRequest<ScsiPassThroughX86>());
    EXPECT_EQ(44u, ModeSwitchInputLength<ScsiPassThroughX86>());
    EXPECT_EQ(272u, ModeSwitchOutputLength<ScsiPassThroughX86>());
}

TEST(ModeSwitchRequest, X64LayoutByteForByte) {
    // The data-buffer offset is pointer-sized and eight-aligned, which moves
    // everything after it and grows the header to 56 bytes.
    const Layout x64{608, 56, 24, 32, 36, 60, 92};
    EXPECT_EQ(ExpectedRequest(x64), BuiltRequest<ScsiPassThroughX64>());
    EXPECT_EQ(56u, ModeSwitchInputLength<ScsiPassThroughX64>());
    EXPECT_EQ(284u, ModeSwitchOutputLength<ScsiPassThroughX64>());
}

}  // namespace
}  // namespace quillon
