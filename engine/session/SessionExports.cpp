// The exported session functions: create a session, fill in its paths,
// options and callback, run the download, destroy it. No exception leaves the
// library: a failure becomes a negative result (or a null handle). A handle
// that is not a live session touches nothing. Close may come from another
// thread while a flow runs: it stops the flow first.
#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>

#include "serial/SerCOMLibrary.h"
#include "session/ExportGuard.h"
#include "session/ExportResults.h"
#include "session/NvSession.h"

using fennix::CQualCmd;
using fennix::GuardedFlow;

int32_t fennix::DeviceInfoResultCode(const FlowOutcome& outcome) { return outcome.Succeeded() ? 1 : -1; }

int32_t fennix::FlowResultCode(const FlowOutcome& outcome) {
    switch (outcome.result) {
        case FlowResult::Succeeded: return 1;
        case FlowResult::ResetFailed: return -2;
        case FlowResult::LinkFailed: return outcome.linkResult;
        case FlowResult::Failed:
        default: return -1;
    }
}

extern "C" {

FENNIX_API FennixHandle FENNIX_CALL SetComPort(const char* portName) {
    try {
        // The factor of FENNIX_TIME_SCALE is taken once, for the port and the session alike.
        const fennix::Timeouts times = fennix::Timeouts::FromEnvironment();
        auto session = std::make_unique<CQualCmd>(std::make_unique<fennix::CSerCOMLibrary>(times), times);
        session->SetPortName(portName);
        return fennix::RegisterSession(std::move(session));
    } catch (...) {
        fennix::RethrowThreadUnwind();
        fennix::LogFuncLine(fennix::kLogError, "SetComPort", "Can not create a session.");
        return nullptr;
    }
}

FENNIX_API int32_t FENNIX_CALL SetHexFile(FennixHandle session, const char* programmerPath) {
    return GuardedFlow(session, "SetHexFile", -1, [&](CQualCmd& s) {
        s.SetProgrammerPath(programmerPath);
        return 1;
    });
}

FENNIX_API int32_t FENNIX_CALL SetMbnFile(FennixHandle session, const char* partition, const char* obl, const char* pbl,
                                          const char* qcsblhd, const char* qcsbl, const char* oemsblhd,
                                          const char* oemsbl, const char* amsshd, const char* amss, const char* cefs) {
    return GuardedFlow(session, "SetMbnFile", -1, [&](CQualCmd& s) {
        s.SetImagePaths(partition, obl, pbl, qcsblhd, qcsbl, oemsblhd, oemsbl, amsshd, amss, cefs);
        return 0;
    });
}

FENNIX_API int32_t FENNIX_CALL SetSkipCheck(FennixHandle session) {
    return GuardedFlow(session, "SetSkipCheck", -1, [](CQualCmd& s) {
        s.SetSkipCheck();
        return 0;
    });
}

FENNIX_API int32_t FENNIX_CALL SetStreaming(FennixHandle session, int32_t window, int32_t blockAuto) {
    return GuardedFlow(session, "SetStreaming", -1, [&](CQualCmd& s) {
        if (window < 0 || window > 0xFFFF || (blockAuto != 0 && blockAuto != 1)) return -1;
        s.SetStreaming(fennix::StreamSettings{static_cast<uint16_t>(window), blockAuto == 1});
        return 0;
    });
}

FENNIX_API int32_t FENNIX_CALL SetCallBack(FennixHandle session, ProgressCallback callback) {
    return GuardedFlow(session, "SetCallBack", -1, [&](CQualCmd& s) {
        s.SetCallback(callback);
        return 0;
    });
}

FENNIX_API int32_t FENNIX_CALL SetEventCallback(FennixHandle session, FennixEventCallback callback, void* context) {
    return GuardedFlow(session, "SetEventCallback", -1, [&](CQualCmd& s) {
        s.SetEventCallback(callback, context);
        return 0;
    });
}

FENNIX_API int32_t FENNIX_CALL StartDownload(FennixHandle session) {
    return GuardedFlow(session, "StartDownload", -1, [](CQualCmd& s) {
        const fennix::FlowOutcome outcome = s.StartDownload();
        return s.EndFlow(outcome, fennix::FlowResultCode(outcome));
    });
}

FENNIX_API int32_t FENNIX_CALL ReadDeviceInfo(FennixHandle session, FennixDeviceInfo* info) {
    return GuardedFlow(session, "ReadDeviceInfo", -1, [&](CQualCmd& s) {
        // The caller's structure may be older (smaller) than ours: only what it
        // holds is written, and it must hold at least the three items.
        if (info == nullptr || info->size < offsetof(FennixDeviceInfo, meid) + sizeof info->meid) return -1;
        FennixDeviceInfo read{};
        const fennix::FlowOutcome outcome = fennix::ReadDeviceInfo(s, read);
        const uint32_t size = info->size;
        std::memcpy(info, &read, std::min<size_t>(size, sizeof read));
        info->size = size;
        return s.EndFlow(outcome, fennix::DeviceInfoResultCode(outcome));
    });
}

FENNIX_API int32_t FENNIX_CALL Close(FennixHandle session) {
    fennix::CloseSession(session);
    return 0;
}

}  // extern "C"
