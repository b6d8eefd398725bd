// The NV flows of a session: backup into a BRT file, restore from one, and
// the download of an imported duck file. Each runs on the caller's thread.
#pragma once

#include <cstdint>

namespace fennix {

class CQualCmd;

// StartBackupBrt and StartRestoreBrt: the flow frame, the body and its closing
// line. 1 on success, -1 when the port cannot be opened or the body fails,
// otherwise the negative result of the switch into DIAG mode.
int32_t RunBackupBrt(CQualCmd& session);
int32_t RunRestoreBrt(CQualCmd& session);

// NVArrayToMobile: opens the port, enters DIAG mode and writes the session's
// item lists; reports nothing. 0 when nothing could be sent (no port name, the
// port does not open, no DIAG mode) or a numbered item or ARRAY entry failed
// at the exchange; 1 otherwise.
int32_t SendItemLists(CQualCmd& session);

}  // namespace fennix
