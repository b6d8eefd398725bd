// CSerialIO: the serial channel of one session. It opens one port, runs a
// listener thread that reads it, works out the device's mode (AT command, DIAG
// or download) from its answer to a probe, keeps the received bytes in a
// growing read buffer and tells the one IChannelListener it was given. It
// offers writes, reads from the read buffer and a raw request/reply read for
// the mode switches, which talk to the device without the packet layer.
//
// Threads: the session's flow thread (Open, Close, Write, Read, the switches,
// polling the phone mode) and the listener (port reads, detection, appends,
// notifications). The port lock serialises open, close, setup and every port
// write; the buffer lock serialises the read buffer. Modes, flags and the
// writes-in-flight counter are atomics polled across threads.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "platform/Event.h"
#include "platform/SerialPort.h"
#include "serial/PhoneMode.h"
#include "serial/ProbeClassifier.h"
#include "serial/ChannelResult.h"
#include "serial/ReadBuffer.h"
#include "serial/Timeouts.h"

namespace fennix {

// What the channel tells the layer above, on the listener thread. The listener
// reads nothing from the port until OnChannelEvent returns.
class IChannelListener {
public:
    // A notification code (kNotify*, PhoneMode.h).
    virtual void OnChannelEvent(uint32_t code) = 0;

protected:
    ~IChannelListener() = default;
};

class CSerialIO {
public:
    static constexpr uint32_t kChunkSize = 4096;        // one port read
    static constexpr uint32_t kDriverQueueSize = 4096;  // driver queues, each way
    static constexpr uint32_t kBaudRates[3] = {115200, 230400, 460800};
    static constexpr const uint8_t (&kProbe)[10] = kDetectionProbe;

    // The time table is captured here (FENNIX_TIME_SCALE read once).
    // `listener` (may be null) is told the notifications; it has to outlive
    // the listener thread (StopListener).
    CSerialIO();
    explicit CSerialIO(const Timeouts& times, IChannelListener* listener = nullptr);
    ~CSerialIO();
    CSerialIO(const CSerialIO&) = delete;
    CSerialIO& operator=(const CSerialIO&) = delete;

    // Names the port and starts the listener, which opens and probes it. Ok;
    // AlreadyOpen when a port is open or a listener still runs (nothing else
    // happens); SystemError when the listener cannot start.
    ChannelResult Open(const char* portName, uint32_t baudRate);
    // Open for the start of a flow: the port is opened here, on the caller's
    // thread, and handed to the listener, so that a port that is missing,
    // held by another program or not permitted fails at once. Ok; AlreadyOpen
    // as Open; otherwise nothing is started and the result is NothingDone for
    // a port the system does not have, else SystemError, with the reason in
    // LastOpenFailure() and the log.
    ChannelResult OpenNow(const char* portName, uint32_t baudRate);
    // Why the latest OpenNow failed (None after one that succeeded).
    platform::PortOpenFailure LastOpenFailure() const { return lastOpenFailure_.load(); }
    // Stops the listener (at most the listener stop wait) and closes the port:
    // Closed when it closed the port itself, SystemError when that failed,
    // else the last result (Ok when the listener had already closed it).
    ChannelResult Close();
    // NothingDone while writes are blocked; otherwise InternalWrite's result.
    // `written` may be null.
    ChannelResult Write(const uint8_t* bytes, uint32_t count, uint32_t* written);
    // Copies up to `capacity` unread bytes out of the read buffer: Ok; NoPort
    // when no port is open. `bytesRead` may be null.
    ChannelResult Read(uint8_t* buffer, uint32_t capacity, uint32_t* bytesRead);

    // Ok; NothingDone when the port is not registered (after the
    // unregistered-port pause); AlreadyOpen; SystemError. Takes the next baud
    // rate of the table.
    ChannelResult InternalOpen();
    // The last result (Ok normally).
    ChannelResult InternalClose();
    // Configures the open port: Ok or SystemError.
    ChannelResult InternalResetCOM();
    // Writes to the port under the port lock; the bytes have left when it
    // returns Ok. Ok; NoPort; TimedOut; SystemError. Marks the start of a
    // request for WaitandReadBuffer (see there).
    ChannelResult InternalWrite(const uint8_t* bytes, uint32_t count, uint32_t* written);

