#include "download/DownloadSequence.h"

#include "log/Log.h"
#include "serial/ResultCodes.h"

namespace fennix {

namespace {

// The cause of a step's negative result: a file of this computer, Close, a
// device that did not answer at all (the request's wait ran out, or the
// request could not be written), or else the device's refusal of the step.
Cause CauseOfStep(int32_t result, Cause fileFault, Cause refusal) {
    if (fileFault != Cause::None) return fileFault;
    if (result == kPacketCancelled) return Cause::Cancelled;
    if (result == kPacketTimeout || result == kPacketWriteRefused) return Cause::StoppedAnswering;
    return refusal;
}

}  // namespace

struct CDownloadSequence::ImageStep {
    uint8_t type;
    const char* name;
    std::string DownloadSettings::*body;
    std::string DownloadSettings::*header;  // null: the step has no header
    const char* failedLine;                 // null: the step reports no failure of its own
    const char* successLine;
};

// In the order the images go into flash.
const CDownloadSequence::ImageStep CDownloadSequence::kImageSteps[] = {
    {7, "OBL", &DownloadSettings::obl, nullptr, "Download OBL File Failed!!", "Download OBL File Success!!"},
    {1, "PBL", &DownloadSettings::pbl, nullptr, "Download PBL File Failed!!", "Download PBL File Success!!"},
    {2, "QCSBLHD", &DownloadSettings::qcsblhd, nullptr, "Download QCSBLHD File Failed!!",
     "Download QCSBLHD File Success!!"},
    {3, "QCSBL", &DownloadSettings::qcsbl, nullptr, "Download QCSBL File Failed!!", "Download QCSBL File Success!!"},
    {4, "OEMSBL", &DownloadSettings::oemsbl, &DownloadSettings::oemsblhd, nullptr,
     "Download OEMSBLHD and OEMSBL File Success!!"},
    {5, "AMSS", &DownloadSettings::amss, &DownloadSettings::amsshd, "Download AMSSHD and AMSS File Failed!!",
     "Download AMSSHD and AMSS File Success!!"},
    {10, "AMSSBOOT", &DownloadSettings::amssboot, &DownloadSettings::amssboothd,
     "Download AMSSBOOTHD and AMSSBOOT File Failed!!", "Download AMSSHDBOOTHD and AMSSBOOT File Success!!"},
    {12, "WINMOBILE", &DownloadSettings::windowsMobile, nullptr, "Download Windows Mobile File Failed!!",
     "Download Windows Mobile File Success!!"},
    {9, "CEFS", &DownloadSettings::cefs, nullptr, "Download CEFS File Failed!!", "Download CEFS File Success!!"},
};

FlowOutcome CDownloadSequence::FailBeforeReset(FlowOutcome outcome, const char* line) {
    streaming_.Reset();
    flow_.ClosePort();
    if (line) flow_.Report(line, -1);
    return outcome;
}

FlowOutcome CDownloadSequence::Run() {
    flow_.EnterStage(Stage::Programmer);
    int32_t r = dmss_.RunProgrammerStage(settings_.programmer);
    // Whatever failed in this stage, the programmer did not get to run.
    if (r < 0) return FlowOutcome::OfStep(r, CauseOfStep(r, dmss_.FileFault(), Cause::ProgrammerRefused));

    // The first hello after go may meet a programmer that is still starting;
    // only the second one counts. Unanswered, it means that the programmer
    // did not start.
    flow_.EnterStage(Stage::Hello);
    streaming_.Hello();
    r = streaming_.Hello();
    const auto programmerFailed = [&] {
        return FlowOutcome::OfStep(r, r == kPacketCancelled ? Cause::Cancelled : Cause::ProgrammerRefused);
    };
    if (r < 0) return FailBeforeReset(programmerFailed(), "Hello Failed!!");
    flow_.Report("Hello Success!!", 0);

    // Without a primary boot loader to write, the device boots trusted images only.
    r = streaming_.SendSecurity(settings_.pbl.empty() ? 1 : 0);
    if (r < 0) return FailBeforeReset(programmerFailed(), "Send Security Failed!!");
    flow_.Report("Send Security Success!!", 0);

    if (settings_.partition.empty()) return FailBeforeReset(FlowOutcome::Success(), nullptr);
    flow_.EnterStage(Stage::PartitionTable);
    r = streaming_.DownloadPartitionFile(settings_.partition);
    if (r < 0)
        return FailBeforeReset(FlowOutcome::OfStep(r, CauseOfStep(r, streaming_.FileFault(), streaming_.Refusal())),
                               "Download Partition.mbn File Failed!!");
    flow_.Report("Download Partition.mbn File Success!!", 0);

    const FlowOutcome images = DownloadImages();
    if (!images.Succeeded()) return FailBeforeReset(images, nullptr);

    flow_.EnterStage(Stage::Reset);
    r = streaming_.Reset();
    flow_.Report("Reset !! Please Wait....", 0);
    if (r < 0) {
        flow_.ClosePort();
        flow_.Report("Reset Failed....", -1);
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
        const int32_t r = streaming_.DownloadImage(step.type, body, header, place, step.name);
        if (r < 0) {
            if (step.failedLine) flow_.Report(step.failedLine, -1);
            return FlowOutcome::OfStep(r, CauseOfStep(r, streaming_.FileFault(), streaming_.Refusal()));
        }
        flow_.Report(step.successLine, 0);
    }
    return FlowOutcome::Success();
}

FlowOutcome CDownloadSequence::FinishAfterReset() {
    if (settings_.skipCheck) {
        flow_.Pause(flow_.Times().skipCheckPause);
        if (flow_.Cancelled()) {
            // Closed before the device had its time to come up: not a success.
            flow_.ClosePort();
            flow_.Report("Download Process Failed!!", -1);
            return FlowOutcome::OfStep(kPacketCancelled, Cause::Cancelled);
        }
        flow_.ClosePort();
        flow_.Report("Skip Checking POWER_ON Status...!!", 0);
        flow_.Report("Download Process Success!!", 0);
        return FlowOutcome::Success();
    }
    // The device reboots into DIAG mode; its port may vanish for a while.
    flow_.ClosePort();
    flow_.ReopenPort();
    flow_.Pause(flow_.Times().powerOnPause);
    flow_.EnterStage(Stage::PowerOnCheck);
    flow_.Link().IsDIAGConnected();
    const int32_t r = CheckPowerOn();
    if (r < 0) {
        flow_.ClosePort();
        flow_.Report("Download Process Failed!!", -1);
        return FlowOutcome::OfStep(r, flow_.Cancelled() ? Cause::Cancelled : Cause::NotBackAfterReset);
    }
    flow_.Report("", 0);
    flow_.Report("Download Process Success!!", 0);
    flow_.ClosePort();
    return FlowOutcome::Success();
}

int32_t CDownloadSequence::CheckPowerOn() {
    constexpr uint8_t kLoopback = 0x7B;
    uint8_t packet[11] = {kLoopback};
    for (uint8_t i = 0; i < 10; ++i) packet[1 + i] = i;
    uint8_t reply[11] = {};
    flow_.Link().DIAGTxRx(packet, sizeof packet, reply, sizeof reply, flow_.Times().replyWait);
    if (reply[0] == kLoopback) return 1;
    flow_.DrainReplies();
    return -1;
}

}  // namespace fennix
