#include "serial/ProbeClassifier.h"

#include <algorithm>
#include <vector>

#include "serial/PhoneMode.h"

namespace fennix {

namespace {

// One row of the answers to the detection probe: a chunk at least as long as
// the row that starts with its bytes fixes the phone mode.
struct DetectionRow {
    std::vector<uint8_t> start;
    uint32_t phoneMode;
    uint32_t notification;
};

const DetectionRow kDetectionRows[] = {
    // "at\r\r\nOK\r\n" (the echoed command and the answer), then the echoed
    // frame's CRC and flag: AT command mode.
    {{0x61, 0x74, 0x0D, 0x0D, 0x0A, 0x4F, 0x4B, 0x0D, 0x0A, 0x1C, 0xD5, 0x7E}, kPhoneModeAt, kNotifyDS},
    // DIAG rejects the first frame and echoes it (two framings of the answer).
    {{0x14, 0x61, 0x74, 0x0D, 0x1C, 0xD5, 0x7D, 0x5E}, kPhoneModeDIAG, kNotifyDIAG},
    {{0x13, 0x61, 0x74, 0x0D, 0x62, 0x09, 0x7E}, kPhoneModeDIAG, kNotifyDIAG},
    // Download mode acknowledges the no-operation.
    {{0x7E, 0x02, 0x6A, 0xD3, 0x7E}, kPhoneModeDL, kNotifyDL},
};

}  // namespace

bool ClassifyProbeAnswer(const uint8_t* chunk, size_t count, uint32_t* mode, uint32_t* notification) {
    for (const DetectionRow& row : kDetectionRows) {
        if (count >= row.start.size() && std::equal(row.start.begin(), row.start.end(), chunk)) {
            *mode = row.phoneMode;
            *notification = row.notification;
            return true;
        }
    }
    return false;
}

}  // namespace fennix
