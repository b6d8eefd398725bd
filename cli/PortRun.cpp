#include "PortRun.h"

#include <cmath>
#include <cstdio>

#include "System.h"

namespace fennix::cli {

namespace {
// The callback is a plain function: the port comes from the thread.
thread_local PortRun* tRun = nullptr;
}  // namespace

const char* RunStateName(RunState state) {
    switch (state) {
        case RunState::Waiting: return "waiting";
        case RunState::Running: return "running";
        case RunState::Succeeded: return "success";
        case RunState::Failed: return "failed";
        case RunState::Interrupted: return "interrupted";
    }
    return "?";
}

std::string CodeHex(int32_t code) {
    char text[11];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(static_cast<uint32_t>(code)));
    return text;
}

PortRun::PortRun(std::string port, ProgressModel model, EventQueue& events)
    : port_(std::move(port)), events_(events), progress_(std::move(model)) {}

PortRun::~PortRun() { Join(); }

void PortRun::Start(Flow flow) {
    thread_ = std::thread([this, flow = std::move(flow)] { Run(flow); });
}

void PortRun::Join() {
    if (thread_.joinable()) thread_.join();
}

void PortRun::OnProgress(const char* text, int32_t status) {
    if (tRun) tRun->AddLine(text ? text : "", status, false);
}

void PortRun::ToolLine(const std::string& text, int status) { AddLine(text, status, true); }

void PortRun::ToolFailure(const std::string& text, const std::string& cause) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (toolCause_.empty() && progress_.Cause().empty()) toolCause_ = cause;
    }
    AddLine(text, -1, true);
}

void PortRun::AddLine(const std::string& text, int status, bool fromTool) {
    const auto now = WallClock::now();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        lines_.push_back({now, text, status, fromTool});
        // A streaming stage's lines repeat its progress, which the stage shows.
        if (!text.empty() && !(status >= 0 && progress_.Streaming())) lastLine_ = text;
        if (status < 0 && failure_.empty() && !readingIdentity_) failure_ = text;
    }
    events_.Push({now, port_, EventKind::Line, text, status, -1, fromTool, {}});
}

void PortRun::OnEvent(const FennixEvent* event, void* context) {
    // A library that fills a shorter structure lacks fields this tool reads.
    if (!event || !context || event->size < sizeof(FennixEvent)) return;
    auto* run = static_cast<PortRun*>(context);
    bool entered;
    {
        std::lock_guard<std::mutex> lock(run->mutex_);
        if (run->readingIdentity_) {
            if (event->kind == FENNIX_EVENT_END && event->cause != FENNIX_CAUSE_NONE && event->causeKey)
                run->identityCause_ = event->causeKey;
            return;
        }
        entered = run->progress_.OnEvent(*event, SteadyClock::now());
    }
    run->PushProgress(WallClock::now(), entered);
}

// A progress event when the whole percent changed or another stage began.
void PortRun::PushProgress(WallClock::time_point now, bool stageEntered) {
    int percent;
    std::string stage;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        percent = static_cast<int>(std::floor(progress_.Fraction() * 100));
        if (percent == lastPercent_ && !stageEntered) return;
        lastPercent_ = percent;
        stage = progress_.StageKey();
    }
    events_.Push({now, port_, EventKind::Progress, {}, 0, percent, false, std::move(stage)});
}

void PortRun::Run(const Flow& flow) {
    tRun = this;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        start_ = WallClock::now();
        steadyStart_ = SteadyClock::now();
        state_ = RunState::Running;
    }
    int32_t result = -1;
    bool interrupted = false;
    std::string obstacleCause;
    if (const std::string obstacle = PortObstacle(port_, &obstacleCause); !obstacle.empty()) {
        ToolFailure(obstacle, obstacleCause);
    } else {
        {
            std::lock_guard<std::mutex> lock(sessionMutex_);
            interrupted = cancelled_;
            if (!interrupted) {
                session_ = SetComPort(port_.c_str());
                SetCallBack(session_, &PortRun::OnProgress);
                SetEventCallback(session_, &PortRun::OnEvent, this);
            }
        }
        if (!interrupted) {
            result = flow(*this);
            std::lock_guard<std::mutex> lock(sessionMutex_);
            interrupted = cancelled_;
            if (!closedByCanceller_) Close(session_);
            session_ = nullptr;
        }
        // The engine tells only that the port would not open; say why, where the system can tell.
        std::string cause;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            cause = progress_.Cause();
        }
        const bool openFailed = cause == "port-missing" || cause == "port-busy" || cause == "port-forbidden";
        if (openFailed && !interrupted)
            if (const std::string users = PortUsers(port_); !users.empty()) ToolLine(users, -1);
    }
    std::lock_guard<std::mutex> lock(mutex_);
    result_ = result;
    end_ = WallClock::now();
    steadyEnd_ = SteadyClock::now();
    if (interrupted) {
        state_ = RunState::Interrupted;
        if (toolCause_.empty() && progress_.Cause().empty()) toolCause_ = "cancelled";
    } else
        state_ = result == 1 && failure_.empty() ? RunState::Succeeded : RunState::Failed;
    progress_.Finish(state_ == RunState::Succeeded);
    events_.Push({end_, port_, EventKind::Result, state_ == RunState::Failed ? failure_ : lastLine_, result,
                  static_cast<int>(std::floor(progress_.Fraction() * 100)), false, progress_.StageKey()});
}

