// CQualCmd: one session on one COM port. It keeps the paths, options and
// progress callback set through the exported setters, and runs the flows that
// talk to the device: the download (programmer upload, streaming of the
// partition table and images, reset, power-on check) and, through the shared
// flow frame, the NV flows.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "download/HexFile.h"
#include "download/SessionLink.h"
#include "fennix/fennix.h"
#include "nv/NvItem.h"
#include "serial/Timeouts.h"

namespace fennix {

// Sleeps for the given (already scaled) number of milliseconds.
using PauseFunction = std::function<void(uint32_t milliseconds)>;

class CQualCmd {
public:
    // The flows that open the port through the frame.
    enum class Flow { Download, BackupBrt, RestoreBrt };

    // A session over a link (the serial port's from MakeSerialSessionLink, or
    // a scripted one). `times` holds every wait and pause the session uses;
    // `pause` defaults to sleeping (cut short by Cancel).
    explicit CQualCmd(std::unique_ptr<ISessionLink> link, const Timeouts& times = Timeouts::FromEnvironment(),
                      PauseFunction pause = nullptr);
    virtual ~CQualCmd();
    CQualCmd(const CQualCmd&) = delete;
    CQualCmd& operator=(const CQualCmd&) = delete;

    // ---- setters behind the exports (a null text counts as empty)
    void SetPortName(const char* portName);
    void SetProgrammerPath(const char* path);
    void SetImagePaths(const char* partition, const char* obl, const char* pbl, const char* qcsblhd,
                       const char* qcsbl, const char* oemsblhd, const char* oemsbl, const char* amsshd,
                       const char* amss, const char* cefs);
    void SetSkipCheck() { skipCheck_ = 1; }
    void SetCallback(ProgressCallback callback) { callback_ = callback; }
    void SetCsvBrtPaths(const char* csvPath, const char* brtPath);
    // No export sets these two images; tools and tests may.
    void SetAmssBootPaths(const char* body, const char* header);
    void SetWindowsMobilePath(const char* path);

    // ---- shared by every flow
    // One line to the operator; nothing happens without a callback.
    void Report(const char* text, int32_t status) const;
    // Port check, start text, open, mode change with its texts, then `body`;
    // the port is closed on every way out. Returns the flow result: the body's
    // result, or -1 / the mode change's negative result when the frame failed.
    int32_t RunFlow(Flow flow, const std::function<int32_t()>& body);
    // Closes the port (harmless when it is closed already).
    void ClosePort();
    // Reads and discards reply packets still pending after an unexpected reply.
    void DrainReplies();
    ISessionLink& Link() { return *link_; }
    // A fixed pause of a flow; none once the session is cancelled.
    void Pause(uint32_t milliseconds);
    // From any thread: the flow running now (and any later one) fails at its
    // next exchange or pause, promptly, and closes the port on its way out.
    void Cancel();
    bool Cancelled() const { return cancelled_.load(); }
    // Why the port did not open at the start of the latest flow (for a
    // front-end that tells "in use" from "permission denied").
    platform::PortOpenFailure OpenFailure() const { return link_->OpenFailure(); }
    const Timeouts& Times() const { return times_; }

    // ---- programmer upload (DMSS download protocol)
    int32_t TestCommunication();
    int32_t RequestParameter();
    int32_t Write32(uint32_t address, const uint8_t* data, uint16_t length);
    int32_t Go(uint16_t segment);
    int32_t DownloadHexFile(const std::string& programmerPath);
    // Ten NOPs, parameter request, upload, go; 1 or the failing result (the
    // port is closed then).
    int32_t RunProgrammerStage();

    // ---- streaming download protocol
    int32_t Hello();
    int32_t SendSecurity(uint8_t mode);
    int32_t SendPartitionTable(const uint8_t* table, uint16_t length);
    int32_t OpenMultiImage(uint8_t type, const uint8_t* header, uint16_t length);
    int32_t StreamWrite(const uint8_t* data, uint16_t length, uint32_t address);
    int32_t CloseImage();
    int32_t Reset();
    int32_t DownloadPartitionFile(const std::string& path);
    int32_t StreamFile(const std::string& path);
    int32_t DownloadImage(uint8_t type, const std::string& bodyPath, const std::string& headerPath);

    // ---- the multi-image download
    int32_t StartDownload();
    int32_t DownloadImages();
    int32_t ReopenPort();
    int32_t CheckPowerOn();

