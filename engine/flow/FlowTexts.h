// The stable names of the stages and causes and the causes' sentences for
// people: one table, which every front-end reads through the events.
#pragma once

#include "flow/FlowEvents.h"

namespace fennix {

// "image-write"; "none" for Stage::None.
const char* StageKey(Stage stage);
// "port-missing"; "none" for Cause::None.
const char* CauseKey(Cause cause);
// "the device did not come back after the reset".
const char* CauseText(Cause cause);

}  // namespace fennix
