// The listener thread: its start and stop, the detection probe, and the loop
// that reads the port, works out the device's mode from the probe's answer
// and hands later bytes to the read buffer and the layer above.
#include <system_error>
#include <vector>

#include "log/Log.h"
#include "serial/SerialIO.h"

namespace fennix {

ChannelResult CSerialIO::StartListener() {
    static const char* const kFunction = "CSerialIO::StartListener";
    LogPortLine(kLogWarning, PortName(), kFunction, "Start listener.");
    if (IsListenerRunning()) {
        LogPortLine(kLogWarning, PortName(), kFunction, "Thread has already existed.");
    } else {
        // A listener that ended by itself (its wait failed) is collected here.
        if (listenerThread_.joinable()) listenerThread_.join();
        stop_.store(0);
        readEvent_.Reset();
        listenerEnded_.Reset();
        port_.DiscardWake();
        listenerDone_.store(false);
        try {
            listenerThread_ = std::thread(&CSerialIO::ThreadProc, this);
        } catch (const std::system_error& failure) {
            const int error = failure.code().value();
            listenerDone_.store(true);
            LogPortLine(kLogError, PortName(), kFunction, "Start listener failed.");
            LogSystemError(PortName(), kFunction, error);
            return Record(ChannelResult::SystemError, error);
        }
    }
    LogPortLine(kLogWarning, PortName(), kFunction, "Start listener completed.");
    return Record(ChannelResult::Ok);
}

void CSerialIO::StopListener(uint32_t waitMs) {
    static const char* const kFunction = "CSerialIO::StopListener";
    if (!listenerThread_.joinable()) {
        // Every close stops the listener, also one that has ended already: a
        // normal way out, so not a line of the error log.
        LogPortLine(kLogDebug, PortName(), kFunction, "Listen thread is null, so no stop operation.");
        Record(ChannelResult::Ok);
        return;
    }
    {
        std::lock_guard<std::mutex> hold(pauseLock_);
        stop_.store(1);
    }
    pauseWake_.notify_all();
    LogPortLine(kLogWarning, PortName(), kFunction, "Start stop listen thread.");
    // Releases a listener waiting for a frame to be taken, and one waiting on
    // the port.
    readEvent_.Set();
    port_.WakeReader();
    bool ended = listenerDone_.load() || listenerEnded_.Wait(waitMs);
    LogPortLine(kLogWarning, PortName(), kFunction, "Complete stop listen thread.");
    if (ended) {
        listenerThread_.join();
        stop_.store(0);
    } else {
        // Still running: it keeps its stop flag and is waited for again by the
        // next stop (at the latest the destructor's), never abandoned.
        LogPortLine(kLogError, PortName(), kFunction, "Listen thread did not end in time.");
    }
    Record(ChannelResult::Ok);
    SetPhoneMode(kPhoneModeUnknown);
}

bool CSerialIO::SendProbe() {
    static const char* const kFunction = "CSerialIO::SendProbe";
    LogPortLine(kLogWarning, PortName(), kFunction, "Write detection packet to com port.");
    uint32_t written = 0;
    if (InternalWrite(kProbe, sizeof kProbe, &written) == ChannelResult::Ok && written == sizeof kProbe) {
        LogPortLine(kLogWarning, PortName(), kFunction, "Write detection packet successfully.");
        return true;
    }
    LogPortLine(kLogError, PortName(), kFunction, "Write detection packet to com port failed.");
    return false;
}

bool CSerialIO::AppendUnlessDetecting(const uint8_t* bytes, uint32_t count) {
    // Detection began since this chunk was read (a switch in place): the
    // chunk belongs to the conversation before it.
    return readBuffer_.Append(bytes, count, PortName(), [this] { return GetPhoneMode() == kPhoneModeUnknown; });
}

void CSerialIO::Notify(uint32_t code, const char* line) {
    LogPortLine(kLogDebug, PortName(), "CSerialIO::ThreadProc", "%s", line);
    if (listener_ != nullptr) listener_->OnChannelEvent(code);
}

void CSerialIO::ThreadProc() {
    static const char* const kFunction = "CSerialIO::ThreadProc";
    static const char* const kModeLines[] = {"Send DS notification.", "Send DIAG notification.",
                                             "Send DL notification."};
    std::vector<uint8_t> chunk(kChunkSize);
    bool keepOpen = false;
    // A port whose read failed (unplugged, or a device that re-enumerated) is
    // opened afresh even when detection passes otherwise keep the port open:
    // without it a channel switched in place could never find its device again.
    bool portFailed = false;
    // A port OpenNow has just opened is probed as it is.
    bool portHandedOver = portHandedToListener_.exchange(false);

    SetPhoneMode(kPhoneModeUnknown);
    if (!Destroying()) Notify(kNotifyStart, "Send START notification.");
    do {
        if (GetPhoneMode() == kPhoneModeUnknown) {
            if (portHandedOver) {
                portHandedOver = false;
            } else if (!keepOpen && (ReopenOnDetection() || portFailed || !IsPortOpen())) {
                LogPortLine(kLogWarning, PortName(), kFunction, "Start InternalClose().");
                InternalClose();
                PauseUnlessStopped(times_.listenerReopenPause);
                LogPortLine(kLogWarning, PortName(), kFunction, "Start InternalOpen().");
                if (InternalOpen() != ChannelResult::Ok) {
                    LogPortLine(kLogError, PortName(), kFunction, "InternalOpen() failed.");
                    PauseUnlessStopped(times_.listenerRetryPause);
                    continue;
                }
                portFailed = false;
            }
            PauseUnlessStopped(times_.probePause);
            SendProbe();
        }

        size_t got = 0;
        platform::SerialReadFailure failure = platform::SerialReadFailure::None;
        const platform::PortResult read = port_.Read(chunk.data(), chunk.size(), &got, &failure);
        if (!read.IsOk()) {
            const int error = read.SystemError();
            RecordSystemError(read);
            if (failure == platform::SerialReadFailure::Wait) {
                LogPortLine(kLogError, PortName(), kFunction, "Read operation time out.");
                LogSystemError(PortName(), kFunction, error);
                stop_.store(1);
            } else if (failure != platform::SerialReadFailure::Result) {
                if (GetPhoneMode() != kPhoneModeUnknown && !Destroying()) {
                    SetPhoneMode(kPhoneModeUnknown);
                    Notify(kNotifyStart, "Send START notification.");
                }
                SetPhoneMode(kPhoneModeUnknown);
                keepOpen = false;
                portFailed = true;
                LogPortLine(kLogError, PortName(), kFunction, "Read com port data error.");
                LogSystemError(PortName(), kFunction, error);
                PauseUnlessStopped(times_.listenerRetryPause);
            }
            continue;
        }
        if (got == 0) continue;
        LogPortLine(kLogDebug, PortName(), kFunction, "Read COM port buffer.");
        LogPortHexDump(kLogDebug, PortName(), kFunction, chunk.data(), got);

        if (GetPhoneMode() == kPhoneModeUnknown) {
            LogPortLine(kLogWarning, PortName(), kFunction, "Mobile mode detection.");
            uint32_t mode = 0, notification = 0;
            if (ClassifyProbeAnswer(chunk.data(), got, &mode, &notification)) {
                SetPhoneMode(mode);
                if (!Destroying()) Notify(notification, kModeLines[notification - kNotifyDS]);
            } else {
                LogPortLine(kLogError, PortName(), kFunction, "Can not determine phone mode by return buffer.");
                keepOpen = true;
            }
            continue;
        }
        LogPortLine(kLogDebug, PortName(), kFunction, "Transfer content to CSIOChannel with current mode %d",
                    static_cast<int>(GetPhoneMode()));
        if (!AppendUnlessDetecting(chunk.data(), static_cast<uint32_t>(got))) continue;
        if (!Destroying() && !NotificationsSuppressed()) Notify(kNotifyRead, "Send read notification.");
    } while (stop_.load() == 0);

    InternalClose();
    SetPhoneMode(kPhoneModeStopped);
    if (!Destroying()) Notify(kNotifyStop, "Send STOP notification.");
    listenerDone_.store(true);
    listenerEnded_.Set();
}

}  // namespace fennix
