#include "RunSet.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

#include "System.h"

namespace fennix::cli {

namespace {
std::atomic<int> gInterrupts{0};
}  // namespace

int RunOnPorts(std::vector<PortJob> jobs, const PortRun::Flow& flow, OutputMode mode, const RunContext& context) {
    InstallInterruptHandler(&gInterrupts);
    std::unique_ptr<View> view = MakeView(mode);
    EventQueue events;
    std::vector<std::unique_ptr<PortRun>> runs;
    for (auto& job : jobs) runs.push_back(std::make_unique<PortRun>(job.port, std::move(job.progress), events));

    const auto started = SteadyClock::now();
    StartLog();
    for (auto& run : runs) run->Start(flow);

    auto snapshots = [&] {
        std::vector<RunSnapshot> all;
        for (auto& run : runs) all.push_back(run->Snapshot());
        return all;
    };
    auto allOver = [&] {
        for (auto& run : runs) {
            const RunState state = run->Snapshot().state;
            if (state == RunState::Waiting || state == RunState::Running) return false;
        }
        return true;
    };
    bool cancelled = false;
    for (;;) {
        const bool over = allOver();
        view->Update(events.Take(), snapshots());
        if (over) break;
        if (gInterrupts.load() > 0 && !cancelled) {
            cancelled = true;
            std::string stopped;
            for (auto& run : runs)
                if (run->Cancel()) stopped += (stopped.empty() ? "" : ", ") + run->Port();
            view->Update(events.Take(), snapshots());
            view->Notice("Interrupted: " + (stopped.empty() ? std::string("no flow was running") : stopped) +
                         ". A device stopped in the middle of writing must be flashed again. (Ctrl-C again "
                         "exits at once.)");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    for (auto& run : runs) run->Join();
    EndLog();

    Summary summary;
    const auto final = snapshots();
    for (const auto& s : final) {
        summary.succeeded += s.state == RunState::Succeeded;
        summary.failed += s.state == RunState::Failed;
        summary.interrupted += s.state == RunState::Interrupted;
    }
    summary.seconds = std::chrono::duration<double>(SteadyClock::now() - started).count();
    summary.exitCode = cancelled ? 130 : summary.failed || summary.interrupted ? 1 : 0;
    view->Finish(final, summary);

    std::vector<const PortRun*> all;
    for (auto& run : runs) all.push_back(run.get());
    std::string error;
    if (!AppendReport(context, all, &error)) {
        std::fprintf(stderr, "fennix: %s\n", error.c_str());
        if (summary.exitCode == 0) summary.exitCode = 1;
    }
    return summary.exitCode;
}

}  // namespace fennix::cli
