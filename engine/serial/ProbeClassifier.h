// Which mode the device is in, told from its answer to the detection probe.
// Separate from the listener so that the answer table can be read and tested
// without a port or a thread.
#pragma once

#include <cstddef>
#include <cstdint>

namespace fennix {

// The probe: "at\r" framed as a DIAG-form packet, then the download-mode
// no-operation in DIAG form.
constexpr uint8_t kDetectionProbe[10] = {0x61, 0x74, 0x0D, 0x1C, 0xD5, 0x7E, 0x06, 0x4E, 0x95, 0x7E};

// The phone mode and notification of the first answer row whose bytes start
// the chunk (a chunk shorter than a row never matches it), or false.
bool ClassifyProbeAnswer(const uint8_t* chunk, size_t count, uint32_t* mode, uint32_t* notification);

}  // namespace fennix
