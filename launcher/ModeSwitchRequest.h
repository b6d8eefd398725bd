// The mode switch command that moves the modem out of USB storage mode: a SCSI
// pass-through request whose header is the platform's SCSI_PASS_THROUGH,
// followed by a filler, a sense area and a data area in one buffer.
//
// The builder is a template over the header type so that the Windows build
// fills in the platform's own structure, whose size differs between 32-bit
// (44 bytes) and x64 (56 bytes, the data-buffer offset being pointer-sized),
// while the tests fill in exact mirrors of both layouts on any host.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

namespace quillon {

constexpr uint32_t kScsiPassThroughIoctl = 0x4D004;  // IOCTL_SCSI_PASS_THROUGH

constexpr uint8_t kModeSwitchCdb[] = {0x30, 0x08, 0x2A, 0x00, 0xC0, 0x00};
constexpr uint32_t kModeSwitchDataLength = 192;
constexpr uint8_t kModeSwitchSenseLength = 24;
constexpr uint32_t kModeSwitchTimeoutSeconds = 2;
constexpr uint8_t kScsiDataIn = 1;  // data flows from the device

// The header as 32-bit Windows lays it out.
struct ScsiPassThroughX86 {
    uint16_t Length;
    uint8_t ScsiStatus;
    uint8_t PathId;
    uint8_t TargetId;
    uint8_t Lun;
    uint8_t CdbLength;
    uint8_t SenseInfoLength;
    uint8_t DataIn;
    uint32_t DataTransferLength;
    uint32_t TimeOutValue;
    uint32_t DataBufferOffset;
    uint32_t SenseInfoOffset;
    uint8_t Cdb[16];
};

// The header as x64 Windows lays it out.
struct ScsiPassThroughX64 {
    uint16_t Length;
    uint8_t ScsiStatus;
    uint8_t PathId;
    uint8_t TargetId;
    uint8_t Lun;
    uint8_t CdbLength;
    uint8_t SenseInfoLength;
    uint8_t DataIn;
    uint32_t DataTransferLength;
    uint32_t TimeOutValue;
    alignas(8) uint64_t DataBufferOffset;
    uint32_t SenseInfoOffset;
    uint8_t Cdb[16];
};

static_assert(sizeof(ScsiPassThroughX86) == 44, "32-bit header is 44 bytes");
static_assert(offsetof(ScsiPassThroughX86, DataBufferOffset) == 20, "32-bit data offset field");
static_assert(offsetof(ScsiPassThroughX86, Cdb) == 28, "32-bit CDB position");
static_assert(sizeof(ScsiPassThroughX64) == 56, "x64 header is 56 bytes");
static_assert(offsetof(ScsiPassThroughX64, DataBufferOffset) == 24, "x64 data offset field");
static_assert(offsetof(ScsiPassThroughX64, Cdb) == 36, "x64 CDB position");

// The header of the pointer size this program is built for.
using ScsiPassThroughNative = std::conditional_t<sizeof(void*) == 8, ScsiPassThroughX64, ScsiPassThroughX86>;

template <class Header>
struct ModeSwitchBuffer {
    Header spt;
    uint32_t Filler;  // realigns the buffers that follow to a double word
    uint8_t SenseBuf[32];
    uint8_t DataBuf[512];
};

template <class Header>
constexpr uint32_t ModeSwitchSenseOffset() {
    return static_cast<uint32_t>(offsetof(ModeSwitchBuffer<Header>, SenseBuf));
}

template <class Header>
constexpr uint32_t ModeSwitchDataOffset() {
    return static_cast<uint32_t>(offsetof(ModeSwitchBuffer<Header>, DataBuf));
}

// The request goes in with its header alone ...
template <class Header>
constexpr uint32_t ModeSwitchInputLength() {
    return static_cast<uint32_t>(sizeof(Header));
}

// ... and comes back up to the end of the expected data.
template <class Header>
constexpr uint32_t ModeSwitchOutputLength() {
    return ModeSwitchDataOffset<Header>() + kModeSwitchDataLength;
}

template <class Header>
void BuildModeSwitchRequest(ModeSwitchBuffer<Header>& request) {
    std::memset(&request, 0, sizeof request);
    Header& spt = request.spt;
    spt.Length = static_cast<decltype(spt.Length)>(sizeof(Header));
    spt.ScsiStatus = 0;
    spt.PathId = 0;
    spt.TargetId = 1;
    spt.Lun = 0;
    spt.CdbLength = sizeof kModeSwitchCdb;
    spt.SenseInfoLength = kModeSwitchSenseLength;
    spt.DataIn = kScsiDataIn;
    spt.DataTransferLength = kModeSwitchDataLength;
    spt.TimeOutValue = kModeSwitchTimeoutSeconds;
    spt.DataBufferOffset = ModeSwitchDataOffset<Header>();
    spt.SenseInfoOffset = ModeSwitchSenseOffset<Header>();
    std::memcpy(spt.Cdb, kModeSwitchCdb, sizeof kModeSwitchCdb);
}

}  // namespace quillon
