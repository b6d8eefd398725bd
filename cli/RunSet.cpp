#include "RunSet.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <cstdlib>
#include <thread>

#include "Commands.h"
#include "PortChecks.h"
#include "System.h"

namespace fennix::cli {

namespace {
std::atomic<int> gInterrupts{0};

// Whether the files sent still are what was described before the flows: one
// check serves every port whose flow had ended when the check began, so that
// ports finishing together do not each hash the images again.
class FileGuard {
public:
    explicit FileGuard(const std::vector<SentFile>& files) : files_(files) {}

    std::string ChangedAfter(SteadyClock::time_point flowEnd) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!checked_ || checkStart_ < flowEnd) {
            checkStart_ = SteadyClock::now();
            changed_ = ChangedFile(files_);
            checked_ = true;
        }
        return changed_;
    }

private:
    const std::vector<SentFile>& files_;
    std::mutex mutex_;
    bool checked_ = false;
    SteadyClock::time_point checkStart_;
    std::string changed_;
};

// The record of every port, written once: by the end of the run, or by a
// second Ctrl-C that ends the process before the flows ended.
class Recorder {
public:
    Recorder(const RunContext& context, std::shared_ptr<const ClaimedFiles> claimed, std::vector<const PortRun*> runs)
        : context_(context), claimed_(std::move(claimed)), runs_(std::move(runs)), watcher_([this] { Watch(); }) {}
    ~Recorder() {
        finished_ = true;
        watcher_.join();
    }

    bool Append(std::string* error) {
        std::lock_guard<std::mutex> lock(mutex_);
        RemovePending();
        appended_ = true;
        return AppendReport(context_, runs_, error);
    }

private:
    void Watch() {
        while (!finished_) {
            if (gInterrupts.load() >= 2) {
                std::lock_guard<std::mutex> lock(mutex_);
                if (!appended_) {
                    RemovePending();
                    std::string error;
                    AppendReport(context_, runs_, &error, true);
                }
                std::fflush(stdout);
                std::_Exit(130);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }

    void RemovePending() {
        if (!claimed_) return RemovePendingFiles(context_);
        RunContext context = context_;
        for (auto& path : claimed_->Paths()) context.replaced.push_back(std::move(path));
        RemovePendingFiles(context);
    }

    const RunContext& context_;
    const std::shared_ptr<const ClaimedFiles> claimed_;
    const std::vector<const PortRun*> runs_;
    std::mutex mutex_;
    bool appended_ = false;
    std::atomic<bool> finished_{false};
    std::thread watcher_;
};

}  // namespace

int RunOnPorts(std::vector<PortJob> jobs, const PortRun::Flow& flow, OutputMode mode, const RunContext& context,
               std::shared_ptr<const ClaimedFiles> claimed) {
    std::vector<std::string> ports;
    for (const auto& job : jobs) ports.push_back(job.port);
    if (const std::string problem = PortListProblem(context.command, ports); !problem.empty())
        return UsageError(mode == OutputMode::Json, problem);
    // The second press is the recorder's; only a third ends the process where it stands.
    InstallInterruptHandler(&gInterrupts, 2);
    std::unique_ptr<View> view = MakeView(mode);
    EventQueue events;
    std::vector<std::unique_ptr<PortRun>> runs;
    for (auto& job : jobs) runs.push_back(std::make_unique<PortRun>(job.port, std::move(job.progress), events));
    std::vector<const PortRun*> all;
    for (auto& run : runs) all.push_back(run.get());
    Recorder recorder(context, std::move(claimed), all);

    FileGuard guard(context.files);
    const PortRun::Flow guarded = [&](PortRun& run) -> int32_t {
        const int32_t result = flow(run);
        if (gInterrupts.load() > 0) return result;
        const std::string changed = guard.ChangedAfter(SteadyClock::now());
        if (changed.empty()) return result;
        run.ToolFailure(changed + " changed during the " + context.command +
                            "; what the device got may differ from the file the record describes",
                        "file-damaged");
        return 0;
    };

    const auto started = SteadyClock::now();
    StartLog();
    for (auto& run : runs) run->Start(guarded);

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

    std::string error;
    if (!recorder.Append(&error)) {
        std::fprintf(stderr, "fennix: %s\n", error.c_str());
        if (summary.exitCode == 0) summary.exitCode = 1;
    }
    return summary.exitCode;
}

}  // namespace fennix::cli
