#include "session/NvSession.h"

#include "log/Log.h"
#include "nv/BrtBackup.h"
#include "nv/BrtRestore.h"
#include "nv/ItemListDownload.h"
#include "nv/NvCommands.h"
#include "session/QualCmd.h"

namespace fennix {

namespace {

NvReporter ReporterOf(const CQualCmd& session) {
    return [&session](const char* text, int32_t status) { session.Report(text, status); };
}

// The end of an NV flow: success is reported before the port closes, a
// failure after it.
int32_t FinishNvFlow(CQualCmd& session, bool succeeded, const char* success, const char* failure) {
    if (succeeded) {
        session.Report(success, 0);
        session.ClosePort();
        return 1;
    }
    session.ClosePort();
    session.Report(failure, -1);
    return -1;
}

}  // namespace

int32_t RunBackupBrt(CQualCmd& session) {
    return session.RunFlow(CQualCmd::Flow::BackupBrt, [&session] {
        CNvCommands nv(session.Link(), session.Times().replyWait);
        const bool ok = BackupBrt(nv, session.CsvPath(), session.BrtPath(), ReporterOf(session));
        return FinishNvFlow(session, ok, "BackupBrt Success!!", "BackupBrt Failed!!");
    });
}

int32_t RunRestoreBrt(CQualCmd& session) {
    return session.RunFlow(CQualCmd::Flow::RestoreBrt, [&session] {
        CNvCommands nv(session.Link(), session.Times().replyWait);
        const bool ok = RestoreBrt(nv, session.BrtPath(), ReporterOf(session));
        return FinishNvFlow(session, ok, "RestoreBrt Success!!", "RestoreBrt Failed!!");
    });
}

int32_t SendItemLists(CQualCmd& session) {
    constexpr const char* kFunction = "SendItemLists";
    CQualCmd::FrameEnd end = CQualCmd::FrameEnd::Body;
    const int32_t result = session.RunFlow(
        CQualCmd::Flow::SendItemLists,
        [&session] {
            CNvCommands nv(session.Link(), session.Times().replyWait);
            NvFailedItem failed{session.LastFailedItemText(), session.LastFailedItemId()};
            const int32_t sent = SendItemListsToDevice(nv, session.NumberedItems(), session.NamedItems(), failed);
            session.LastFailedItemText() = failed.text;
            session.LastFailedItemId() = failed.id;
            return sent;
        },
        &end);
    // Nothing was sent when the frame ended before the body, so none of
    // those ends may read as a success.
    switch (end) {
        case CQualCmd::FrameEnd::Body: return result;
        case CQualCmd::FrameEnd::NoPort: session.ClosePort(); break;
        case CQualCmd::FrameEnd::OpenFailed:
            LogPortLine(kLogError, session.PortName().c_str(), kFunction, "Open port failed");
            break;
        case CQualCmd::FrameEnd::ModeFailed:
            LogPortLine(kLogError, session.PortName().c_str(), kFunction, "Change to DIAG mode failed");
            break;
    }
    return 0;
}

}  // namespace fennix
