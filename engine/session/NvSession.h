// The NV flows of a session: backup into a BRT file, restore from one, and
// the download of an imported duck file. Each runs on the caller's thread.
#pragma once

#include "fennix/fennix.h"
#include "flow/FlowEvents.h"

namespace fennix {

class CQualCmd;

// StartBackupBrt and StartRestoreBrt: the flow frame, the body and its closing
// line; the frame's failure (the port, the switch into DIAG mode) or the
// body's outcome.
FlowOutcome RunBackupBrt(CQualCmd& session);
FlowOutcome RunRestoreBrt(CQualCmd& session);

// NVArrayToMobile: opens the port, enters DIAG mode and writes the session's
// item lists; reports nothing. Fails when nothing could be sent (no port
// name, the port does not open, no DIAG mode), when a numbered item or ARRAY
// entry failed at the exchange, or when a device file was left unwritten.
FlowOutcome SendItemLists(CQualCmd& session);

// ReadDeviceInfo: opens the port, enters DIAG mode and reads the identity
// into `info` (its whole size; the caller copies what fits). A device found
// in download mode is left there: its mode is filled in, and it succeeds.
// Fails when the port does not open, the device is in no mode or does not
// enter DIAG, or stops answering.
FlowOutcome ReadDeviceInfo(CQualCmd& session, FennixDeviceInfo& info);

}  // namespace fennix
