#include "Station.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "FlowIdentity.h"
#include "Report.h"
#include "System.h"
#include "TimeText.h"

namespace fennix::station {

namespace fs = std::filesystem;
using Clock = PortWatcher::Clock;
using records::RunRecord;
using records::RunResult;

namespace {
constexpr auto kForever = Clock::time_point::max();
// A device that did not answer is asked again this often while it stays.
constexpr auto kProbeInterval = std::chrono::seconds(1);
// How long a port gone at the end of a failed run may take to come back
// before the run counts as ended by an unplug (a re-enumeration takes less).
constexpr auto kReturnWait = std::chrono::seconds(3);
// How long a device that left its socket at the end of its run may take to
// restart and come back as the same device.
constexpr auto kRestartWait = std::chrono::seconds(30);

// After a restart a device may come back with a new firmware: a device is
// known by its IMEI, else its ESN, else its MEID. Two devices of which
// neither tells one are taken as the same.
bool SameDevice(const cli::DeviceIdentity& a, const cli::DeviceIdentity& b) {
    if (!a.imei.empty() && !b.imei.empty()) return a.imei == b.imei;
    if (!a.esn.empty() && !b.esn.empty()) return a.esn == b.esn;
    if (!a.meid.empty() && !b.meid.empty()) return a.meid == b.meid;
    return true;
}

// Who the device in the port is, by a session of its own; nothing when it
// does not answer. A device in download mode answers without an identity.
bool Probe(const std::string& port, std::optional<cli::DeviceIdentity>* device) {
    FennixHandle session = SetComPort(port.c_str());
    if (!session) return false;
    FennixDeviceInfo info{};
    info.size = sizeof info;
    const int32_t result = ReadDeviceInfo(session, &info);
    Close(session);
    if (result != 1) return false;
    const cli::DeviceIdentity identity = cli::IdentityOf(info);
    if (identity.mode == "at" || identity.mode == "diag")
        *device = identity;
    else
        device->reset();
    return true;
}

std::string TtyOf(const std::string& path) {
    std::error_code error;
    const fs::path target = fs::canonical(path, error);
    return error ? path : target.string();
}

std::string Text(const nlohmann::ordered_json& fields, const char* key) {
    const auto it = fields.find(key);
    return it != fields.end() && it->is_string() ? it->get<std::string>() : std::string();
}

// What the run's flow told the record through its result fields.
void TakeResultFields(const nlohmann::ordered_json& fields, RunRecord& record) {
    if (const auto after = fields.find("device_after"); after != fields.end() && after->is_object()) {
        record.versionAfter = Text(*after, "version_dir");
        record.buildIdAfter = Text(*after, "build_id");
        // A device found in download mode tells who it is only after its flash.
        if (record.esn.empty() && record.imei.empty() && record.meid.empty()) {
            record.esn = Text(*after, "esn");
            record.imei = Text(*after, "imei");
            record.meid = Text(*after, "meid");
        }
    }
    record.backupPath = Text(fields, "backup_path");
    record.backupSha256 = Text(fields, "backup_sha256");
    if (const auto missing = fields.find("missing"); missing != fields.end() && missing->is_array()) {
        std::vector<int32_t> items;
        for (const auto& item : *missing)
            if (item.is_number_integer()) items.push_back(item.get<int32_t>());
        record.missingItems = std::move(items);
    }
    if (const auto verified = fields.find("nv_verified"); verified != fields.end() && verified->is_boolean())
        record.nvVerified = verified->get<bool>();
}

nlohmann::ordered_json OrNull(const std::string& text) {
    return text.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(text);
}

SocketState StateOf(RunResult result) {
    switch (result) {
        case RunResult::Success: return SocketState::Passed;
        case RunResult::Interrupted: return SocketState::Interrupted;
        default: return SocketState::Failed;
    }
}
}  // namespace

Station::Station(const StationSettings& settings, const Recipe& recipe, records::RecordDb& db, StationView& view)
    : settings_(settings), recipe_(recipe), db_(db), view_(view) {}

Station::~Station() {
    stopping_ = true;
    watcher_.Wake();
    std::lock_guard<std::mutex> lock(socketsMutex_);
    for (auto& socket : sockets_)
        if (socket->thread.joinable()) socket->thread.join();
}

void Station::Notice(const std::string& socket, const std::string& text, bool loud) {
    if (loud) std::fprintf(stderr, "fennix station: %s\n", text.c_str());
    Push(StationEventKind::Notice, socket, {{"text", text}});
}

void Station::Push(StationEventKind kind, const std::string& socket, nlohmann::ordered_json fields) {
    StationEvent event;
    event.time = cli::WallClock::now();
    event.kind = kind;
    event.socket = socket;
    event.fields = std::move(fields);
    events_.Push(std::move(event));
}

void Station::AddSocket(const std::string& path) {
    std::lock_guard<std::mutex> lock(socketsMutex_);
    if (stopping_) return;
    for (const auto& socket : sockets_)
        if (socket->path == path) return;
    auto socket = std::make_unique<Socket>();
    socket->path = path;
    socket->state.socket = path;
    watcher_.AddPath(path);
    Socket& added = *socket;
    sockets_.push_back(std::move(socket));
    added.thread = std::thread([this, &added] {
        Serve(added);
        added.finished = true;
    });
}

void Station::Serve(Socket& socket) {
    while (!stopping_) {
        if (!watcher_.WaitFor(socket.path, true, kForever, stopping_)) continue;
        std::optional<cli::DeviceIdentity> device;
        bool answered = false, told = false;
        while (!stopping_ && watcher_.Present(socket.path)) {
            if ((answered = Probe(socket.path, &device))) break;
            if (!told) {
                const std::string obstacle = cli::PortObstacle(socket.path);
                Notice(socket.path, "The device in " + socket.path +
                                        " does not answer; it is not served until it does (or another comes)" +
                                        (obstacle.empty() ? "." : ": " + obstacle + "."));
            }
            told = true;
            watcher_.WaitFor(socket.path, false, Clock::now() + kProbeInterval, stopping_);
        }
        if (!answered || stopping_) continue;
        std::optional<cli::DeviceIdentity> inSocket;
        if (!Treat(socket, device, &inSocket)) return;
        // A device left in its socket is not served twice: the next one comes after it left.
        if (!socket.unplugged && !WaitUntilLeft(socket, inSocket)) return;
        Push(StationEventKind::DeviceLeft, socket.path, {{"port", socket.state.port}});
        std::lock_guard<std::mutex> lock(socket.mutex);
        socket.state.port.clear();
        socket.state.device.reset();
        socket.state.run.reset();
        socket.state.state = SocketState::Waiting;
    }
}

bool Station::WaitUntilLeft(Socket& socket, std::optional<cli::DeviceIdentity> inSocket) {
    for (;;) {
        if (watcher_.WaitFor(socket.path, false, kForever, stopping_)) return false;
        // The reset at the end of a flash takes the port away while the
        // device restarts: the same device back within the time is still in.
        // A device its run saw come back has restarted already: gone now is taken out.
        const auto end = Clock::now() + (socket.seenBack ? kReturnWait : kRestartWait);
        if (!watcher_.WaitFor(socket.path, true, end, stopping_)) return !stopping_;
        std::optional<cli::DeviceIdentity> back;
        bool answered = false;
        while (!stopping_ && !answered && watcher_.Present(socket.path) && Clock::now() < end)
            if (!(answered = Probe(socket.path, &back)))
                watcher_.WaitFor(socket.path, false, Clock::now() + kProbeInterval, stopping_);
        if (stopping_) return false;
        // A device in download mode tells no identity: where the one in the
        // socket told one, a device that answers so is another one (the one
        // that was in came back restarted, not in download mode).
        if (answered && !back && inSocket) return true;
        if (answered && back && inSocket && !SameDevice(*back, *inSocket)) return true;
        if (answered && back) inSocket = back;
    }
}

bool Station::Treat(Socket& socket, const std::optional<cli::DeviceIdentity>& device,
                    std::optional<cli::DeviceIdentity>* inSocket) {
    *inSocket = device;
    socket.unplugged = false;
    socket.seenBack = false;
    Arrival arrival{socket.path, TtyOf(socket.path), device, cli::WallClock::now()};
    const nlohmann::ordered_json identity = device ? cli::IdentityJson(*device) : nlohmann::ordered_json();
    Push(StationEventKind::DeviceArrived, socket.path, {{"port", arrival.port}, {"device", identity}});
    {
        std::lock_guard<std::mutex> lock(socket.mutex);
        socket.state.port = arrival.port;
        socket.state.device = device;
        socket.state.run.reset();
    }

    RunRecord record;
    record.station = settings_.name;
    record.socket = socket.path;
    record.port = arrival.port;
    record.operatorName = settings_.operatorName;
    record.recipe = recipe_.name;
    record.startedAt = cli::IsoTime(arrival.at);
    if (device) {
        record.esn = device->esn;
        record.imei = device->imei;
        record.meid = device->meid;
        record.versionBefore = device->versionDir;
        record.buildIdBefore = device->buildId;
    }
    for (const auto& file : recipe_.files) record.files.push_back({file.path, file.size, file.sha256});
    record.toolVersion = cli::ToolVersion();
    record.libraryVersion = cli::LibraryVersion();
    std::string error;
    record.id = db_.Begin(record, &error);
    if (record.id == 0) {
        RecordFailure(error);
        return false;
    }
    Push(StationEventKind::RunStarted, socket.path,
         {{"run_id", record.id}, {"recipe", recipe_.name}, {"port", arrival.port}, {"device", identity}});

    cli::PortRun run(socket.path, recipe_.progress(), flowEvents_);
    {
        std::lock_guard<std::mutex> lock(socket.mutex);
        socket.run = &run;
        socket.state.state = SocketState::Running;
    }
    // A cancel of every run that came while this one was being set up.
    if (cancelling_) run.Cancel();
    run.Start([this, &arrival](cli::PortRun& port) {
        cli::RecordIdentity(port, "device", arrival.device);
        return recipe_.run(port, arrival);
    });
    run.Join();
    const cli::RunSnapshot snapshot = run.Snapshot();

    if (snapshot.state == cli::RunState::Succeeded)
        record.result = RunResult::Success;
    else if (snapshot.state == cli::RunState::Interrupted)
        record.result = RunResult::Interrupted;
    else {
        // A device unplugged in the middle of its run: the port is gone and stays gone.
        const std::atomic<bool> never{false};
        const bool back = watcher_.WaitFor(socket.path, true, Clock::now() + kReturnWait, never);
        record.result = back ? RunResult::Failed : RunResult::Interrupted;
        socket.unplugged = !back;
    }
    record.endedAt = cli::IsoTime(snapshot.end);
    if (record.result != RunResult::Success) record.cause = snapshot.cause;
    record.stage = snapshot.stageKey;
    record.bytes = snapshot.bytesDone;
    TakeResultFields(snapshot.fields, record);
    if (const auto after = snapshot.fields.find("device_after"); after != snapshot.fields.end() && after->is_object()) {
        cli::DeviceIdentity flashed;
        flashed.imei = Text(*after, "imei");
        flashed.esn = Text(*after, "esn");
        flashed.meid = Text(*after, "meid");
        *inSocket = flashed;
        socket.seenBack = true;
    }
    for (const auto& line : run.Lines()) record.lines.push_back({cli::IsoTime(line.time), line.text, line.status});
    const bool completed = db_.Complete(record, &error);
    {
        std::lock_guard<std::mutex> lock(socket.mutex);
        socket.run = nullptr;
        socket.state.run = snapshot;
        socket.state.state = StateOf(record.result);
        socket.state.last = LastRun{records::RunResultName(record.result), record.cause, snapshot.causeText,
                                    record.imei, record.endedAt};
    }
    {
        std::lock_guard<std::mutex> lock(countersMutex_);
        counters_.passed += record.result == RunResult::Success;
        counters_.failed += record.result == RunResult::Failed;
        counters_.interrupted += record.result == RunResult::Interrupted;
    }
    nlohmann::ordered_json ended{
        {"run_id", record.id},           {"result", records::RunResultName(record.result)},
        {"cause", OrNull(record.cause)}, {"cause_text", OrNull(snapshot.causeText)},
        {"stage", record.stage},         {"seconds", std::chrono::duration<double>(snapshot.elapsed).count()},
        {"port", record.port},           {"imei", record.imei},
        {"bytes", record.bytes},         {"recorded", completed}};
    for (const auto& [key, value] : snapshot.fields.items()) ended[key] = value;
    Push(StationEventKind::RunEnded, socket.path, std::move(ended));
    if (!completed) {
        RecordFailure(error);
        return false;
    }
    return true;
}

void Station::RecordFailure(const std::string& error) {
    // A station that cannot record does not treat devices it would leave unrecorded.
    recordFailed_ = true;
    Notice({}, "The record database cannot be written (" + error + "); no further device is taken.", true);
}

std::vector<StationEvent> Station::TakeEvents() {
    // The station's events first: a run's flow events were all queued before its run-ended.
    std::vector<StationEvent> events = events_.Take();
    for (auto& flow : flowEvents_.Take()) {
        StationEvent event;
        event.time = flow.time;
        event.kind = StationEventKind::Flow;
        event.socket = flow.port;
        event.flow = std::move(flow);
        events.push_back(std::move(event));
    }
    std::stable_sort(events.begin(), events.end(),
                     [](const StationEvent& a, const StationEvent& b) { return a.time < b.time; });
    return events;
}

std::vector<SocketSnapshot> Station::Snapshots() {
    std::vector<SocketSnapshot> all;
    std::lock_guard<std::mutex> lock(socketsMutex_);
    for (auto& socket : sockets_) {
        std::lock_guard<std::mutex> state(socket->mutex);
        all.push_back(socket->state);
        if (socket->run) all.back().run = socket->run->Snapshot();
    }
    return all;
}

bool Station::AllFinished() {
    std::lock_guard<std::mutex> lock(socketsMutex_);
    return std::all_of(sockets_.begin(), sockets_.end(), [](const auto& socket) { return socket->finished.load(); });
}

void Station::CancelRuns() {
    std::lock_guard<std::mutex> lock(socketsMutex_);
    for (auto& socket : sockets_) {
        std::lock_guard<std::mutex> state(socket->mutex);
        if (socket->run) socket->run->Cancel();
    }
}

int Station::Run(const std::atomic<int>& signals) {
    for (const auto& path : settings_.sockets)
        if (path != "auto") AddSocket(path);
    if (std::find(settings_.sockets.begin(), settings_.sockets.end(), "auto") != settings_.sockets.end()) {
        const std::vector<std::string> folders =
            settings_.autoDirs.empty() ? std::vector<std::string>{"/dev/serial/by-path"} : settings_.autoDirs;
        for (const auto& folder : folders)
            watcher_.WatchFolder(folder, [this](const std::string& path) { AddSocket(path); });
    }
    if (const std::string error = watcher_.Start(); !error.empty()) {
        std::fprintf(stderr, "fennix station: the ports cannot be watched: %s\n", error.c_str());
        stopping_ = true;
        watcher_.Wake();
        for (auto& socket : sockets_) socket->thread.join();
        return 1;
    }

    Clock::time_point drainEnd = kForever;
    for (;;) {
        const int presses = signals.load();
        if (!stopping_ && (presses >= 1 || recordFailed_)) {
            {
                std::lock_guard<std::mutex> lock(socketsMutex_);
                stopping_ = true;
            }
            watcher_.Wake();
            drainEnd = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                          std::chrono::duration<double>(settings_.drainTimeoutSeconds));
            int running = 0;
            for (const auto& s : Snapshots()) running += s.state == SocketState::Running;
            if (presses >= 1)
                Notice({}, "Stopping: no new device is taken; " + std::to_string(running) +
                               " running run(s) may end. A second Ctrl-C cancels them.");
        }
        if (stopping_ && !cancelling_ && (presses >= 2 || Clock::now() >= drainEnd)) {
            cancelling_ = true;
            CancelRuns();
            Notice({}, presses >= 2 ? "Cancelling the running runs."
                                    : "The drain time is over: cancelling the running runs.");
        }
        const bool over = stopping_ && AllFinished();
        Counters counters;
        {
            std::lock_guard<std::mutex> lock(countersMutex_);
            counters = counters_;
        }
        view_.Update(TakeEvents(), Snapshots(), counters);
        if (over) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    {
        std::lock_guard<std::mutex> lock(socketsMutex_);
        for (auto& socket : sockets_) socket->thread.join();
    }
    watcher_.Stop();
    Counters counters;
    {
        std::lock_guard<std::mutex> lock(countersMutex_);
        counters = counters_;
    }
    view_.Update(TakeEvents(), Snapshots(), counters);
    view_.Finish(Snapshots(), counters);
    return recordFailed_ ? 1 : 0;
}

}  // namespace fennix::station
