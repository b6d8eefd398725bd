#include "session/QualCmd.h"

#include <chrono>

#include "flow/FlowTexts.h"
#include "log/Log.h"

namespace fennix {

#define FENNIX_SAME_VALUE(internal, exported) \
    static_assert(static_cast<int32_t>(internal) == (exported), #internal " is " #exported)
FENNIX_SAME_VALUE(Stage::None, FENNIX_STAGE_NONE);
FENNIX_SAME_VALUE(Stage::Open, FENNIX_STAGE_OPEN);
FENNIX_SAME_VALUE(Stage::ModeSwitch, FENNIX_STAGE_MODE_SWITCH);
FENNIX_SAME_VALUE(Stage::Programmer, FENNIX_STAGE_PROGRAMMER);
FENNIX_SAME_VALUE(Stage::Hello, FENNIX_STAGE_HELLO);
FENNIX_SAME_VALUE(Stage::PartitionTable, FENNIX_STAGE_PARTITION_TABLE);
FENNIX_SAME_VALUE(Stage::ImageOpen, FENNIX_STAGE_IMAGE_OPEN);
FENNIX_SAME_VALUE(Stage::ImageWrite, FENNIX_STAGE_IMAGE_WRITE);
FENNIX_SAME_VALUE(Stage::ImageClose, FENNIX_STAGE_IMAGE_CLOSE);
FENNIX_SAME_VALUE(Stage::Reset, FENNIX_STAGE_RESET);
FENNIX_SAME_VALUE(Stage::PowerOnCheck, FENNIX_STAGE_POWER_ON_CHECK);
FENNIX_SAME_VALUE(Stage::NvItem, FENNIX_STAGE_NV_ITEM);
FENNIX_SAME_VALUE(Stage::File, FENNIX_STAGE_FILE);
FENNIX_SAME_VALUE(Cause::None, FENNIX_CAUSE_NONE);
FENNIX_SAME_VALUE(Cause::PortMissing, FENNIX_CAUSE_PORT_MISSING);
FENNIX_SAME_VALUE(Cause::PortBusy, FENNIX_CAUSE_PORT_BUSY);
FENNIX_SAME_VALUE(Cause::PortForbidden, FENNIX_CAUSE_PORT_FORBIDDEN);
FENNIX_SAME_VALUE(Cause::NoAnswer, FENNIX_CAUSE_NO_ANSWER);
FENNIX_SAME_VALUE(Cause::ModeSwitchFailed, FENNIX_CAUSE_MODE_SWITCH_FAILED);
FENNIX_SAME_VALUE(Cause::ProgrammerRefused, FENNIX_CAUSE_PROGRAMMER_REFUSED);
FENNIX_SAME_VALUE(Cause::ImageOpenRefused, FENNIX_CAUSE_IMAGE_OPEN_REFUSED);
FENNIX_SAME_VALUE(Cause::ImageWriteRefused, FENNIX_CAUSE_IMAGE_WRITE_REFUSED);
FENNIX_SAME_VALUE(Cause::ImageCloseRefused, FENNIX_CAUSE_IMAGE_CLOSE_REFUSED);
FENNIX_SAME_VALUE(Cause::NotBackAfterReset, FENNIX_CAUSE_NOT_BACK_AFTER_RESET);
FENNIX_SAME_VALUE(Cause::StoppedAnswering, FENNIX_CAUSE_STOPPED_ANSWERING);
FENNIX_SAME_VALUE(Cause::FileMissing, FENNIX_CAUSE_FILE_MISSING);
FENNIX_SAME_VALUE(Cause::FileDamaged, FENNIX_CAUSE_FILE_DAMAGED);
FENNIX_SAME_VALUE(Cause::Cancelled, FENNIX_CAUSE_CANCELLED);
FENNIX_SAME_VALUE(Cause::DeviceRefused, FENNIX_CAUSE_DEVICE_REFUSED);
#undef FENNIX_SAME_VALUE

namespace {

// Why the port did not open, as the flow's cause.
Cause CauseOfOpenFailure(platform::PortOpenFailure failure) {
    switch (failure) {
        case platform::PortOpenFailure::InUse: return Cause::PortBusy;
        case platform::PortOpenFailure::PermissionDenied: return Cause::PortForbidden;
        default: return Cause::PortMissing;  // no such port, or one the system cannot open as a serial port
    }
}

// Why the mode change failed: no answer to the probe, or a switch that did
// not take the device into the mode.
Cause CauseOfModeFailure(PacketResult mode) {
    if (mode == PacketResult::Cancelled) return Cause::Cancelled;
    return mode == PacketResult::ModeUnknown ? Cause::NoAnswer : Cause::ModeSwitchFailed;
}

std::string TextOrEmpty(const char* text) { return text ? std::string(text) : std::string(); }

struct FlowTexts {
    const char* start;  // null: the frame reports nothing
    bool downloadMode;  // else DIAG
    const char* modeFailed;
    const char* modeChanged;
};

FlowTexts TextsOf(CQualCmd::Flow flow) {
    switch (flow) {
        case CQualCmd::Flow::BackupBrt:
            return {"Start To BackupBrt Process...", false, "Change to DIAG Mode Failed!!",
                    "Change to DIAG Mode Success!!"};
        case CQualCmd::Flow::RestoreBrt:
            return {"Start To RestoreBrt Process...", false, "Change to DIAG Mode Failed!!",
                    "Change to DIAG Mode Success!!"};
        case CQualCmd::Flow::SendItemLists:
        case CQualCmd::Flow::DeviceInfo: return {nullptr, false, nullptr, nullptr};
        case CQualCmd::Flow::Download:
        default:
            return {"Start To Download Process...", true, "Change to DL Mode Failed!!", "Change to DL Mode Success!!"};
    }
}

}  // namespace

CQualCmd::CQualCmd(std::unique_ptr<ISessionLink> link, const Timeouts& times, PauseFunction pause)
    : link_(std::move(link)), times_(times), pause_(std::move(pause)) {}

CQualCmd::~CQualCmd() {
    if (portOpen_) ClosePort();
}

void CQualCmd::SetPortName(const char* portName) { portName_ = TextOrEmpty(portName); }

void CQualCmd::SetProgrammerPath(const char* path) { download_.programmer = TextOrEmpty(path); }

void CQualCmd::SetImagePaths(const char* partition, const char* obl, const char* pbl, const char* qcsblhd,
                             const char* qcsbl, const char* oemsblhd, const char* oemsbl, const char* amsshd,
                             const char* amss, const char* cefs) {
    download_.partition = TextOrEmpty(partition);
    download_.obl = TextOrEmpty(obl);
    download_.pbl = TextOrEmpty(pbl);
    download_.qcsblhd = TextOrEmpty(qcsblhd);
    download_.qcsbl = TextOrEmpty(qcsbl);
    download_.oemsblhd = TextOrEmpty(oemsblhd);
    download_.oemsbl = TextOrEmpty(oemsbl);
    download_.amsshd = TextOrEmpty(amsshd);
    download_.amss = TextOrEmpty(amss);
    download_.cefs = TextOrEmpty(cefs);
}

void CQualCmd::SetCsvBrtPaths(const char* csvPath, const char* brtPath) {
    csvPath_ = TextOrEmpty(csvPath);
    brtPath_ = TextOrEmpty(brtPath);
}

void CQualCmd::SetAmssBootPaths(const char* body, const char* header) {
    download_.amssboot = TextOrEmpty(body);
    download_.amssboothd = TextOrEmpty(header);
}

void CQualCmd::SetWindowsMobilePath(const char* path) { download_.windowsMobile = TextOrEmpty(path); }

void CQualCmd::Report(const char* text, int32_t status) const {
    if (status < 0) LogPortLine(kLogError, portName_.c_str(), "CQualCmd::Report", "%s", text);
    if (callback_) callback_(text, status);
    if (!eventCallback_) return;
    FennixEvent event = EventOf(FENNIX_EVENT_LINE);
    event.text = text;
    event.status = status;
    Emit(event);
}

FennixEvent CQualCmd::EventOf(FennixEventKind kind) const {
    FennixEvent event{};
    event.size = sizeof event;
    event.kind = kind;
    event.stage = static_cast<int32_t>(stage_);
    event.image = image_;
    event.imageName = imageName_;
    event.stageKey = StageKey(stage_);
    return event;
}

void CQualCmd::Emit(const FennixEvent& event) const {
    if (eventCallback_) eventCallback_(&event, eventContext_);
}

void CQualCmd::EnterStage(Stage stage, int32_t image, const char* imageName) {
    stage_ = stage;
    image_ = imageName ? image : -1;
    imageName_ = imageName;
    Emit(EventOf(FENNIX_EVENT_STAGE));
}

void CQualCmd::Progress(uint64_t done, uint64_t total) {
    if (!eventCallback_) return;
    FennixEvent event = EventOf(FENNIX_EVENT_PROGRESS);
    event.done = done;
    event.total = total;
    Emit(event);
}

int32_t CQualCmd::EndFlow(const FlowOutcome& outcome, int32_t result) {
    const Cause cause = !outcome.Succeeded() && Cancelled() ? Cause::Cancelled : outcome.cause;
    if (eventCallback_) {
        FennixEvent event = EventOf(FENNIX_EVENT_END);
        event.result = result;
        event.cause = static_cast<int32_t>(cause);
        event.causeKey = CauseKey(cause);
        event.text = CauseText(cause);
        Emit(event);
    }
    return result;
}

void CQualCmd::Pause(uint32_t milliseconds) {
    if (pause_) {
        if (!Cancelled()) pause_(milliseconds);
        return;
    }
    std::unique_lock<std::mutex> hold(pauseLock_);
    pauseWake_.wait_for(hold, std::chrono::milliseconds(milliseconds), [this] { return cancelled_.load(); });
}

void CQualCmd::Cancel() {
    {
        std::lock_guard<std::mutex> hold(pauseLock_);
        cancelled_.store(true);
    }
    pauseWake_.notify_all();
    link_->Cancel();
}

void CQualCmd::ClosePort() {
    link_->CloseCOMPort();
    portOpen_ = false;
}

void CQualCmd::DrainReplies() {
    uint32_t frames = 0;
    link_->ReadReturnPacket(drainBuffer_.data(), static_cast<uint32_t>(drainBuffer_.size()), &frames, 1024);
}

FlowOutcome CQualCmd::RunFlow(Flow flow, const std::function<FlowOutcome()>& body, FrameEnd* end) {
    const FlowTexts texts = TextsOf(flow);
    const auto say = [&](const char* text, int32_t status) {
        if (texts.start) Report(text, status);
    };
    const auto stop = [&](FrameEnd where) {
        if (end) *end = where;
    };
    EnterStage(Stage::Open);
    if (portName_.empty()) {
        // Nothing was done, so this must not read as a success.
        say("Please Select ComPort..", 0);
        say("Open ComPort Failed!!", -1);
        stop(FrameEnd::NoPort);
        return FlowOutcome::Failure(Cause::PortMissing);
    }
    say(texts.start, 0);
    if (link_->OpenComport("Target download", portName_.c_str()) != PacketResult::Ok) {
        ClosePort();
        say("Open ComPort Failed!!", -1);
        stop(FrameEnd::OpenFailed);
        return FlowOutcome::Failure(CauseOfOpenFailure(link_->OpenFailure()));
    }
    portOpen_ = true;
    // Whatever way the body leaves (including an exception), the port is closed.
    struct CloseOnExit {
        CQualCmd& session;
        ~CloseOnExit() {
            if (session.portOpen_) session.ClosePort();
        }
    } closeOnExit{*this};

    say("Open ComPort Success!!", 0);
    EnterStage(Stage::ModeSwitch);
    const PacketResult mode = texts.downloadMode ? link_->IsDLConnected() : link_->IsDIAGConnected();
    if (mode != PacketResult::Ok) {
        ClosePort();
        say(texts.modeFailed, -1);
        stop(FrameEnd::ModeFailed);
        return FlowOutcome::LinkFailure(static_cast<int32_t>(mode), CauseOfModeFailure(mode));
    }
    say(texts.modeChanged, 0);
    stop(FrameEnd::Body);
    return body();
}

FlowOutcome CQualCmd::StartDownload() {
    return RunFlow(Flow::Download, [this] { return Sequence().Run(); });
}

bool CQualCmd::ReopenPort() {
    if (portName_.empty()) return false;
    if (link_->ReopenComport("Target download", portName_.c_str()) != PacketResult::Ok) {
        ClosePort();
        return false;
    }
    portOpen_ = true;
    return true;
}

}  // namespace fennix
