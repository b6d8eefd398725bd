// The mode switch request as this build's driver expects it: built on the
// platform's SCSI_PASS_THROUGH, which must match the mirror layout of the same
// pointer size field for field.
#pragma once

#include <windows.h>

#include <winioctl.h>

#include <ntddscsi.h>

#include "ModeSwitchRequest.h"

namespace quillon {

using PlatformModeSwitchBuffer = ModeSwitchBuffer<SCSI_PASS_THROUGH>;

static_assert(IOCTL_SCSI_PASS_THROUGH == kScsiPassThroughIoctl, "control code");
static_assert(SCSI_IOCTL_DATA_IN == kScsiDataIn, "data direction");

#define QUILLON_SAME_FIELD(field)                                                                 \
    static_assert(offsetof(SCSI_PASS_THROUGH, field) == offsetof(ScsiPassThroughNative, field) && \
                      sizeof(SCSI_PASS_THROUGH::field) == sizeof(ScsiPassThroughNative::field),   \
                  "SCSI_PASS_THROUGH::" #field " differs from its mirror")
static_assert(sizeof(SCSI_PASS_THROUGH) == sizeof(ScsiPassThroughNative), "header size");
QUILLON_SAME_FIELD(Length);
QUILLON_SAME_FIELD(ScsiStatus);
QUILLON_SAME_FIELD(PathId);
QUILLON_SAME_FIELD(TargetId);
QUILLON_SAME_FIELD(Lun);
QUILLON_SAME_FIELD(CdbLength);
QUILLON_SAME_FIELD(SenseInfoLength);
QUILLON_SAME_FIELD(DataIn);
QUILLON_SAME_FIELD(DataTransferLength);
QUILLON_SAME_FIELD(TimeOutValue);
QUILLON_SAME_FIELD(DataBufferOffset);
QUILLON_SAME_FIELD(SenseInfoOffset);
QUILLON_SAME_FIELD(Cdb);
#undef QUILLON_SAME_FIELD

static_assert(sizeof(PlatformModeSwitchBuffer) == sizeof(ModeSwitchBuffer<ScsiPassThroughNative>),
              "request buffer size");

}  // namespace quillon
