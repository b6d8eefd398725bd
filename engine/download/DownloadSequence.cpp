#include "download/DownloadSequence.h"

#include "log/Log.h"

namespace fennix {

struct CDownloadSequence::ImageStep {
    uint8_t type;
    std::string DownloadSettings::*body;
    std::string DownloadSettings::*header;  // null: the step has no header
    const char* failedLine;                 // null: the step reports no failure of its own
    const char* successLine;
};

// In the order the images go into flash.
const CDownloadSequence::ImageStep CDownloadSequence::kImageSteps[] = {
    {7, &DownloadSettings::obl, nullptr, "Download OBL File Failed!!", "Download OBL File Success!!"},
    {1, &DownloadSettings::pbl, nullptr, "Download PBL File Failed!!", "Download PBL File Success!!"},
    {2, &DownloadSettings::qcsblhd, nullptr, "Download QCSBLHD File Failed!!", "Download QCSBLHD File Success!!"},
    {3, &DownloadSettings::qcsbl, nullptr, "Download QCSBL File Failed!!", "Download QCSBL File Success!!"},
    {4, &DownloadSettings::oemsbl, &DownloadSettings::oemsblhd, nullptr, "Download OEMSBLHD and OEMSBL File Success!!"},
    {5, &DownloadSettings::amss, &DownloadSettings::amsshd, "Download AMSSHD and AMSS File Failed!!",
     "Download AMSSHD and AMSS File Success!!"},
    {10, &DownloadSettings::amssboot, &DownloadSettings::amssboothd, "Download AMSSBOOTHD and AMSSBOOT File Failed!!",
     "Download AMSSHDBOOTHD and AMSSBOOT File Success!!"},
    {12, &DownloadSettings::windowsMobile, nullptr, "Download Windows Mobile File Failed!!",
     "Download Windows Mobile File Success!!"},
    {9, &DownloadSettings::cefs, nullptr, "Download CEFS File Failed!!", "Download CEFS File Success!!"},
};

int32_t CDownloadSequence::FailBeforeReset(int32_t result, const char* line) {
    streaming_.Reset();
    flow_.ClosePort();
    if (line) flow_.Report(line, -1);
    return result;
}

int32_t CDownloadSequence::Run() {
    int32_t r = dmss_.RunProgrammerStage(settings_.programmer);
    if (r < 0) return r;

    // The first hello after go may meet a programmer that is still starting;
    // only the second one counts.
    streaming_.Hello();
    r = streaming_.Hello();
    if (r < 0) return FailBeforeReset(r, "Hello Failed!!");
    flow_.Report("Hello Success!!", 0);

    // Without a primary boot loader to write, the device boots trusted images only.
    r = streaming_.SendSecurity(settings_.pbl.empty() ? 1 : 0);
    if (r < 0) return FailBeforeReset(r, "Send Security Failed!!");
    flow_.Report("Send Security Success!!", 0);

    if (settings_.partition.empty()) return FailBeforeReset(r, nullptr);
    r = streaming_.DownloadPartitionFile(settings_.partition);
    if (r < 0) return FailBeforeReset(r, "Download Partition.mbn File Failed!!");
    flow_.Report("Download Partition.mbn File Success!!", 0);

    r = DownloadImages();
    if (r < 0) return FailBeforeReset(r, nullptr);

    r = streaming_.Reset();
    flow_.Report("Reset !! Please Wait....", 0);
    if (r < 0) {
        flow_.ClosePort();
        flow_.Report("Reset Failed....", -1);
        return -2;
    }
    return FinishAfterReset();
}

int32_t CDownloadSequence::DownloadImages() {
    for (const ImageStep& step : kImageSteps) {
        const std::string& body = settings_.*step.body;
        const std::string empty;
        const std::string& header = step.header ? settings_.*step.header : empty;
        if (body.empty() || (step.header && header.empty())) continue;
        const int32_t r = streaming_.DownloadImage(step.type, body, header);
        if (r < 0) {
            if (step.failedLine) flow_.Report(step.failedLine, -1);
            return r;
        }
        flow_.Report(step.successLine, 0);
    }
    return 1;
}

int32_t CDownloadSequence::FinishAfterReset() {
    if (settings_.skipCheck) {
        flow_.Pause(flow_.Times().skipCheckPause);
        if (flow_.Cancelled()) {
            // Closed before the device had its time to come up: not a success.
            flow_.ClosePort();
            flow_.Report("Download Process Failed!!", -1);
            return kPacketCancelled;
        }
        flow_.ClosePort();
        flow_.Report("Skip Checking POWER_ON Status...!!", 0);
        flow_.Report("Download Process Success!!", 0);
        return 1;
    }
    // The device reboots into DIAG mode; its port may vanish for a while.
    flow_.ClosePort();
    flow_.ReopenPort();
    flow_.Pause(flow_.Times().powerOnPause);
    flow_.Link().IsDIAGConnected();
    const int32_t r = CheckPowerOn();
    if (r < 0) {
        flow_.ClosePort();
        flow_.Report("Download Process Failed!!", -1);
        return r;
    }
    flow_.Report("", 0);
    flow_.Report("Download Process Success!!", 0);
    flow_.ClosePort();
    return 1;
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
