// Runs one flow on several ports at once and shows it: one thread per port,
// the display on this thread, Ctrl-C cancelling every flow.
#pragma once

#include <memory>
#include <vector>

#include "FileTemplate.h"
#include "PortRun.h"
#include "Report.h"
#include "Views.h"

namespace fennix::cli {

struct PortJob {
    std::string port;
    ProgressModel progress;
};

// Returns the exit status: 0 every port succeeded, 1 one failed, 130 after
// Ctrl-C; 2, with no port opened, for a port that does not exist or a device named twice.
// `claimed`: the files the engine replaces that the flows learn as they run
// (a backup named after its device), beside the context's.
int RunOnPorts(std::vector<PortJob> jobs, const PortRun::Flow& flow, OutputMode mode, const RunContext& context,
               std::shared_ptr<const ClaimedFiles> claimed = nullptr);

}  // namespace fennix::cli
