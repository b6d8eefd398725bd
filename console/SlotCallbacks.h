// The engine's progress callback carries no context, so each of the eight
// slots has a plain function of its own that passes the text to its slot's
// log buffer.
#pragma once

#include "console/LogMessage.h"
#include "fennix/fennix.h"

namespace tarnwell {

constexpr int kSlotCount = 8;

// `slot` is 0..7. Bind before the slot's first worker starts; a slot without
// a buffer drops its lines.
void BindSlotLog(int slot, CLogMessage* log);
ProgressCallback SlotProgressCallback(int slot);

}  // namespace tarnwell
