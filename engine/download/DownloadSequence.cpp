// StartDownload: the whole flash of one device, from the port open through the
// programmer, the partition table and the images to the reset and the check
// that the device came up again.
#include "download/QualCmd.h"
#include "log/Log.h"

namespace fennix {

struct CQualCmd::ImageStep {
    uint8_t type;
    std::string CQualCmd::*body;
    std::string CQualCmd::*header;  // null: the step has no header
    const char* failedLine;         // null: the step reports no failure of its own
    const char* successLine;
};

// In the order the images go into flash.
const CQualCmd::ImageStep CQualCmd::kImageSteps[] = {
    {7, &CQualCmd::oblPath_, nullptr, "Download OBL File Failed!!", "Download OBL File Success!!"},
    {1, &CQualCmd::pblPath_, nullptr, "Download PBL File Failed!!", "Download PBL File Success!!"},
    {2, &CQualCmd::qcsblhdPath_, nullptr, "Download QCSBLHD File Failed!!", "Download QCSBLHD File Success!!"},
    {3, &CQualCmd::qcsblPath_, nullptr, "Download QCSBL File Failed!!", "Download QCSBL File Success!!"},
    {4, &CQualCmd::oemsblPath_, &CQualCmd::oemsblhdPath_, nullptr, "Download OEMSBLHD and OEMSBL File Success!!"},
    {5, &CQualCmd::amssPath_, &CQualCmd::amsshdPath_, "Download AMSSHD and AMSS File Failed!!",
     "Download AMSSHD and AMSS File Success!!"},
    {10, &CQualCmd::amssbootPath_, &CQualCmd::amssboothdPath_, "Download AMSSBOOTHD and AMSSBOOT File Failed!!",
     "Download AMSSHDBOOTHD and AMSSBOOT File Success!!"},
    {12, &CQualCmd::windowsMobilePath_, nullptr, "Download Windows Mobile File Failed!!",
     "Download Windows Mobile File Success!!"},
    {9, &CQualCmd::cefsPath_, nullptr, "Download CEFS File Failed!!", "Download CEFS File Success!!"},
};

int32_t CQualCmd::StartDownload() {
    return RunFlow(Flow::Download, [this] { return DownloadBody(); });
}

int32_t CQualCmd::DownloadBody() {
    int32_t r = RunProgrammerStage();
    if (r < 0) return r;

    // The first hello after go may meet a programmer that is still starting;
    // only the second one counts.
    Hello();
    r = Hello();
    if (r < 0) {
        Reset();
        ClosePort();
        Report("Hello Failed!!", -1);
        return r;
    }
    Report("Hello Success!!", 0);

    // Without a primary boot loader to write, the device boots trusted images only.
    r = SendSecurity(pblPath_.empty() ? 1 : 0);
    if (r < 0) {
        Reset();
        ClosePort();
        Report("Send Security Failed!!", -1);
        return r;
    }
    Report("Send Security Success!!", 0);

    if (partitionPath_.empty()) {
        Reset();
        ClosePort();
        return r;
    }
    r = DownloadPartitionFile(partitionPath_);
    if (r < 0) {
        Reset();
        ClosePort();
        Report("Download Partition.mbn File Failed!!", -1);
        return r;
    }
    Report("Download Partition.mbn File Success!!", 0);

    r = DownloadImages();
    if (r < 0) {
        Reset();
        ClosePort();
        return r;
    }

    r = Reset();
    Report("Reset !! Please Wait....", 0);
    if (r < 0) {
        ClosePort();
        Report("Reset Failed....", -1);
        return -2;
    }
    return FinishAfterReset();
}

int32_t CQualCmd::DownloadImages() {
    for (const ImageStep& step : kImageSteps) {
        const std::string& body = this->*step.body;
        const std::string empty;
        const std::string& header = step.header ? this->*step.header : empty;
        if (body.empty() || (step.header && header.empty())) continue;
        const int32_t r = DownloadImage(step.type, body, header);
        if (r < 0) {
            if (step.failedLine) Report(step.failedLine, -1);
            return r;
        }
        Report(step.successLine, 0);
    }
    return 1;
}

int32_t CQualCmd::FinishAfterReset() {
    if (skipCheck_) {
        Pause(times_.skipCheckPause);
        if (Cancelled()) {
            // Closed before the device had its time to come up: not a success.
            ClosePort();
            Report("Download Process Failed!!", -1);
            return kPacketCancelled;
        }
        ClosePort();
        Report("Skip Checking POWER_ON Status...!!", 0);
        Report("Download Process Success!!", 0);
        return 1;
    }
    // The device reboots into DIAG mode; its port may vanish for a while.
    ClosePort();
    ReopenPort();
    Pause(times_.powerOnPause);
    link_->IsDIAGConnected();
    const int32_t r = CheckPowerOn();
    if (r < 0) {
        ClosePort();
        Report("Download Process Failed!!", -1);
        return r;
    }
    Report("", 0);
    Report("Download Process Success!!", 0);
    ClosePort();
    return 1;
}

int32_t CQualCmd::ReopenPort() {
    if (portName_.empty()) return -1;
    if (link_->ReopenComport("Target download", portName_.c_str()) != 1) {
        ClosePort();
        return -1;
    }
    portOpen_ = true;
    return 1;
}

int32_t CQualCmd::CheckPowerOn() {
    constexpr uint8_t kLoopback = 0x7B;
    uint8_t packet[11] = {kLoopback};
    for (uint8_t i = 0; i < 10; ++i) packet[1 + i] = i;
    uint8_t reply[11] = {};
    link_->DIAGTxRx(packet, sizeof packet, reply, sizeof reply, times_.replyWait);
    if (reply[0] == kLoopback) return 1;
    DrainReplies();
    return -1;
}

}  // namespace fennix
