#include "console/SlotCallbacks.h"

#include <array>
#include <atomic>

namespace tarnwell {

namespace {

std::array<std::atomic<CLogMessage*>, kSlotCount> g_slotLogs{};

template <int Slot>
void SlotCallback(const char* text, int32_t /*status*/) {
    if (CLogMessage* log = g_slotLogs[Slot].load()) log->AddLine(text);
}

const std::array<ProgressCallback, kSlotCount> kCallbacks = {
    &SlotCallback<0>, &SlotCallback<1>, &SlotCallback<2>, &SlotCallback<3>,
    &SlotCallback<4>, &SlotCallback<5>, &SlotCallback<6>, &SlotCallback<7>,
};

}  // namespace

void BindSlotLog(int slot, CLogMessage* log) { g_slotLogs[slot].store(log); }

ProgressCallback SlotProgressCallback(int slot) { return kCallbacks[slot]; }

}  // namespace tarnwell
