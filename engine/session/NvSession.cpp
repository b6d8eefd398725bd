#include "session/NvSession.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "log/Log.h"
#include "nv/BrtBackup.h"
#include "nv/BrtRestore.h"
#include "nv/DeviceIdentity.h"
#include "nv/ItemListDownload.h"
#include "nv/NvCommands.h"
#include "serial/ModeSwitchTables.h"
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

FennixMode ModeOf(uint32_t phoneMode) {
    switch (phoneMode) {
        case kPhoneModeAt: return FENNIX_MODE_AT;
        case kPhoneModeDIAG: return FENNIX_MODE_DIAG;
        case kPhoneModeDL: return FENNIX_MODE_DOWNLOAD;
        default: return FENNIX_MODE_UNKNOWN;
    }
}

// The group the download switch would take, from the platform ID the build
// ID text starts with; -1 without a build ID.
int32_t GroupOf(const std::string& buildId) {
    if (buildId.empty()) return -1;
    std::string id = buildId.substr(0, kPlatformIdLength);
    std::transform(id.begin(), id.end(), id.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return PlatformGroupOf(id.c_str()) == PlatformGroup::Group6280 ? 1 : 0;
}

// A text cut to the field, always terminated.
template <size_t N>
void CopyText(char (&field)[N], const std::string& text) {
    const size_t length = std::min(text.size(), N - 1);
    std::memcpy(field, text.data(), length);
    field[length] = '\0';
}

void FillInfo(const DeviceIdentity& id, FennixDeviceInfo& info) {
    info.group = GroupOf(id.buildId);
    info.imeiValid = id.imeiValid ? 1 : 0;
    CopyText(info.esn, id.esn);
    CopyText(info.imei, id.imei);
    CopyText(info.meid, id.meid);
    CopyText(info.compileDate, id.compileDate);
    CopyText(info.compileTime, id.compileTime);
    CopyText(info.releaseDate, id.releaseDate);
    CopyText(info.releaseTime, id.releaseTime);
    CopyText(info.versionDir, id.versionDir);
    CopyText(info.buildId, id.buildId);
    CopyText(info.model, id.model);
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

FlowOutcome ReadDeviceInfo(CQualCmd& session, FennixDeviceInfo& info) {
    info.group = -1;
    CQualCmd::FrameEnd end = CQualCmd::FrameEnd::Body;
    const FlowOutcome result = session.RunFlow(
        CQualCmd::Flow::DeviceInfo,
        [&] {
            info.mode = ModeOf(session.Link().FoundPhoneMode());
            session.EnterStage(Stage::NvItem);
            DeviceIdentity id;
            const IdentityRead read = ReadDeviceIdentity(session.Link(), session.Times().replyWait, id);
            session.ClosePort();
            if (read == IdentityRead::Lost) return FlowOutcome::Failure(Cause::StoppedAnswering);
            FillInfo(id, info);
            return FlowOutcome::Success();
        },
        &end);
    if (end == CQualCmd::FrameEnd::ModeFailed) {
        info.mode = ModeOf(session.Link().FoundPhoneMode());
        // A downloading device is not switched: that it is there is the answer.
        if (result.linkResult == static_cast<int32_t>(PacketResult::ModeIsDL)) return FlowOutcome::Success();
    }
    return result;
}

}  // namespace fennix
