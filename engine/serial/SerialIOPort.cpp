// The channel's port: opening (on the listener or, for the start of a flow,
// on the caller's thread), configuring, closing and writing, all under the
// port lock.
#include "log/Log.h"
#include "serial/SerialIO.h"

namespace fennix {

ChannelResult CSerialIO::Open(const char* portName, uint32_t baudRate) {
    LogPortLine(kLogDebug, PortName(), "CSerialIO::Open", "Start open operation.");
    Record(ChannelResult::Ok);
    if (NamePort(portName) != ChannelResult::Ok) return Record(ChannelResult::AlreadyOpen);
    LetLayerAboveIn();
    currentBaudRate_.store(baudRate);
    return StartListener();
}

ChannelResult CSerialIO::OpenNow(const char* portName, uint32_t baudRate) {
    static const char* const kFunction = "CSerialIO::Open";
    LogPortLine(kLogDebug, PortName(), kFunction, "Start open operation.");
    Record(ChannelResult::Ok);
    if (NamePort(portName) != ChannelResult::Ok) return Record(ChannelResult::AlreadyOpen);
    lastOpenFailure_.store(platform::PortOpenFailure::None);
    LetLayerAboveIn();
    currentBaudRate_.store(baudRate);
    ChannelResult result = ChannelResult::NothingDone;
    if (IsPortRegistered()) {
        result = OpenRegisteredPort();
    } else {
        LogPortLine(kLogDebug, PortName(), "CSerialIO::InternalOpen", "COM port is not found in the Registry.");
    }
    if (result != ChannelResult::Ok) {
        platform::PortOpenFailure reason = platform::PortOpenFailure::NoSuchPort;
        if (result != ChannelResult::NothingDone) {
            reason = result == ChannelResult::SystemError ? platform::ClassifyPortOpenError(LastSystemError())
                                                          : platform::PortOpenFailure::Other;
        }
        lastOpenFailure_.store(reason);
        LogPortLine(kLogError, PortName(), kFunction, "Can not open %s: %s.", DevicePath(),
                    platform::PortOpenFailureText(reason));
        return Record(result, LastSystemError());
    }
    portHandedToListener_.store(true);
    if (StartListener() != ChannelResult::Ok) {
        const ChannelOutcome failure = LastOutcome();
        portHandedToListener_.store(false);
        InternalClose();
        return Record(failure.result, failure.systemError);
    }
    return ChannelResult::Ok;
}

ChannelResult CSerialIO::Close() {
    static const char* const kFunction = "CSerialIO::Close";
    LogPortLine(kLogWarning, PortName(), kFunction, "Try to close com port.");
    Record(ChannelResult::Ok);
    StopListener(times_.listenerStopWait);
    if (!IsPortOpen()) return LastResult();
    if (InternalClose() == ChannelResult::Ok) {
        LogPortLine(kLogWarning, PortName(), kFunction, "Close com port successfully.");
        return ChannelResult::Closed;
    }
    LogPortLine(kLogError, PortName(), kFunction, "internal close failed.");
    LogPortLine(kLogError, PortName(), kFunction, "Close COM port failed.");
    return LastResult();
}

void CSerialIO::LetLayerAboveIn() {
    // A switch that failed on the previous open kept the packet layer out;
    // this open starts a new conversation with the device.
    SetWritesBlocked(false);
    SetNotificationsSuppressed(false);
}

void CSerialIO::KeepBaudRate() {
    for (uint32_t i = 0; i < 3; ++i) {
        if (kBaudRates[i] == CurrentBaudRate()) baudRateIndex_.store(i);
    }
}

ChannelResult CSerialIO::InternalOpen() {
    static const char* const kFunction = "CSerialIO::InternalOpen";
    Record(ChannelResult::Ok);
    LogPortLine(kLogDebug, PortName(), kFunction, "Check COM port existence in the Registry.");
    if (!IsPortRegistered()) {
        LogPortLine(kLogDebug, PortName(), kFunction, "COM port is not found in the Registry.");
        PauseUnlessStopped(times_.unregisteredPortPause, true);
        return ChannelResult::NothingDone;
    }
    return OpenRegisteredPort();
}

ChannelResult CSerialIO::OpenRegisteredPort() {
    static const char* const kFunction = "CSerialIO::InternalOpen";
    uint32_t index = baudRateIndex_.load() % 3;
    currentBaudRate_.store(kBaudRates[index]);
    baudRateIndex_.store((index + 1) % 3);

    std::unique_lock<std::recursive_mutex> hold(portLock_);
    LogPortLine(kLogWarning, PortName(), kFunction, "Start InternalOpen.");
    if (port_.IsOpen()) {
        Record(ChannelResult::AlreadyOpen);
        hold.unlock();
        LogPortLine(kLogError, PortName(), kFunction, "COM port has been opened.");
        return ChannelResult::AlreadyOpen;
    }
    LogPortLine(kLogWarning, PortName(), kFunction, "Start create file.");
    platform::PortResult step = port_.Open(devicePath_);
    if (!step.IsOk()) {
        LogPortLine(kLogError, PortName(), kFunction, "Fails in opening COM port.");
        LogSystemError(PortName(), kFunction, step.SystemError());
        return RecordSystemError(step);
    }
    portOpen_.store(true);
    const ChannelResult reset = InternalResetCOM();
    if (reset != ChannelResult::Ok) {
        CloseAfterFailedOpen();
        return reset;
    }
    LogPortLine(kLogWarning, PortName(), kFunction, "Create write event.");
    step = port_.CreateWriteSignal();
    if (!step.IsOk()) {
        LogPortLine(kLogError, PortName(), kFunction, "::CreateEvent Write event failed.");
        LogSystemError(PortName(), kFunction, step.SystemError());
        CloseAfterFailedOpen();
        return RecordSystemError(step);
    }
    LogPortLine(kLogWarning, PortName(), kFunction, "Create read event.");
    step = port_.CreateReadSignal();
    if (!step.IsOk()) {
        LogPortLine(kLogError, PortName(), kFunction, "Create read event failed.");
        LogSystemError(PortName(), kFunction, step.SystemError());
        CloseAfterFailedOpen();
        return RecordSystemError(step);
    }
    hold.unlock();
    LogPortLine(kLogWarning, PortName(), kFunction, "Start InternalOpen Completed.");
    return ChannelResult::Ok;
}

// Undoes a half-finished InternalOpen; the caller holds the port lock.
void CSerialIO::CloseAfterFailedOpen() {
    static const char* const kFunction = "CSerialIO::InternalOpen";
    const platform::PortResult closed = port_.CloseDevice();
    if (!closed.IsOk()) LogSystemError(PortName(), kFunction, closed.SystemError());
    port_.ReleaseWriteSignal();
    port_.ReleaseReadSignal();
    portOpen_.store(false);
    LogPortLine(kLogError, PortName(), kFunction, "Close COM port successfully.");
}

ChannelResult CSerialIO::InternalResetCOM() {
    static const char* const kFunction = "CSerialIO::InternalResetCOM";
    std::lock_guard<std::recursive_mutex> hold(portLock_);
    auto fail = [this](const platform::PortResult& step, const char* message) {
        LogPortLine(kLogError, PortName(), kFunction, "%s", message);
        LogSystemError(PortName(), kFunction, step.SystemError());
        return RecordSystemError(step);
    };
    platform::PortResult step = port_.SetEventMask();
    if (!step.IsOk()) return fail(step, "Fails in setting COM wait mask.");
    step = port_.SetQueueSizes(kDriverQueueSize, kDriverQueueSize);
    if (!step.IsOk()) return fail(step, "Fails in setting COM Input and Output queue size.");
    step = port_.Purge();
    if (!step.IsOk()) return fail(step, "::PurgeComm failed.");
    LogPortLine(kLogWarning, PortName(), kFunction, "GetCommState.");
    step = port_.ReadSettings();
    if (!step.IsOk()) return fail(step, "::GetCommState failed.");
    LogPortLine(kLogWarning, PortName(), kFunction, "SetCommState.");
    step = port_.WriteSettings(currentBaudRate_.load());
    if (!step.IsOk()) return fail(step, "::SetCommState failed.");
    LogPortLine(kLogWarning, PortName(), kFunction, "GetCommTimeOut.");
    step = port_.WriteTimeouts(times_.portReadTimeout);
    if (!step.IsOk()) return fail(step, "::SetCommTimeouts failed.");
    LogPortLine(kLogWarning, PortName(), kFunction, "PurgeComm.");
    step = port_.Purge();
    if (!step.IsOk()) return fail(step, "::PurgeComm failed.");
    return ChannelResult::Ok;
}

ChannelResult CSerialIO::InternalClose() {
    static const char* const kFunction = "CSerialIO::InternalClose";
    std::unique_lock<std::recursive_mutex> hold(portLock_);
    LogPortLine(kLogWarning, PortName(), kFunction, "InternalClose start.");
    Record(ChannelResult::Ok);
    if (!port_.IsOpen()) {
        hold.unlock();
        // Closing a port that is closed already is part of every flow's way
        // out, not a fault: no line in the error log.
        LogPortLine(kLogDebug, PortName(), kFunction, "COM port handle is null.");
        return ChannelResult::Ok;
    }
    LogPortLine(kLogWarning, PortName(), kFunction, "Try to close COM port.");
    platform::PortResult step = port_.CloseDevice();
    portOpen_.store(false);
    if (!step.IsOk()) {
        RecordSystemError(step);
        LogPortLine(kLogError, PortName(), kFunction, "Close COM port failed.");
        LogSystemError(PortName(), kFunction, step.SystemError());
    }
    bool signalFailed = false;
    step = port_.ReleaseWriteSignal();
    if (!step.IsOk()) {
        RecordSystemError(step);
        LogPortLine(kLogError, PortName(), kFunction, "Close write event failed.");
        LogSystemError(PortName(), kFunction, step.SystemError());
        signalFailed = true;
    }
    step = port_.ReleaseReadSignal();
    if (!step.IsOk()) {
        RecordSystemError(step);
        LogSystemError(PortName(), kFunction, step.SystemError());
        signalFailed = true;
    }
    if (signalFailed) return LastResult();
    hold.unlock();
    LogPortLine(kLogWarning, PortName(), kFunction, "Close COM port successfully.");
    return LastResult();
}

ChannelResult CSerialIO::InternalWrite(const uint8_t* bytes, uint32_t count, uint32_t* written) {
    static const char* const kFunction = "CSerialIO::InternalWrite";
    Record(ChannelResult::Ok);
    if (written != nullptr) *written = 0;
    std::lock_guard<std::recursive_mutex> hold(portLock_);
    if (!port_.IsOpen()) {
        LogPortLine(kLogError, PortName(), kFunction, "COM port handle is null");
        return Record(ChannelResult::NoPort);
    }
    LogPortLine(kLogDebug, PortName(), kFunction, "Write data");
    LogPortHexDump(kLogDebug, PortName(), kFunction, bytes, count);
    // Whatever arrives from now on may be the answer to these bytes.
    readBuffer_.MarkRequest();
    size_t done = 0;
    const platform::PortResult step = port_.Write(bytes, count, &done);
    if (!step.IsOk()) {
        LogPortLine(kLogError, PortName(), kFunction, "Write to com port failed after %u of %u bytes.",
                    static_cast<unsigned>(done), static_cast<unsigned>(count));
        if (step.GetStatus() == platform::PortResult::Status::Failed) {
            LogSystemError(PortName(), kFunction, step.SystemError());
        }
    }
    if (written != nullptr) *written = static_cast<uint32_t>(done);
    if (step.GetStatus() == platform::PortResult::Status::TimedOut) return Record(ChannelResult::TimedOut);
    return step.IsOk() ? Record(ChannelResult::Ok) : RecordSystemError(step);
}

ChannelResult CSerialIO::Write(const uint8_t* bytes, uint32_t count, uint32_t* written) {
    LogPortLine(kLogDebug, PortName(), "CSerialIO::Write", "Start write operation.");
    if (written != nullptr) *written = 0;
    // Counted before the blocked flag is looked at: a switch that blocks
    // writes and then waits for the count to reach 0 cannot miss this write.
    writesInFlight_.fetch_add(1);
    if (WritesBlocked()) {
        writesInFlight_.fetch_sub(1);
        return ChannelResult::NothingDone;
    }
    const ChannelResult result = InternalWrite(bytes, count, written);
    writesInFlight_.fetch_sub(1);
    return result;
}

}  // namespace fennix
