// The device modes the channel tells apart and the notifications it sends
// the layer above. Separate from the channel so that the framing (whose
// download-mode frames open with a flag) and the probe classifier name the
// same values without the channel's class.
#pragma once

#include <cstdint>

namespace fennix {

// Phone mode held by the channel.
enum : uint32_t {
    kPhoneModeStopped = 0,  // the listener has ended
    kPhoneModeUnknown = 3,  // detection is running
    kPhoneModeAt = 4,       // the device answers AT commands
    kPhoneModeDIAG = 5,     // the device speaks DIAG
    kPhoneModeDL = 6,       // download mode
};

// Notification codes the channel passes to its IChannelListener.
enum : uint32_t {
    kNotifyStop = 0,
    kNotifyStart = 1,
    kNotifyDS = 2,
    kNotifyDIAG = 3,
    kNotifyDL = 4,
    kNotifyRead = 5,  // new bytes were added to the read buffer
};

}  // namespace fennix
