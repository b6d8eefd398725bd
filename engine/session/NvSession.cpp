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
FlowOutcome FinishNvFlow(CQualCmd& session, const FlowOutcome& outcome, const char* success, const char* failure) {
    if (outcome.Succeeded()) {
        session.Report(success, 0);
        session.ClosePort();
        return outcome;
    }
    session.ClosePort();
    session.Report(failure, -1);
    return outcome;
}

}  // namespace

FlowOutcome RunBackupBrt(CQualCmd& session) {
    return session.RunFlow(CQualCmd::Flow::BackupBrt, [&session] {
        CNvCommands nv(session.Link(), session.Times().replyWait);
        const FlowOutcome outcome = BackupBrt(nv, session.CsvPath(), session.BrtPath(), ReporterOf(session), session);
        return FinishNvFlow(session, outcome, "BackupBrt Success!!", "BackupBrt Failed!!");
    });
}

FlowOutcome RunRestoreBrt(CQualCmd& session) {
    return session.RunFlow(CQualCmd::Flow::RestoreBrt, [&session] {
        CNvCommands nv(session.Link(), session.Times().replyWait);
        const FlowOutcome outcome = RestoreBrt(nv, session.BrtPath(), ReporterOf(session), session);
        return FinishNvFlow(session, outcome, "RestoreBrt Success!!", "RestoreBrt Failed!!");
    });
}

FlowOutcome SendItemLists(CQualCmd& session) {
    constexpr const char* kFunction = "SendItemLists";
    CQualCmd::FrameEnd end = CQualCmd::FrameEnd::Body;
    const FlowOutcome result = session.RunFlow(
        CQualCmd::Flow::SendItemLists,
        [&session] {
            CNvCommands nv(session.Link(), session.Times().replyWait);
            NvFailedItem failed{session.LastFailedItemText(), session.LastFailedItemId()};
            const FlowOutcome sent =
                SendItemListsToDevice(nv, session.NumberedItems(), session.NamedItems(), failed, session);
            session.LastFailedItemText() = failed.text;
            session.LastFailedItemId() = failed.id;
            return sent;
        },
        &end);
    // A frame that ended before the body tells the operator nothing: the log says where.
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
    return result;
}

}  // namespace fennix
