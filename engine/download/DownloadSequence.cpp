#include "download/DownloadSequence.h"

#include <algorithm>

#include "log/Log.h"
#include "serial/ResultCodes.h"

namespace fennix {

namespace {

// The cause of a failed step: a file of this computer, Close, a device that
// did not answer at all (the request's wait ran out, the request could not
// be written, or the listener sees the device out of download mode), or
// else the device's refusal of the step: it answered, but not with the
// step's acknowledgement.
Cause CauseOfStep(StepResult result, Cause fileFault, Cause refusal) {
    if (fileFault != Cause::None) return fileFault;
    if (result.status != StepStatus::LinkFailed) return refusal;
    if (result.link == PacketResult::Cancelled) return Cause::Cancelled;
    if (result.link == PacketResult::Timeout || result.link == PacketResult::WriteRefused ||
        result.link == PacketResult::WrongMode)
        return Cause::StoppedAnswering;
    return refusal;
}

// How the flow ends on a failed step; a failed exchange keeps the packet
// layer's result for the caller.
FlowOutcome OutcomeOf(StepResult result, Cause why) {
    if (result.status == StepStatus::LinkFailed)
        return FlowOutcome::LinkFailure(static_cast<int32_t>(result.link), why);
    return FlowOutcome::Failure(why);
}

}  // namespace

struct CDownloadSequence::ImageStep {
    uint8_t type;
    const char* name;
    std::string DownloadSettings::*body;
    std::string DownloadSettings::*header;  // null: the step has no header
    OperatorLine failedLine;                // None: the step reports no failure of its own
    OperatorLine successLine;
};

// In the order the images go into flash.
const CDownloadSequence::ImageStep CDownloadSequence::kImageSteps[] = {
    {7, "OBL", &DownloadSettings::obl, nullptr, OperatorLine::OblFailed, OperatorLine::OblSucceeded},
    {1, "PBL", &DownloadSettings::pbl, nullptr, OperatorLine::PblFailed, OperatorLine::PblSucceeded},
    {2, "QCSBLHD", &DownloadSettings::qcsblhd, nullptr, OperatorLine::QcsblhdFailed, OperatorLine::QcsblhdSucceeded},
    {3, "QCSBL", &DownloadSettings::qcsbl, nullptr, OperatorLine::QcsblFailed, OperatorLine::QcsblSucceeded},
    {4, "OEMSBL", &DownloadSettings::oemsbl, &DownloadSettings::oemsblhd, OperatorLine::None,
     OperatorLine::OemsblSucceeded},
    {5, "AMSS", &DownloadSettings::amss, &DownloadSettings::amsshd, OperatorLine::AmssFailed,
     OperatorLine::AmssSucceeded},
    {10, "AMSSBOOT", &DownloadSettings::amssboot, &DownloadSettings::amssboothd, OperatorLine::AmssBootFailed,
     OperatorLine::AmssBootSucceeded},
    {12, "WINMOBILE", &DownloadSettings::windowsMobile, nullptr, OperatorLine::WindowsMobileFailed,
     OperatorLine::WindowsMobileSucceeded},
    {9, "CEFS", &DownloadSettings::cefs, nullptr, OperatorLine::CefsFailed, OperatorLine::CefsSucceeded},
};

FlowOutcome CDownloadSequence::FailBeforeReset(FlowOutcome outcome, OperatorLine line) {
    streaming_.Reset();
    flow_.ClosePort();
    flow_.Say(line);
    return outcome;
}

FlowOutcome CDownloadSequence::Run() {
    flow_.EnterStage(Stage::Programmer);
    StepResult r = dmss_.RunProgrammerStage(settings_.programmer);
    // Whatever failed in this stage, the programmer did not get to run.
    if (!r.IsDone()) return OutcomeOf(r, CauseOfStep(r, dmss_.FileFault(), Cause::ProgrammerRefused));

    // The first hello after go may meet a programmer that is still starting;
    // only the second one counts. Unanswered, it means that the programmer
    // did not start.
    flow_.EnterStage(Stage::Hello);
    streaming_.Hello();
    r = streaming_.Hello();
    const auto programmerFailed = [&] {
        const bool cancelled = r.status == StepStatus::LinkFailed && r.link == PacketResult::Cancelled;
        return OutcomeOf(r, cancelled ? Cause::Cancelled : Cause::ProgrammerRefused);
    };
    if (!r.IsDone()) return FailBeforeReset(programmerFailed(), OperatorLine::HelloFailed);
    flow_.Say(OperatorLine::HelloSucceeded);
    streaming_.UseStreaming(settings_.stream);

    // Without a primary boot loader to write, the device boots trusted images only.
    r = streaming_.SendSecurity(settings_.pbl.empty() ? 1 : 0);
    if (!r.IsDone()) return FailBeforeReset(programmerFailed(), OperatorLine::SecurityFailed);
    flow_.Say(OperatorLine::SecuritySucceeded);

    if (settings_.partition.empty()) return FailBeforeReset(FlowOutcome::Success(), OperatorLine::None);
    flow_.EnterStage(Stage::PartitionTable);
    r = streaming_.DownloadPartitionFile(settings_.partition);
    if (!r.IsDone())
        return FailBeforeReset(OutcomeOf(r, CauseOfStep(r, streaming_.FileFault(), streaming_.Refusal())),
                               OperatorLine::PartitionFailed);
    flow_.Say(OperatorLine::PartitionSucceeded);

    const FlowOutcome images = DownloadImages();
    if (!images.Succeeded()) return FailBeforeReset(images, OperatorLine::None);

    flow_.EnterStage(Stage::Reset);
    r = streaming_.Reset();
    flow_.Say(OperatorLine::ResetWait);
    if (!r.IsDone()) {
        flow_.ClosePort();
        flow_.Say(OperatorLine::ResetFailed);
        return {FlowResult::ResetFailed, CauseOfStep(r, Cause::None, Cause::DeviceRefused), 0};
    }
    return FinishAfterReset();
}

FlowOutcome CDownloadSequence::DownloadImages() {
    for (const ImageStep& step : kImageSteps) {
        const std::string& body = settings_.*step.body;
        const std::string empty;
        const std::string& header = step.header ? settings_.*step.header : empty;
        if (body.empty() || (step.header && header.empty())) continue;
        const auto place = static_cast<int32_t>(&step - kImageSteps);
        const StepResult r = streaming_.DownloadImage(step.type, body, header, place, step.name);
        if (!r.IsDone()) {
            flow_.Say(step.failedLine);
            return OutcomeOf(r, CauseOfStep(r, streaming_.FileFault(), streaming_.Refusal()));
        }
        flow_.Say(step.successLine);
    }
    return FlowOutcome::Success();
}

FlowOutcome CDownloadSequence::FinishAfterReset() {
    if (settings_.skipCheck) {
        flow_.Pause(flow_.Times().skipCheckPause);
        if (flow_.Cancelled()) {
            // Closed before the device had its time to come up: not a success.
            flow_.ClosePort();
            flow_.Say(OperatorLine::ProcessFailed);
            return FlowOutcome::LinkFailure(static_cast<int32_t>(PacketResult::Cancelled), Cause::Cancelled);
        }
        flow_.ClosePort();
        flow_.Say(OperatorLine::SkipCheck);
        flow_.Say(OperatorLine::ProcessSucceeded);
        return FlowOutcome::Success();
    }
    // The device reboots into DIAG mode; its port may vanish for a while.
    flow_.ClosePort();
    flow_.ReopenPort();
    flow_.Pause(flow_.Times().powerOnPause);
    flow_.EnterStage(Stage::PowerOnCheck);
    AwaitReboot();
    if (!CheckPowerOn()) {
        flow_.ClosePort();
        flow_.Say(OperatorLine::ProcessFailed);
        return FlowOutcome::Failure(flow_.Cancelled() ? Cause::Cancelled : Cause::NotBackAfterReset);
    }
    flow_.Say(OperatorLine::Blank);
    flow_.Say(OperatorLine::ProcessSucceeded);
    flow_.ClosePort();
    return FlowOutcome::Success();
}

// A device may answer in download mode for a moment after its reset: the port
// reopened and the probe answered before the device left the bus. That is the
// device before its reboot, not a device that failed to come back.
void CDownloadSequence::AwaitReboot() {
    const uint32_t poll = std::max<uint32_t>(flow_.Times().diagDetectionPoll, 1);
    const uint32_t polls = flow_.Times().powerOnPause / poll;
    for (uint32_t i = 0; flow_.Link().IsDIAGConnected() == PacketResult::ModeIsDL && i < polls; ++i) {
        if (flow_.Cancelled()) return;
        flow_.Pause(poll);
    }
}

bool CDownloadSequence::CheckPowerOn() {
    constexpr uint8_t kLoopback = 0x7B;
    uint8_t packet[11] = {kLoopback};
    for (uint8_t i = 0; i < 10; ++i) packet[1 + i] = i;
    uint8_t reply[11] = {};
    flow_.Link().DIAGTxRx(packet, sizeof packet, reply, sizeof reply, flow_.Times().replyWait);
    if (reply[0] == kLoopback) return true;
    flow_.DrainReplies();
    return false;
}

}  // namespace fennix
