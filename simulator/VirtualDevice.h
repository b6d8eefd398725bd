// A virtual Qualcomm MSM handset or modem behind a pseudo-terminal. It serves
// a stable path (a symbolic link to the current pty slave), answers the host's
// mode probe as an AT modem, a DIAG device or a device in download mode, takes
// part in the switches between these modes (dropping off the bus and coming
// back where a real device re-enumerates), shows configurable faults and
// records everything it saw and did.
//
// Each device runs one thread that sleeps in poll() until the host writes,
// an answer or the port's return falls due, or another thread changes it.
// All public operations are thread-safe.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "AtInterpreter.h"
#include "DeviceContext.h"
#include "DeviceState.h"
#include "FaultInjection.h"
#include "FrameAssembler.h"
#include "PacketHandlers.h"
#include "Pty.h"
#include "Recording.h"
#include "StablePath.h"

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

    DeviceMode Mode() const;
    bool Present() const;
    uint32_t BootCount() const;

    // Changes the personality at once; the port stays.
    void SetMode(DeviceMode mode);
    // Changes the personality after pending answers, optionally vanishing.
    void SwitchMode(DeviceMode mode, bool vanish);
    // Vanishes and comes back in the given mode with a fresh session.
    void Reboot(DeviceMode mode);
    // The port vanishes and stays away until Replug.
    void Unplug();
    // Brings a vanished port back now.
    void Replug();

    void SetFaults(const Faults& faults);
    // Arms one fault at a chosen request (FaultInjection.h), counting from now.
    void InjectFault(const FaultPoint& point);
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

    struct OutputItem {
        enum class Kind { Write, Vanish } kind = Kind::Write;
        bool unsolicited = false;  // Write: recorded as unsolicited traffic
        Clock::time_point due;
        std::vector<uint8_t> bytes;  // Write: wire bytes
        DeviceMode mode = DeviceMode::Diag;  // Write: mode it was framed for
        bool reboot = false;       // Vanish: the return is a reboot
        bool stayAway = false;     // Vanish: wait for Replug
        bool glitch = false;       // Vanish: the return keeps the boot (the firmware ran on)
        Clock::time_point drainUntil;  // Vanish: latest time to wait for the host to read
    };

    void Run();
    void ProcessInput(const uint8_t* bytes, size_t n);
    void HandlePacket(const std::vector<uint8_t>& packet, const std::vector<uint8_t>& raw);
    // The injected fault for a request that arrived: sends the stray frame or
    // takes the port away now; true when the request is lost with the port.
    bool StartInjectedFault(InjectedFault fault);
    void EmitStrayFrame();
    void RunDueItems(Clock::time_point now);
    void TryWrite();
    void DoVanish(const OutputItem& item);
    void DoReturn();
    void TakeHostEvents();
    void SendUnsolicited(Clock::time_point now);
    bool UnsolicitedWanted() const;
    int PollTimeoutMs(Clock::time_point now) const;
    void Wake();

    // Used by CDeviceContext and the AT interpreter, under the lock.
    void Emit(std::vector<uint8_t> packetOrText, bool framed, int command);
    void QueueModeSwitch(DeviceMode mode, bool vanish, bool reboot, bool stayAway, bool glitch = false);
    void Record(EventKind kind, std::vector<uint8_t> bytes = {}, std::string text = {});
    Clock::time_point LastDue() const;

    mutable std::mutex mutex_;
    mutable std::condition_variable stateChanged_;
    DeviceState state_;
    CHandlerTable handlers_;
    RequestHook hook_;
    CRecording recording_;

    // Everything below is used under the lock. The pty is opened and closed
    // only by the device thread (and by Start and Stop around it).
    CPty pty_;
    CFrameAssembler assembler_;
    CAtInterpreter at_;
    std::vector<uint8_t> pendingWrite_;
    CStablePath path_;
    std::string pathText_;
    std::string slavePath_;
    std::deque<OutputItem> output_;
    bool vanishPending_ = false;
    bool returnPending_ = false;
    bool rebootOnReturn_ = false;
    bool glitchReturn_ = false;
    // The injected fault that the answers being emitted carry (None mostly).
    InjectedFault injecting_ = InjectedFault::None;
    struct DeferredSwitch {
        bool pending = false;
        DeviceMode mode = DeviceMode::Diag;
        bool vanish = false;
        bool reboot = false;
    } deferred_;
    Clock::time_point nextUnsolicited_;
    uint32_t unsolicitedCount_ = 0;
    Clock::time_point returnAt_;
    bool running_ = false;
    bool stopping_ = false;
    int wakeFd_ = -1;
    std::thread thread_;
};

}  // namespace fennix::sim