    // Ok, or SystemError when no thread could be made. An existing listener
    // is kept.
    ChannelResult StartListener();
    // Stops the listener, waiting at most `waitMs` (platform::kWaitForever:
    // no limit), and sets the phone mode to 3. A listener that does not end
    // in time is kept and waited for again by the next stop.
    void StopListener(uint32_t waitMs);

    // Raw reply read for the mode switches, used right after a request was
    // written with InternalWrite (whose start marks the request). Waits at
    // most the raw reply wait (2000 ms) for bytes that arrived after the
    // latest request, however early they came (even before this call), then
    // drops unread bytes that had arrived before the request and reads like
    // Read. Ok; NothingDone when nothing arrived in time; NoPort. A second
    // call after the same request waits for bytes newer than those already
    // read. `bytesRead` may be null.
    ChannelResult WaitandReadBuffer(uint8_t* buffer, uint32_t capacity, uint32_t* bytesRead);

    // Whether the channel's port is among the system's serial ports.
    bool IsPortRegistered();
    // Upper-cases at most 15 characters and reads the decimal number after the
    // first "M" (0 when there is none): com12 and COM12 both give 12.
    static uint32_t ParsePortNumber(const char* text);

    // The next open (InternalOpen) keeps the rate in use instead of taking
    // the next one of the table.
    void KeepBaudRate();

    // Ends the conversation for good, from any thread: every wait and pause
    // of the flow thread on the channel (raw reads, detection polls, switch
    // pauses) returns at once from now on and reports failure, so that the
    // flow ends promptly and closes the port on its way out. The listener
    // is left to the flow's close.
    void Cancel();
    bool Cancelled() const { return cancelled_.load(); }
    // A pause of the flow thread: false, at once or as soon as it happens,
    // when the channel is cancelled.
    bool Pause(uint32_t milliseconds);

    // Phone mode (kPhoneMode*).
    uint32_t GetPhoneMode() const { return phoneMode_.load(); }
    void SetPhoneMode(uint32_t mode) { phoneMode_.store(mode); }

    // While set, Write refuses at once with NothingDone.
    bool WritesBlocked() const { return writesBlocked_.load() != 0; }
    void SetWritesBlocked(bool blocked) { writesBlocked_.store(blocked ? 1 : 0); }
    // While set, the listener sends no read notification (it still appends).
    bool NotificationsSuppressed() const { return notificationsSuppressed_.load() != 0; }
    void SetNotificationsSuppressed(bool suppressed) { notificationsSuppressed_.store(suppressed ? 1 : 0); }
    // While set, every detection pass closes and reopens the port.
    bool ReopenOnDetection() const { return reopen_.load() != 0; }
    void SetReopenOnDetection(bool reopen) { reopen_.store(reopen ? 1 : 0); }
    // Number of Write calls inside the port write.
    uint32_t WritesInFlight() const { return writesInFlight_.load(); }

    // The baud rate in use.
    uint32_t CurrentBaudRate() const { return currentBaudRate_.load(); }

    // Names: the port field of log lines (COM5; the device path's last
    // component on Linux) and what the port is opened by.
    const char* PortName() const { return portName_.c_str(); }
    const char* DevicePath() const { return devicePath_.c_str(); }

    // The result of the latest port step and, beside it, the system's error
    // number behind a SystemError (0 otherwise).
    ChannelResult LastResult() const { return last_.load().result; }
    int LastSystemError() const { return last_.load().systemError; }
    ChannelOutcome LastOutcome() const { return last_.load(); }
    bool IsPortOpen() const;
    bool IsListenerRunning() const;
    // Unread bytes of the read buffer.
    uint32_t UnreadBytes() const;
    // Drops every unread byte of the read buffer.
    void DiscardUnreadBytes();

    const Timeouts& Times() const { return times_; }

    // For the listener's OnChannelEvent:
    // A stop of the listener has been asked for (StopListener, or a failed
    // port wait) and the listener has not ended yet.
    bool StopRequested() const { return stop_.load() != 0; }
    // Keeps `result` (and the system error behind it) as the last result.
    ChannelResult Record(ChannelResult result, int systemError = 0);
    ChannelResult RecordSystemError(const platform::PortResult& step);

