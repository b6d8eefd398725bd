// The whole flash of one device inside the flow frame: the programmer stage,
// hello and security mode, the partition table, the images in flash order,
// the reset and the check that the device came up again.
#pragma once

#include <cstdint>
#include <string>

#include "download/DmssCommands.h"
#include "download/FlowContext.h"
#include "download/StreamSettings.h"
#include "download/StreamingCommands.h"
#include "flow/FlowEvents.h"
#include "flow/OperatorLines.h"

namespace fennix {

// The files and the option of one download, as the session's setters fill
// them. An empty path leaves its image out.
struct DownloadSettings {
    std::string programmer;
    std::string partition = ".\\partition.mbn";
    std::string obl;
    std::string pbl = ".\\pbl.mbn";
    std::string qcsblhd = ".\\qcsblhd_cfgdata.mbn";
    std::string qcsbl = ".\\qcsbl.mbn";
    std::string oemsblhd = ".\\oemsblhd.mbn";
    std::string oemsbl = ".\\oemsbl.mbn";
    std::string amsshd = ".\\amsshd.mbn";
    std::string amss = ".\\amss.mbn";
    std::string cefs;
    std::string amssboothd;
    std::string amssboot;
    std::string windowsMobile;
    // Clear in a new session: the power-on check runs.
    bool skipCheck = false;
    // Stop-and-wait with 1,024-byte blocks unless asked otherwise.
    StreamSettings stream;
};

class CDownloadSequence {
public:
    CDownloadSequence(IFlowContext& flow, CDmssCommands& dmss, CStreamingCommands& streaming,
                      const DownloadSettings& settings)
        : flow_(flow), dmss_(dmss), streaming_(streaming), settings_(settings) {}

    // Everything after the port is open in download mode: how the flow ended
    // and why, each stage told to the flow as it is entered.
    FlowOutcome Run();
    // The images in flash order; success or the first failure.
    FlowOutcome DownloadImages();
    // The DIAG loopback after the reboot: whether the device answers it.
    bool CheckPowerOn();

private:
    struct ImageStep;
    static const ImageStep kImageSteps[];
    FlowOutcome FinishAfterReset();
    // Waits, up to another power-on pause, while the device still answers in
    // download mode after the reset.
    void AwaitReboot();
    // The ending of every step that fails before the reset: the device is
    // reset, the port closed and `line` (when given) reported.
    FlowOutcome FailBeforeReset(FlowOutcome outcome, OperatorLine line);

    IFlowContext& flow_;
    CDmssCommands& dmss_;
    CStreamingCommands& streaming_;
    const DownloadSettings& settings_;
};

}  // namespace fennix
