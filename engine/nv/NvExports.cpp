// The exported functions of the NV flows. A handle is the session that
// SetComPort returned; a null handle does nothing and reports failure.
#include "download/QualCmd.h"
#include "fennix/fennix.h"
#include "nv/DuckFile.h"
#include "nv/NvSession.h"

namespace {

fennix::CQualCmd* SessionOf(FennixHandle handle) { return static_cast<fennix::CQualCmd*>(handle); }

}  // namespace

extern "C" {

FENNIX_API int32_t FENNIX_CALL SetCsvBrtFile(FennixHandle session, const char* csvPath, const char* brtPath) {
    if (!session) return -1;
    SessionOf(session)->SetCsvBrtPaths(csvPath, brtPath);
    return 0;
}

FENNIX_API int32_t FENNIX_CALL StartBackupBrt(FennixHandle session) {
    return session ? fennix::RunBackupBrt(*SessionOf(session)) : -1;
}

FENNIX_API int32_t FENNIX_CALL StartRestoreBrt(FennixHandle session) {
    return session ? fennix::RunRestoreBrt(*SessionOf(session)) : -1;
}

FENNIX_API int32_t FENNIX_CALL DuckToNVArray(FennixHandle session, const char* duckPath) {
    if (!session) return 0;
    fennix::CQualCmd& s = *SessionOf(session);
    return fennix::LoadDuckFile(duckPath ? duckPath : "", s.NumberedItems(), s.NamedItems());
}

FENNIX_API int32_t FENNIX_CALL NVArrayToMobile(FennixHandle session) {
    return session ? fennix::SendItemLists(*SessionOf(session)) : 0;
}

}  // extern "C"
