// One port's flow on a thread of its own: the session, the progress and event
// callbacks, the lines it reported, its stage and its result. The main thread reads snapshots and
// may cancel the flow (Ctrl-C) by closing the session.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "DeviceIdentity.h"
#include "Events.h"
#include "Progress.h"
#include "fennix/fennix.h"

namespace fennix::cli {

enum class RunState { Waiting, Running, Succeeded, Failed, Interrupted };
const char* RunStateName(RunState state);
// A flow's result code as the library's documentation writes it: the 32 bits
// in hexadecimal ("0xF0000313"; 1 is "0x00000001").
std::string CodeHex(int32_t code);

struct LineRecord {
    WallClock::time_point time;
    std::string text;
    int status = 0;
    bool fromTool = false;
};

struct RunSnapshot {
    std::string port;
    RunState state = RunState::Waiting;
    double fraction = 0;
    uint64_t bytesDone = 0;
    double bytesPerSecond = 0;
    std::string stage;      // what it is doing now
    std::string stageKey;   // the stable name of the stage it is in, or ended in ("image-write")
    std::string lastLine;   // the last non-empty line
    std::string failure;    // the first failure line
    std::string cause;      // why it failed ("port-busy"); empty on success or when none is known
    std::string causeText;  // the engine's sentence for that cause; empty when the engine gave none
    int32_t result = 0;
    std::string deviceName;  // who the device is, for people (its IMEI); empty when not known
    std::string resultNote;  // a word about the result for the table ("7 listed, 5 backed up")
    nlohmann::ordered_json fields = nlohmann::ordered_json::object();  // added to the result event and record
    SteadyClock::duration elapsed{};
    WallClock::time_point start, end;
};

class PortRun {
public:
    // Runs on the port's thread; reaches the session only through Setup and
    // RunFlow, and returns the flow's result (1 for success).
    using Flow = std::function<int32_t(PortRun&)>;

    PortRun(std::string port, ProgressModel model, EventQueue& events);
    ~PortRun();
    PortRun(const PortRun&) = delete;
    PortRun& operator=(const PortRun&) = delete;

    void Start(Flow flow);
    void Join();
    // From another thread: ends a running flow (its session's Close) or keeps
    // a waiting one from starting. True when there was a flow to stop.
    bool Cancel();
    // Whether Cancel stopped this run (from the port's thread: its flow goes no further).
    bool Cancelled();

    // Calls that configure the session (setters, the duck import): false,
    // without calling, once the run is cancelled.
    bool Setup(const std::function<void(FennixHandle)>& configure);
    // A device flow (StartDownload, NVArrayToMobile, ...), which a cancel
    // ends by closing the session; -1 without calling once cancelled.
    int32_t RunFlow(const std::function<int32_t(FennixHandle)>& flow);

    // A line of the tool itself, reported like the engine's.
    void ToolLine(const std::string& text, int status);
    // A failure of the tool itself: its line, and the cause (one of the
    // engine's cause names, or the tool's own "model-mismatch") unless the
    // port already failed with one.
    void ToolFailure(const std::string& text, const std::string& cause);

    // Reads who the device is (ReadDeviceInfo on the session); nothing when
    // the device did not answer or the run was cancelled. The read's lines are
    // the port's like any others, but its events do not move the port's
    // progress and its failure lines do not fail the port: the flow around it
    // decides what a device that could not be read means (`cause`: the read's
    // cause then, as the engine names it; empty when it gave none).
    std::optional<DeviceIdentity> ReadIdentity(std::string* cause = nullptr);
    // A field of the port's JSON result event and record ("device", "missing").
    void SetResultField(const std::string& key, nlohmann::ordered_json value);
    void SetDeviceName(std::string name);
    void SetResultNote(std::string note);

    const std::string& Port() const { return port_; }
    RunSnapshot Snapshot() const;
    std::vector<LineRecord> Lines() const;

private:
    static void OnProgress(const char* text, int32_t status);
    static void OnEvent(const FennixEvent* event, void* context);
    void PushProgress(WallClock::time_point now, bool stageEntered);
    void Run(const Flow& flow);
    void AddLine(const std::string& text, int status, bool fromTool);

    const std::string port_;
    EventQueue& events_;
    std::thread thread_;

    mutable std::mutex mutex_;  // guards the report state below
    ProgressModel progress_;
    RunState state_ = RunState::Waiting;
    std::vector<LineRecord> lines_;
    std::string lastLine_, failure_, toolCause_;
    std::string deviceName_, resultNote_;
    nlohmann::ordered_json fields_ = nlohmann::ordered_json::object();
    int32_t result_ = 0;
    int lastPercent_ = -1;
    SteadyClock::time_point steadyStart_, steadyEnd_;
    WallClock::time_point start_, end_;

    // Who closes the session: the port thread at its end, or the cancelling
    // thread when a flow is running then (Close ends the flow and waits for
    // it). Setters run under this lock, so a Close never meets one; it is
    // never taken inside the callback.
    std::mutex sessionMutex_;
    FennixHandle session_ = nullptr;
    bool cancelled_ = false;
    bool flowRunning_ = false;
    bool closedByCanceller_ = false;
    bool readingIdentity_ = false;  // guarded by mutex_, like the read's cause
    std::string identityCause_;
};

}  // namespace fennix::cli