    // Frame-taken signal of the layer above: the taker sets it, the listener
    // waits on it inside OnChannelEvent. StopListener sets it too, releasing
    // such a wait. Reset whenever a listener starts.
    platform::AutoResetEvent& ReadEvent() { return readEvent_; }

    // Inside OnChannelEvent: sleeps until the port has bytes to read, a stop
    // or WakeListener, or `milliseconds` pass, reading nothing.
    // False only when the time passed. Returns at once (true) on a system
    // whose ports cannot be waited on without a read.
    bool WaitForPortInput(uint32_t milliseconds) { return port_.WaitForInput(milliseconds); }
    // Ends a WaitForPortInput (or a port read) under way, or else the next one.
    void WakeListener() { port_.WakeReader(); }

protected:
    // For channels made for tests.
    bool Destroying() const { return destroying_.load() != 0; }
    // The naming half of Open: port number, device path and log name, without
    // starting the listener. AlreadyOpen (names unchanged) while a port is
    // open or a listener runs, else Ok.
    ChannelResult NamePort(const char* portName);
    // Appends received bytes to the read buffer (takes the buffer lock itself),
    // growing it in 8192-byte steps or compacting it in place. Returns `count`.
    uint32_t AppendBuffer(const uint8_t* bytes, uint32_t count);
    uint32_t BufferCapacity() const;
    // The table entry of the baud rate the next open uses.
    uint32_t BaudRateIndex() const { return baudRateIndex_.load(); }

private:
    // Writes the 10-byte detection probe: true when all of it was written.
    bool SendProbe();
    // Opens the port and the listener starts afresh: the packet layer's
    // writes and notifications are let in again.
    void LetLayerAboveIn();
    // The listener's append of a chunk read outside detection: false (and
    // nothing appended) when the phone mode went back to unknown meanwhile.
    bool AppendUnlessDetecting(const uint8_t* bytes, uint32_t count);
    void ThreadProc();
    void Notify(uint32_t code, const char* line);
    void CloseAfterFailedOpen();
    // InternalOpen after the registration check.
    ChannelResult OpenRegisteredPort();
    // A pause of the listener (or of InternalOpen on either thread): ends
    // early on a stop, and on a cancel too when `orCancel`.
    void PauseUnlessStopped(uint32_t milliseconds, bool orCancel = false);

    Timeouts times_;
    IChannelListener* const listener_;
    mutable std::recursive_mutex portLock_;  // InternalOpen holds it across InternalResetCOM
    std::string devicePath_;
    std::string portName_;
    std::atomic<uint32_t> currentBaudRate_{0};
    std::atomic<ChannelOutcome> last_{ChannelOutcome{}};
    static_assert(std::atomic<ChannelOutcome>::is_always_lock_free, "the last result is read from any thread");
    platform::SerialPort port_;
    std::atomic<bool> portOpen_{false};
    platform::AutoResetEvent readEvent_;
    std::atomic<uint32_t> stop_{0};
    std::thread listenerThread_;              // touched by the flow thread only
    std::atomic<bool> listenerDone_{false};   // the listener has left ThreadProc
    platform::AutoResetEvent listenerEnded_;  // set as it leaves
    std::atomic<uint32_t> destroying_{0};
    std::atomic<uint32_t> phoneMode_{kPhoneModeStopped};

    ReadBuffer readBuffer_;

    std::atomic<uint32_t> writesInFlight_{0};
    std::atomic<uint32_t> notificationsSuppressed_{0};
    std::atomic<uint32_t> writesBlocked_{0};
    std::atomic<uint32_t> baudRateIndex_{0};
    uint32_t portNumber_ = 0;
    std::atomic<uint32_t> reopen_{1};

    // OpenNow opened the port: the listener's first detection pass uses it
    // as it is.
    std::atomic<bool> portHandedToListener_{false};
    std::atomic<platform::PortOpenFailure> lastOpenFailure_{platform::PortOpenFailure::None};
    std::atomic<bool> cancelled_{false};
    std::mutex pauseLock_;
    std::condition_variable pauseWake_;  // a stop or a cancel
};

}  // namespace fennix
