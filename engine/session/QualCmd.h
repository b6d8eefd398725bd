// CQualCmd: one session on one COM port. It keeps the paths, options and
// progress callback set through the exported setters, owns the flow frame
// every flow runs in (port open, mode change, closing on every way out,
// pause and cancel), and composes the download's commands and sequence and
// the NV flows' state.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "download/DmssCommands.h"
#include "download/DownloadSequence.h"
#include "download/FlowContext.h"
#include "download/StreamingCommands.h"
#include "fennix/fennix.h"
#include "flow/FlowEvents.h"
#include "nv/NvItem.h"
#include "serial/SessionLink.h"
#include "serial/Timeouts.h"

namespace fennix {

// Sleeps for the given (already scaled) number of milliseconds.
using PauseFunction = std::function<void(uint32_t milliseconds)>;

class CQualCmd : public IFlowContext {
public:
    // The flows that open the port through the frame.
    // SendItemLists and DeviceInfo tell the operator nothing: their frame
    // reports no line.
    enum class Flow { Download, BackupBrt, RestoreBrt, SendItemLists, DeviceInfo };
    // Where a flow's frame ended: in the body, or before it at one of its steps.
    enum class FrameEnd { Body, NoPort, OpenFailed, ModeFailed };

    // A session over a link (the serial port's CSerCOMLibrary, or
    // a scripted one). `times` holds every wait and pause the session uses;
    // `pause` defaults to sleeping (cut short by Cancel).
    explicit CQualCmd(std::unique_ptr<ISessionLink> link, const Timeouts& times = Timeouts::FromEnvironment(),
                      PauseFunction pause = nullptr);
    ~CQualCmd() override;
    CQualCmd(const CQualCmd&) = delete;
    CQualCmd& operator=(const CQualCmd&) = delete;

    // ---- setters behind the exports (a null text counts as empty)
    void SetPortName(const char* portName);
    void SetProgrammerPath(const char* path);
    void SetImagePaths(const char* partition, const char* obl, const char* pbl, const char* qcsblhd, const char* qcsbl,
                       const char* oemsblhd, const char* oemsbl, const char* amsshd, const char* amss,
                       const char* cefs);
    void SetSkipCheck() { download_.skipCheck = true; }
    void SetStreaming(const StreamSettings& stream) { download_.stream = stream; }
    void SetCallback(ProgressCallback callback) { callback_ = callback; }
    void SetEventCallback(FennixEventCallback callback, void* context) {
        eventCallback_ = callback;
        eventContext_ = context;
    }
    void SetCsvBrtPaths(const char* csvPath, const char* brtPath);
    // No export sets these two images; tools and tests may.
    void SetAmssBootPaths(const char* body, const char* header);
    void SetWindowsMobilePath(const char* path);

    // ---- shared by every flow
    // The operator's line, to the progress callback and as a LINE event.
    void Report(const char* text, int32_t status) const override;
    // STAGE and PROGRESS events to the event receiver.
    void EnterStage(Stage stage, int32_t image = -1, const char* imageName = nullptr) override;
    void Progress(uint64_t done, uint64_t total) override;
    // The END event of a flow whose export returns `result`; gives `result`.
    // A flow that failed after Cancel ends with the cause Cancelled, whatever
    // step noticed it.
    int32_t EndFlow(const FlowOutcome& outcome, int32_t result);
    // Port check, start text, open, mode change with its texts, then `body`;
    // the port is closed on every way out. Returns the body's outcome, or the
    // frame's failure and its cause (`end`, when given, tells where it ended).
    FlowOutcome RunFlow(Flow flow, const std::function<FlowOutcome()>& body, FrameEnd* end = nullptr);
    void ClosePort() override;
    void DrainReplies() override;
    ISessionLink& Link() override { return *link_; }
    void Pause(uint32_t milliseconds) override;
    // From any thread: the flow running now (and any later one) fails at its
    // next exchange or pause, promptly, and closes the port on its way out.
    void Cancel();
    bool Cancelled() const override { return cancelled_.load(); }
    // Why the port did not open at the start of the latest flow (for a
    // front-end that tells "in use" from "permission denied").
    platform::PortOpenFailure OpenFailure() const { return link_->OpenFailure(); }
    const Timeouts& Times() const override { return times_; }

    // ---- the multi-image download
    FlowOutcome StartDownload();
    bool ReopenPort() override;

    // ---- read access for the flows
    const std::string& PortName() const override { return portName_; }
    // The download's files and option, as the setters filled them.
    const DownloadSettings& DownloadSetup() const { return download_; }
    const std::string& CsvPath() const { return csvPath_; }
    const std::string& BrtPath() const { return brtPath_; }

    // NV state, filled and used by the NV flows.
    CNVArray& NumberedItems() { return numberedItems_; }
    CNVArray& NamedItems() { return namedItems_; }
    std::string& LastFailedItemText() { return lastFailedItemText_; }
    int32_t& LastFailedItemId() { return lastFailedItemId_; }

private:
    // An event of `kind` in the current stage, everything else empty.
    FennixEvent EventOf(FennixEventKind kind) const;
    void Emit(const FennixEvent& event) const;

    CDownloadSequence Sequence() { return CDownloadSequence(*this, dmss_, streaming_, download_); }

    std::unique_ptr<ISessionLink> link_;
    Timeouts times_;
    PauseFunction pause_;  // null: the cancellable sleep
    bool portOpen_ = false;
    std::atomic<bool> cancelled_{false};
    std::mutex pauseLock_;
    std::condition_variable pauseWake_;

    std::string portName_;
    DownloadSettings download_;
    CDmssCommands dmss_{*this};
    CStreamingCommands streaming_{*this};
    std::string csvPath_;
    std::string brtPath_;
    ProgressCallback callback_ = nullptr;
    FennixEventCallback eventCallback_ = nullptr;
    void* eventContext_ = nullptr;
    // The stage the running flow is in, as its events carry it.
    Stage stage_ = Stage::None;
    int32_t image_ = -1;
    const char* imageName_ = nullptr;
    CNVArray numberedItems_;
    CNVArray namedItems_;
    std::string lastFailedItemText_;
    int32_t lastFailedItemId_ = 0;

    // Scratch space of this session only.
    std::array<uint8_t, 4096> drainBuffer_{};
};

}  // namespace fennix
