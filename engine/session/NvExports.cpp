// The exported functions of the NV flows. A handle that is not a live session
// (null, never made, closed or being closed) does nothing and reports failure.
// No exception leaves the library: one becomes a failed result and a log line.
#include "nv/DuckFile.h"
#include "session/ExportGuard.h"
#include "session/ExportResults.h"
#include "session/NvSession.h"

using fennix::CQualCmd;
using fennix::FlowOutcome;
using fennix::Guarded;
using fennix::GuardedFlow;

int32_t fennix::ItemListsResultCode(const FlowOutcome& outcome) { return outcome.Succeeded() ? 1 : 0; }

extern "C" {

FENNIX_API int32_t FENNIX_CALL SetCsvBrtFile(FennixHandle session, const char* csvPath, const char* brtPath) {
    return GuardedFlow(session, "SetCsvBrtFile", -1, [&](CQualCmd& s) {
        s.SetCsvBrtPaths(csvPath, brtPath);
        return 0;
    });
}

FENNIX_API int32_t FENNIX_CALL StartBackupBrt(FennixHandle session) {
    return GuardedFlow(session, "StartBackupBrt", -1, [](CQualCmd& s) {
        const FlowOutcome outcome = fennix::RunBackupBrt(s);
        return s.EndFlow(outcome, fennix::FlowResultCode(outcome));
    });
}

FENNIX_API int32_t FENNIX_CALL StartRestoreBrt(FennixHandle session) {
    return GuardedFlow(session, "StartRestoreBrt", -1, [](CQualCmd& s) {
        const FlowOutcome outcome = fennix::RunRestoreBrt(s);
        return s.EndFlow(outcome, fennix::FlowResultCode(outcome));
    });
}

FENNIX_API int32_t FENNIX_CALL DuckToNVArray(FennixHandle session, const char* duckPath) {
    fennix::CFlowEntry flow(session);
    if (!flow.Entered()) return 0;
    CQualCmd& s = flow.Session();
    const int32_t result = Guarded("DuckToNVArray", 0, [&] {
        return fennix::ItemListsResultCode(
            fennix::LoadDuckFile(duckPath ? duckPath : "", s.NumberedItems(), s.NamedItems()));
    });
    if (result == 0) {
        // Whatever stopped the import, nothing of it may be sent.
        s.NumberedItems().RemoveAll();
        s.NamedItems().RemoveAll();
    }
    return result;
}

FENNIX_API int32_t FENNIX_CALL NVArrayToMobile(FennixHandle session) {
    return GuardedFlow(session, "NVArrayToMobile", 0, [](CQualCmd& s) {
        const FlowOutcome outcome = fennix::SendItemLists(s);
        return s.EndFlow(outcome, fennix::ItemListsResultCode(outcome));
    });
}

}  // extern "C"