    // ---- read access for the flows and for tests
    const std::string& PortName() const { return portName_; }
    const std::string& ProgrammerPath() const { return programmerPath_; }
    const std::string& PartitionPath() const { return partitionPath_; }
    const std::string& OblPath() const { return oblPath_; }
    const std::string& PblPath() const { return pblPath_; }
    const std::string& QcsblhdPath() const { return qcsblhdPath_; }
    const std::string& QcsblPath() const { return qcsblPath_; }
    const std::string& OemsblhdPath() const { return oemsblhdPath_; }
    const std::string& OemsblPath() const { return oemsblPath_; }
    const std::string& AmsshdPath() const { return amsshdPath_; }
    const std::string& AmssPath() const { return amssPath_; }
    const std::string& CefsPath() const { return cefsPath_; }
    const std::string& CsvPath() const { return csvPath_; }
    const std::string& BrtPath() const { return brtPath_; }
    bool SkipCheck() const { return skipCheck_ != 0; }
    uint16_t StartSegment() const { return startSegment_; }

    // NV state, filled and used by the NV flows.
    CNVArray& NumberedItems() { return numberedItems_; }
    CNVArray& NamedItems() { return namedItems_; }
    std::string& LastFailedItemText() { return lastFailedItemText_; }
    int32_t& LastFailedItemId() { return lastFailedItemId_; }

    // Largest partition table and image header the packets can carry.
    static constexpr size_t kMaxPartitionBytes = 1024;
    static constexpr size_t kMaxHeaderBytes = 512;
    static constexpr size_t kStreamBlockBytes = 1024;
    static constexpr size_t kHexBlockBytes = 1017;

private:
    struct ImageStep;
    static const ImageStep kImageSteps[];
    int32_t DownloadBody();
    int32_t FinishAfterReset();
    // Sends one packet whose reply must start with `expected`; drains and
    // gives -1 on another reply, passes a failed exchange through.
    int32_t Command(const uint8_t* packet, uint32_t length, uint8_t expected, uint32_t replyCapacity,
                    uint32_t waitMs);
    // One DLTxRx into the reply scratch (cleared first): its result.
    int32_t Exchange(const uint8_t* packet, uint32_t length, uint32_t replyCapacity, uint32_t waitMs);
    // 1 when the reply starts with `expected`, else drains and gives -1.
    int32_t Expect(uint8_t expected);
    // A stream-write reply in the reply scratch that echoes a block of the
    // open image acknowledged already.
    bool IsStaleStreamReply(int32_t replyLength) const;
    // Exchange that passes over stale stream-write replies and waits on, within
    // the same `waitMs` from the send, for the reply the packet is owed.
    int32_t ExchangeSkippingStale(const uint8_t* packet, uint32_t length, uint32_t replyCapacity, uint32_t waitMs);

    std::unique_ptr<ISessionLink> link_;
    Timeouts times_;
    PauseFunction pause_;  // null: the cancellable sleep
    bool portOpen_ = false;
    std::atomic<bool> cancelled_{false};
    std::mutex pauseLock_;
    std::condition_variable pauseWake_;

    std::string portName_;
    CHexFile hexFile_;
    uint16_t startSegment_ = 0;
    // Offset of the last block of the open image the device acknowledged.
    std::optional<uint32_t> acknowledgedBlock_;
    // Clear in a new session: the power-on check runs unless SetSkipCheck.
    int32_t skipCheck_ = 0;
    std::string csvPath_;
    std::string brtPath_;
    std::string oblPath_;
    std::string pblPath_ = ".\\pbl.mbn";
    std::string qcsblPath_ = ".\\qcsbl.mbn";
    std::string qcsblhdPath_ = ".\\qcsblhd_cfgdata.mbn";
    std::string oemsblPath_ = ".\\oemsbl.mbn";
    std::string oemsblhdPath_ = ".\\oemsblhd.mbn";
    std::string amssPath_ = ".\\amss.mbn";
    std::string amsshdPath_ = ".\\amsshd.mbn";
    std::string partitionPath_ = ".\\partition.mbn";
    std::string cefsPath_;
    std::string programmerPath_;
    std::string amssbootPath_;
    std::string amssboothdPath_;
    std::string windowsMobilePath_;
    ProgressCallback callback_ = nullptr;
    CNVArray numberedItems_;
    CNVArray namedItems_;
    std::string lastFailedItemText_;
    int32_t lastFailedItemId_ = 0;

    // Scratch space of this session only.
    std::array<uint8_t, 4096> drainBuffer_{};
    std::vector<uint8_t> packet_;
    std::vector<uint8_t> reply_;
};

}  // namespace fennix
