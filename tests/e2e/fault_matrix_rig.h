// One run of one flow against a virtual device that may carry an injected
// fault: the device and its contents before the run, the session, the run on
// a thread of its own (so that a hang is seen as one), and the checks that the
// data came through whole or that nothing was lost.
#pragma once

#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "../nv/TestFiles.h"
#include "download_e2e_support.h"
#include "simulator/FaultInjection.h"

namespace fennix::matrix {

// DownloadWindowed: from download mode, the device announcing a window of
// kWindow over a full-speed USB link, the session taking it.
enum class Flow {
    DownloadFromAt,
    DownloadFromDiag,
    DownloadFromDownload,
    Backup,
    Restore,
    DuckImport,
    DownloadWindowed
};
constexpr int kWindow = 8;
const char* FlowName(Flow flow);
bool IsDownload(Flow flow);

// A request the device saw, as a fault point names it.
struct SeenRequest {
    sim::DeviceMode mode;
    int command;  // -1 for an AT command line
};

struct FlowRun {
    int32_t result = 0;
    std::vector<testsupport::ReportedLine> lines;
    std::chrono::milliseconds took{0};
    bool hung = false;
};

// Every reply wait of the session; a late answer comes half as late again.
constexpr uint32_t kReplyWait = 800;
constexpr uint32_t kLateAnswerMs = kReplyWait * 3 / 2;
// A case that has not ended by then hangs.
constexpr std::chrono::seconds kCaseLimit{45};

class FlowRig {
public:
    explicit FlowRig(Flow flow);
    ~FlowRig();
    bool Ok() const { return device_.Ok(); }
    sim::CVirtualDevice& Device() { return device_.Device(); }

    FlowRun Run();
    // The requests of the flow in the order the device saw them: every request
    // of a download, the NV and file-system requests of the NV flows.
    std::vector<SeenRequest> FlowRequests();
    // The most stream writes the device had received and not yet answered.
    int MostWritesOutstanding();
    // Empty when the data came through whole (the flash equals the files, the
    // BRT holds every listed item, the device holds every new value), else
    // what differs. An item the device refused is excused: left out of the
    // BRT, or its old value kept in the device.
    std::string WholeDataProblem();
    // Empty when a failed run lost nothing: the old BRT byte for byte and no
    // file left beside it; every NV item (every index of a chunked one) holds
    // its old or its new value.
    std::string LostDataProblem();

private:
    int32_t RunFlow();
    // The item of the NV request that the device refused, kFileRefused for a
    // file-system request, -1 for none.
    static constexpr int kFileRefused = -2;
    int RefusedItem();
    std::string Store();

    Flow flow_;
    sim::CScopedDevice device_;
    test::ScratchDir dir_;
    std::unique_ptr<testsupport::TestImageSet> images_;
    std::unique_ptr<CQualCmd> session_;
    std::vector<uint8_t> oldBrt_;
};

}  // namespace fennix::matrix
