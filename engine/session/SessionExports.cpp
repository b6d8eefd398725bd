// The exported session functions: create a session, fill in its paths,
// options and callback, run the download, destroy it. No exception leaves the
// library: a failure becomes a negative result (or a null handle). Close may
// come from another thread while a flow runs: it stops the flow first.
#include <new>

#include "session/ExportGuard.h"

using fennix::CQualCmd;
using fennix::Guarded;
using fennix::SessionOf;

extern "C" {

FENNIX_API FennixHandle FENNIX_CALL SetComPort(const char* portName) {
    try {
        // The factor of FENNIX_TIME_SCALE is taken once, for the port and the session alike.
        const fennix::Timeouts times = fennix::Timeouts::FromEnvironment();
        auto* session = new CQualCmd(fennix::MakeSerialSessionLink(times), times);
        session->SetPortName(portName);
        fennix::RegisterSession(session);
        return session;
    } catch (...) {
        fennix::LogFuncLine(fennix::kLogError, "SetComPort", "Can not create a session.");
        return nullptr;
    }
}

FENNIX_API int32_t FENNIX_CALL SetHexFile(FennixHandle session, const char* programmerPath) {
    if (!session) return -1;
    return Guarded("SetHexFile", -1, [&] {
        SessionOf(session)->SetProgrammerPath(programmerPath);
        return 1;
    });
}

FENNIX_API int32_t FENNIX_CALL SetMbnFile(FennixHandle session, const char* partition, const char* obl, const char* pbl,
                                          const char* qcsblhd, const char* qcsbl, const char* oemsblhd,
                                          const char* oemsbl, const char* amsshd, const char* amss, const char* cefs) {
    if (!session) return -1;
    return Guarded("SetMbnFile", -1, [&] {
        SessionOf(session)->SetImagePaths(partition, obl, pbl, qcsblhd, qcsbl, oemsblhd, oemsbl, amsshd, amss, cefs);
        return 0;
    });
}

FENNIX_API int32_t FENNIX_CALL SetSkipCheck(FennixHandle session) {
    if (!session) return -1;
    SessionOf(session)->SetSkipCheck();
    return 0;
}

FENNIX_API int32_t FENNIX_CALL SetCallBack(FennixHandle session, ProgressCallback callback) {
    if (!session) return -1;
    SessionOf(session)->SetCallback(callback);
    return 0;
}

FENNIX_API int32_t FENNIX_CALL StartDownload(FennixHandle session) {
    return fennix::GuardedFlow(session, "StartDownload", -1, [](CQualCmd& s) { return s.StartDownload(); });
}

FENNIX_API int32_t FENNIX_CALL Close(FennixHandle session) {
    // A flow running on the session is stopped first; a second Close that
    // comes meanwhile leaves the freeing to the first.
    if (session && fennix::UnregisterSession(SessionOf(session))) delete SessionOf(session);
    return 0;
}

}  // extern "C"
