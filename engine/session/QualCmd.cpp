#include "session/QualCmd.h"

#include <chrono>

#include "log/Log.h"

namespace fennix {

namespace {

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
        case CQualCmd::Flow::SendItemLists: return {nullptr, false, nullptr, nullptr};
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

int32_t CQualCmd::RunFlow(Flow flow, const std::function<int32_t()>& body, FrameEnd* end) {
    const FlowTexts texts = TextsOf(flow);
    const auto say = [&](const char* text, int32_t status) {
        if (texts.start) Report(text, status);
    };
    const auto stop = [&](FrameEnd where) {
        if (end) *end = where;
    };
    if (portName_.empty()) {
        // Nothing was done, so this must not read as a success.
        say("Please Select ComPort..", 0);
        say("Open ComPort Failed!!", -1);
        stop(FrameEnd::NoPort);
        return -1;
    }
    say(texts.start, 0);
    if (link_->OpenComport("Target download", portName_.c_str()) != PacketResult::Ok) {
        ClosePort();
        say("Open ComPort Failed!!", -1);
        stop(FrameEnd::OpenFailed);
        return -1;
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
    const PacketResult mode = texts.downloadMode ? link_->IsDLConnected() : link_->IsDIAGConnected();
    if (mode != PacketResult::Ok) {
        ClosePort();
        say(texts.modeFailed, -1);
        stop(FrameEnd::ModeFailed);
        return static_cast<int32_t>(mode);
    }
    say(texts.modeChanged, 0);
    stop(FrameEnd::Body);
    return body();
}

int32_t CQualCmd::StartDownload() {
    return RunFlow(Flow::Download, [this] { return Sequence().Run(); });
}

int32_t CQualCmd::ReopenPort() {
    if (portName_.empty()) return -1;
    if (link_->ReopenComport("Target download", portName_.c_str()) != PacketResult::Ok) {
        ClosePort();
        return -1;
    }
    portOpen_ = true;
    return 1;
}

}  // namespace fennix