bool PortRun::Setup(const std::function<void(FennixHandle)>& configure) {
    std::lock_guard<std::mutex> lock(sessionMutex_);
    if (cancelled_) return false;
    configure(session_);
    return true;
}

int32_t PortRun::RunFlow(const std::function<int32_t(FennixHandle)>& flow) {
    FennixHandle session;
    {
        std::lock_guard<std::mutex> lock(sessionMutex_);
        if (cancelled_) return -1;
        flowRunning_ = true;
        session = session_;
    }
    // A Cancel that comes before the export has counted the flow in closes
    // the session first; the export then fails at once on the closed handle.
    const int32_t result = flow(session);
    std::lock_guard<std::mutex> lock(sessionMutex_);
    flowRunning_ = false;
    return result;
}

bool PortRun::Cancel() {
    FennixHandle session = nullptr;
    {
        std::lock_guard<std::mutex> lock(sessionMutex_);
        if (cancelled_) return false;
        {
            std::lock_guard<std::mutex> state(mutex_);
            if (state_ == RunState::Succeeded || state_ == RunState::Failed) return false;
        }
        cancelled_ = true;
        if (flowRunning_) {
            closedByCanceller_ = true;
            session = session_;
        }
    }
    // Ends the running flow and waits for it, then frees the session; the
    // port thread touches the session no more.
    if (session) Close(session);
    return true;
}

bool PortRun::Cancelled() {
    std::lock_guard<std::mutex> lock(sessionMutex_);
    return cancelled_;
}

std::optional<DeviceIdentity> PortRun::ReadIdentity(std::string* cause) {
    FennixDeviceInfo info{};
    info.size = sizeof info;
    std::string lastLine;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        readingIdentity_ = true;
        identityCause_.clear();
        lastLine = lastLine_;
    }
    const int32_t result = RunFlow([&](FennixHandle session) { return ReadDeviceInfo(session, &info); });
    {
        std::lock_guard<std::mutex> lock(mutex_);
        readingIdentity_ = false;
        if (cause) *cause = result == 1 ? std::string() : identityCause_;
        // A read after the flow's end leaves the flow's last line to the table and the result.
        if (!lastLine.empty()) lastLine_ = lastLine;
    }
    if (result != 1) return std::nullopt;
    return IdentityOf(info);
}

void PortRun::SetResultField(const std::string& key, nlohmann::ordered_json value) {
    std::lock_guard<std::mutex> lock(mutex_);
    fields_[key] = std::move(value);
}

void PortRun::SetDeviceName(std::string name) {
    std::lock_guard<std::mutex> lock(mutex_);
    deviceName_ = std::move(name);
}

void PortRun::SetResultNote(std::string note) {
    std::lock_guard<std::mutex> lock(mutex_);
    resultNote_ = std::move(note);
}

RunSnapshot PortRun::Snapshot() const {
    std::lock_guard<std::mutex> lock(mutex_);
    RunSnapshot s;
    const auto now = SteadyClock::now();
    const bool over = state_ != RunState::Waiting && state_ != RunState::Running;
    s.port = port_;
    s.state = state_;
    s.fraction = progress_.Fraction();
    s.bytesDone = progress_.BytesDone();
    s.bytesPerSecond = progress_.BytesPerSecond(over ? steadyEnd_ : now);
    if (state_ == RunState::Running) s.stage = progress_.Stage();
    if (s.stage.empty()) s.stage = lastLine_.empty() ? RunStateName(state_) : lastLine_;
    if (state_ == RunState::Interrupted) s.stage = "interrupted: " + s.stage;
    s.stageKey = progress_.StageKey();
    s.lastLine = lastLine_;
    s.failure = failure_;
    if (state_ != RunState::Succeeded) s.cause = progress_.Cause().empty() ? toolCause_ : progress_.Cause();
    if (state_ != RunState::Succeeded) s.causeText = progress_.CauseText();
    s.result = result_;
    s.deviceName = deviceName_;
    s.resultNote = resultNote_;
    s.fields = fields_;
    if (state_ != RunState::Waiting) s.elapsed = (over ? steadyEnd_ : now) - steadyStart_;
    s.start = start_;
    s.end = end_;
    return s;
}

std::vector<LineRecord> PortRun::Lines() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
}

}  // namespace fennix::cli
