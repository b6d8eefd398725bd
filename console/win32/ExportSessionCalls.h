// The worker's session calls, made through Fennix.dll's exports.
#pragma once

#include "console/WorkerSequence.h"

namespace tarnwell {

class ExportSessionCalls : public SessionCalls {
public:
    FennixHandle OpenSession(const char* portName) override;
    void SetCallBack(FennixHandle session, ProgressCallback callback) override;
    void SetSkipCheck(FennixHandle session) override;
    void SetHexFile(FennixHandle session, const char* programmerPath) override;
    void SetMbnFile(FennixHandle session, const ImagePaths& images) override;
    void StartDownload(FennixHandle session) override;
    void CloseSession(FennixHandle session) override;
};

}  // namespace tarnwell
