// A virtual Qualcomm MSM handset or modem behind a pseudo-terminal. It serves
// a stable path (a symbolic link to the current pty slave), answers the host's
// mode probe as an AT modem, a DIAG device or a device in download mode, takes
// part in the switches between these modes (dropping off the bus and coming
// back where a real device re-enumerates), shows configurable faults and
// records everything it saw and did.
//
// Each device runs one thread that sleeps in ppoll() until the host writes,
// an answer or the port's return falls due, or another thread changes it.
// All public operations are thread-safe.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "AtInterpreter.h"
#include "BusPresence.h"
#include "DeviceContext.h"
#include "DeviceState.h"
#include "FaultInjection.h"
#include "FrameAssembler.h"
#include "LinkModel.h"
#include "OutputSchedule.h"
#include "PacketHandlers.h"
#include "Recording.h"

namespace fennix::sim {

class CVirtualDevice {
public:
    using Clock = std::chrono::steady_clock;

    explicit CVirtualDevice(DeviceOptions options = {});
    ~CVirtualDevice();
    CVirtualDevice(const CVirtualDevice&) = delete;
    CVirtualDevice& operator=(const CVirtualDevice&) = delete;

    // Claims the stable path, opens the first pseudo-terminal and starts the
    // device thread. 0, or an errno (EALREADY when running).
    int Start();
    // Stops the thread, closes the port and removes the stable path.
    void Stop();
    bool Running() const;

    // The stable path (valid after Start until Stop).
    std::string Path() const;
    // The pty slave behind it; empty while the port has vanished.
    std::string SlavePath() const;

    // Answer bytes the host has not read yet: in the port, and still waiting
    // for room in it.
    size_t UnreadByHost() const;

    DeviceMode Mode() const;
    bool Present() const;
    uint32_t BootCount() const;

    // Changes the personality at once (answers already queued still leave as
    // they were framed); with `vanish` the port then drops off the bus after
    // those answers and comes back after the vanish time.
    void SwitchMode(DeviceMode mode, bool vanish);
    // Vanishes and comes back in the given mode with a fresh session.
    void Reboot(DeviceMode mode);
    // The port vanishes and stays away until Replug.
    void Unplug();
    // Brings a vanished port back now.
    void Replug();

    void SetFaults(const Faults& faults);
    // Arms one fault at a chosen request (FaultInjection.h), counting from now;
    // a point out of range is refused and leaves the armed one as it was.
    KnobCheck InjectFault(const FaultPoint& point);
    // Sets a registered knob (Knobs.h); an unknown name or a value out of
    // range is refused.
    KnobCheck SetKnob(const std::string& name, int64_t value);
    Faults GetFaults() const;
    DeviceOptions Options() const;
    // Runs fn on the device's state under its lock (keep it short).
    void WithState(const std::function<void(DeviceState&)>& fn);

    // Changes to this device's packet handlers (it starts with DefaultHandlers()).
    void SetHandler(DeviceMode mode, uint8_t command, PacketHandler handler);
    void AddHandler(DeviceMode mode, uint8_t command, PacketHandler handler);
    void RemoveHandler(DeviceMode mode, uint8_t command);
    void SetRequestHook(RequestHook hook);

    // Waits until the predicate holds for the device's state, or the time is up.
    bool WaitForState(const std::function<bool(const DeviceState&)>& predicate,
                      std::chrono::milliseconds timeout) const;
    bool WaitForMode(DeviceMode mode, std::chrono::milliseconds timeout) const;
    bool WaitForPresent(bool present, std::chrono::milliseconds timeout) const;

    CRecording& Recording() { return recording_; }
    const CRecording& Recording() const { return recording_; }

private:
    friend class CDeviceContext;

    // Device thread: the poll loop and the output run (DeviceLoop.cpp).
    void Run();
    // How long poll may sleep: until the next due time, or no limit (nullopt).
    std::optional<Clock::duration> PollTimeout(Clock::time_point now) const;
    void RunDueItems(Clock::time_point now);
    void TryWrite();
    void TakeHostEvents();
    void NoteQuietPort(Clock::time_point now);
    // Requests in, handlers out (RequestDispatch.cpp).
    void ProcessInput(const uint8_t* bytes, size_t n);
    void HandlePacket(const std::vector<uint8_t>& packet, const std::vector<uint8_t>& raw);
    // The injected fault for a request that arrived: sends the stray frame or
    // takes the port away now; true when the request is lost with the port.
    bool StartInjectedFault(InjectedFault fault);
    void EmitStrayFrame();
    // Unsolicited DIAG traffic (UnsolicitedTraffic.cpp).
    void SendUnsolicited(Clock::time_point now);
    bool UnsolicitedWanted() const;
    // The port leaving and coming back (DeviceSwitches.cpp).
    void DoVanish(const VanishKind& kind);
    void DoReturn();
    // Taken out after its work (options.leaveAfterIdleMs): when that falls
    // due (max: not while the host has the port open or a vanish is coming),
    // and leaving for good once it has.
    Clock::time_point IdleLeaveDue() const;
    void LeaveWhenIdle(Clock::time_point now);
    // Ends the device thread's poll at once, to look at what changed.
    void Wake();

    // Used by CDeviceContext and the AT interpreter, under the lock.
    // Applies the answer faults and queues the answer (AnswerFaults.cpp).
    void Emit(std::vector<uint8_t> packetOrText, bool framed, int command, ReplyOrder order = {});
    // When the device has the `bytes` wire bytes read at `readAt` and may
    // answer them, over the link its knobs describe; unset without a
    // modelled link (the answer goes when it is made).
    std::optional<Clock::time_point> Arrived(Clock::time_point readAt, size_t bytes);
    // Changes the personality at once; with a vanish, the port drops off
    // after the answers queued so far (DeviceSwitches.cpp).
    void QueueModeSwitch(DeviceMode mode, std::optional<VanishKind> vanish);
    void Record(EventKind kind, std::vector<uint8_t> bytes = {}, std::string text = {});
    // A vanish of the plain or the reboot kind, or none.
    static std::optional<VanishKind> VanishIf(bool vanish, bool reboot);

    mutable std::mutex mutex_;
    mutable std::condition_variable stateChanged_;
    DeviceState state_;
    CHandlerTable handlers_;
    RequestHook hook_;
    CRecording recording_;

    // Everything below is used under the lock. The pty is opened and closed
    // only by the device thread (and by Start and Stop around it).
    CBusPresence presence_;
    CFrameAssembler assembler_;
    CAtInterpreter at_;
    COutputSchedule output_;
    CLinkModel link_;
    // When the request being answered was in the device and its turnaround
    // over (unset: the answers go when they are made).
    std::optional<Clock::time_point> answerReady_;
    // The injected fault that the answers being emitted carry (None mostly).
    InjectedFault injecting_ = InjectedFault::None;
    // A switch that waits for the host to close the port.
    struct DeferredSwitch {
        bool pending = false;
        DeviceMode mode = DeviceMode::Diag;
        std::optional<VanishKind> vanish;
    } deferred_;
    Clock::time_point nextUnsolicited_;
    // Since when the host has held the port closed (its last close, or the
    // port's last appearance).
    Clock::time_point quietSince_;
    // The last bytes from the host, and whether the quiet since has been
    // noted (options.quietNoteMs).
    Clock::time_point lastInput_;
    bool quietNoted_ = true;
    uint32_t unsolicitedCount_ = 0;
    bool running_ = false;
    bool stopping_ = false;
    int wakeFd_ = -1;
    std::thread thread_;
};

}  // namespace fennix::sim
