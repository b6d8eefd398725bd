#include "console/win32/ExportSessionCalls.h"

#include "fennix/fennix.h"

namespace tarnwell {

// The results of the exports are not looked at: what went wrong reaches the
// operator as progress lines.

FennixHandle ExportSessionCalls::OpenSession(const char* portName) { return ::SetComPort(portName); }

void ExportSessionCalls::SetCallBack(FennixHandle session, ProgressCallback callback) {
    ::SetCallBack(session, callback);
}

void ExportSessionCalls::SetSkipCheck(FennixHandle session) { ::SetSkipCheck(session); }

void ExportSessionCalls::SetHexFile(FennixHandle session, const char* programmerPath) {
    ::SetHexFile(session, programmerPath);
}

void ExportSessionCalls::SetMbnFile(FennixHandle session, const ImagePaths& images) {
    auto p = [&](ImageRow row) { return images[row].c_str(); };
    ::SetMbnFile(session, p(ImageRow::Partition), p(ImageRow::Obl), p(ImageRow::Pbl), p(ImageRow::Qcsblhd),
                 p(ImageRow::Qcsbl), p(ImageRow::Oemsblhd), p(ImageRow::Oemsbl), p(ImageRow::Amsshd), p(ImageRow::Amss),
                 p(ImageRow::Cefs));
}

void ExportSessionCalls::StartDownload(FennixHandle session) { ::StartDownload(session); }

void ExportSessionCalls::CloseSession(FennixHandle session) { ::Close(session); }

}  // namespace tarnwell
