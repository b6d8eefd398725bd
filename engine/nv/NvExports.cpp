// The exported functions of the NV flows. A handle is the session that
// SetComPort returned; a null handle does nothing and reports failure. No
// exception leaves the library: one becomes a failed result and a log line.
#include <exception>

#include "download/QualCmd.h"
#include "download/SessionRegistry.h"
#include "fennix/fennix.h"
#include "log/Log.h"
#include "nv/DuckFile.h"
#include "nv/NvSession.h"

namespace {

fennix::CQualCmd* SessionOf(FennixHandle handle) { return static_cast<fennix::CQualCmd*>(handle); }

template <typename Body>
int32_t Guarded(const char* function, int32_t failure, Body body) {
    try {
        return body();
    } catch (const std::exception& e) {
        fennix::LogFuncLine(fennix::kLogError, function, "Unexpected failure: %s", e.what());
    } catch (...) {
        fennix::LogFuncLine(fennix::kLogError, function, "Unexpected failure.");
    }
    return failure;
}

}  // namespace

extern "C" {

FENNIX_API int32_t FENNIX_CALL SetCsvBrtFile(FennixHandle session, const char* csvPath, const char* brtPath) {
    if (!session) return -1;
    return Guarded("SetCsvBrtFile", -1, [&] {
        SessionOf(session)->SetCsvBrtPaths(csvPath, brtPath);
        return 0;
    });
}

FENNIX_API int32_t FENNIX_CALL StartBackupBrt(FennixHandle session) {
    if (!session) return -1;
    fennix::CFlowEntry flow(SessionOf(session));
    if (!flow.Entered()) return -1;
    return Guarded("StartBackupBrt", -1, [&] { return fennix::RunBackupBrt(*SessionOf(session)); });
}

FENNIX_API int32_t FENNIX_CALL StartRestoreBrt(FennixHandle session) {
    if (!session) return -1;
    fennix::CFlowEntry flow(SessionOf(session));
    if (!flow.Entered()) return -1;
    return Guarded("StartRestoreBrt", -1, [&] { return fennix::RunRestoreBrt(*SessionOf(session)); });
}

FENNIX_API int32_t FENNIX_CALL DuckToNVArray(FennixHandle session, const char* duckPath) {
    if (!session) return 0;
    fennix::CFlowEntry flow(SessionOf(session));
    if (!flow.Entered()) return 0;
    fennix::CQualCmd& s = *SessionOf(session);
    const int32_t result = Guarded("DuckToNVArray", 0, [&] {
        return fennix::LoadDuckFile(duckPath ? duckPath : "", s.NumberedItems(), s.NamedItems());
    });
    if (result == 0) {
        // Whatever stopped the import, nothing of it may be sent.
        s.NumberedItems().RemoveAll();
        s.NamedItems().RemoveAll();
    }
    return result;
}

FENNIX_API int32_t FENNIX_CALL NVArrayToMobile(FennixHandle session) {
    if (!session) return 0;
    fennix::CFlowEntry flow(SessionOf(session));
    if (!flow.Entered()) return 0;
    return Guarded("NVArrayToMobile", 0, [&] { return fennix::SendItemLists(*SessionOf(session)); });
}

}  // extern "C"
