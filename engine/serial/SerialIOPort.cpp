// The channel's port: opening (on the listener or, for the start of a flow,
// on the caller's thread), configuring, closing and writing, all under the
// port lock.
#include "log/Log.h"
#include "serial/SerialIO.h"

namespace fennix {

int CSerialIO::Open(const char* portName, uint32_t baudRate) {
    LogPortLine(kLogDebug, PortName(), "CSerialIO::Open", "Start open operation.");
    SetLastError(0);
    if (NamePort(portName) != 0) {
        SetLastError(kSerialAlreadyOpen);
        return kSerialAlreadyOpen;
    }
    // A switch that failed on the previous open kept the packet layer out;
    // this open starts a new conversation with the device.
    KeepPacketLayerOut(false);
    currentBaudRate_.store(baudRate);
    StartListener();
    return LastError();
}

int CSerialIO::OpenNow(const char* portName, uint32_t baudRate) {
    static const char* const kFunction = "CSerialIO::Open";
    LogPortLine(kLogDebug, PortName(), kFunction, "Start open operation.");
    SetLastError(0);
    if (NamePort(portName) != 0) {
        SetLastError(kSerialAlreadyOpen);
        return kSerialAlreadyOpen;
    }
    lastOpenFailure_.store(platform::PortOpenFailure::None);
    KeepPacketLayerOut(false);
    currentBaudRate_.store(baudRate);
    int error = kSerialNothingDone;
    if (IsPortRegistered() != 0) {
        error = OpenRegisteredPort();
    } else {
        LogPortLine(kLogDebug, PortName(), "CSerialIO::InternalOpen", "COM port is not found in the Registry.");
    }
    if (error != 0) {
        const platform::PortOpenFailure reason = error == kSerialNothingDone ? platform::PortOpenFailure::NoSuchPort
                                                                             : platform::ClassifyPortOpenError(error);
        lastOpenFailure_.store(reason);
        SetLastError(error);
        LogPortLine(kLogError, PortName(), kFunction, "Can not open %s: %s.", DevicePath(),
                    platform::PortOpenFailureText(reason));
        return error;
    }
    portHandedToListener_.store(true);
    if (StartListener() != 0) {
        const int failure = LastError();
        portHandedToListener_.store(false);
        InternalClose();
        SetLastError(failure);
        return failure;
    }
    return 0;
}

int CSerialIO::Close() {
    static const char* const kFunction = "CSerialIO::Close";
    LogPortLine(kLogWarning, PortName(), kFunction, "Try to close com port.");
    SetLastError(0);
    StopListener(times_.listenerStopWait);
    if (!IsPortOpen()) return LastError();
    if (InternalClose() == 0) {
        LogPortLine(kLogWarning, PortName(), kFunction, "Close com port successfully.");
        return 1;
    }
    LogPortLine(kLogError, PortName(), kFunction, "internal close failed.");
    LogPortLine(kLogError, PortName(), kFunction, "Close COM port failed.");
    return LastError();
}

int CSerialIO::InternalOpen() {
    static const char* const kFunction = "CSerialIO::InternalOpen";
    SetLastError(0);
    LogPortLine(kLogDebug, PortName(), kFunction, "Check COM port existence in the Registry.");
    if (IsPortRegistered() == 0) {
        LogPortLine(kLogDebug, PortName(), kFunction, "COM port is not found in the Registry.");
        PauseUnlessStopped(times_.unregisteredPortPause, true);
        return kSerialNothingDone;
    }
    return OpenRegisteredPort();
}

int CSerialIO::OpenRegisteredPort() {
    static const char* const kFunction = "CSerialIO::InternalOpen";
    uint32_t index = baudRateIndex_.load() % 3;
    currentBaudRate_.store(kBaudRates[index]);
    baudRateIndex_.store((index + 1) % 3);

    std::unique_lock<std::recursive_mutex> hold(portLock_);
    LogPortLine(kLogWarning, PortName(), kFunction, "Start InternalOpen.");
    if (port_.IsOpen()) {
        SetLastError(kSerialAlreadyOpen);
        hold.unlock();
        LogPortLine(kLogError, PortName(), kFunction, "COM port has been opened.");
        return kSerialAlreadyOpen;
    }
    LogPortLine(kLogWarning, PortName(), kFunction, "Start create file.");
    int error = port_.Open(devicePath_);
    if (error != 0) {
        SetLastError(error);
        LogPortLine(kLogError, PortName(), kFunction, "Fails in opening COM port.");
        LogSystemError(PortName(), kFunction, error);
        return error;
    }
    portOpen_.store(true);
    error = InternalResetCOM();
    if (error != 0) {
        CloseAfterFailedOpen();
        return error;
    }
    LogPortLine(kLogWarning, PortName(), kFunction, "Create write event.");
    error = port_.CreateWriteSignal();
    if (error != 0) {
        LogPortLine(kLogError, PortName(), kFunction, "::CreateEvent Write event failed.");
        LogSystemError(PortName(), kFunction, error);
        CloseAfterFailedOpen();
        SetLastError(error);
        return error;
    }
    LogPortLine(kLogWarning, PortName(), kFunction, "Create read event.");
    error = port_.CreateReadSignal();
    if (error != 0) {
        LogPortLine(kLogError, PortName(), kFunction, "Create read event failed.");
        LogSystemError(PortName(), kFunction, error);
        CloseAfterFailedOpen();
        SetLastError(error);
        return error;
    }
    hold.unlock();
    LogPortLine(kLogWarning, PortName(), kFunction, "Start InternalOpen Completed.");
    return 0;
}

// Undoes a half-finished InternalOpen; the caller holds the port lock.
void CSerialIO::CloseAfterFailedOpen() {
    static const char* const kFunction = "CSerialIO::InternalOpen";
    int error = port_.CloseDevice();
    if (error != 0) LogSystemError(PortName(), kFunction, error);
    port_.ReleaseWriteSignal();
    port_.ReleaseReadSignal();
    portOpen_.store(false);
    LogPortLine(kLogError, PortName(), kFunction, "Close COM port successfully.");
}

int CSerialIO::InternalResetCOM() {
    static const char* const kFunction = "CSerialIO::InternalResetCOM";
    std::lock_guard<std::recursive_mutex> hold(portLock_);
    auto fail = [this](int error, const char* message) {
        SetLastError(error);
        LogPortLine(kLogError, PortName(), kFunction, "%s", message);
        LogSystemError(PortName(), kFunction, error);
        return error;
    };
    int error = port_.SetEventMask();
    if (error != 0) return fail(error, "Fails in setting COM wait mask.");
    error = port_.SetQueueSizes(kDriverQueueSize, kDriverQueueSize);
    if (error != 0) return fail(error, "Fails in setting COM Input and Output queue size.");
    error = port_.Purge();
    if (error != 0) return fail(error, "::PurgeComm failed.");
    LogPortLine(kLogWarning, PortName(), kFunction, "GetCommState.");
    error = port_.ReadSettings();
    if (error != 0) return fail(error, "::GetCommState failed.");
    LogPortLine(kLogWarning, PortName(), kFunction, "SetCommState.");
    error = port_.WriteSettings(currentBaudRate_.load());
    if (error != 0) return fail(error, "::SetCommState failed.");
    LogPortLine(kLogWarning, PortName(), kFunction, "GetCommTimeOut.");
    error = port_.WriteTimeouts(times_.portReadTimeout);
    if (error != 0) return fail(error, "::SetCommTimeouts failed.");
    LogPortLine(kLogWarning, PortName(), kFunction, "PurgeComm.");
    error = port_.Purge();
    if (error != 0) return fail(error, "::PurgeComm failed.");
    return 0;
}

int CSerialIO::InternalClose() {
    static const char* const kFunction = "CSerialIO::InternalClose";
    std::unique_lock<std::recursive_mutex> hold(portLock_);
    LogPortLine(kLogWarning, PortName(), kFunction, "InternalClose start.");
    SetLastError(0);
    if (!port_.IsOpen()) {
        hold.unlock();
        LogPortLine(kLogError, PortName(), kFunction, "COM port handle is null.");
        return 0;
    }
    LogPortLine(kLogWarning, PortName(), kFunction, "Try to close COM port.");
    int error = port_.CloseDevice();
    portOpen_.store(false);
    if (error != 0) {
        SetLastError(error);
        LogPortLine(kLogError, PortName(), kFunction, "Close COM port failed.");
        LogSystemError(PortName(), kFunction, error);
    }
    bool signalFailed = false;
    error = port_.ReleaseWriteSignal();
    if (error != 0) {
        SetLastError(error);
        LogPortLine(kLogError, PortName(), kFunction, "Close write event failed.");
        LogSystemError(PortName(), kFunction, error);
        signalFailed = true;
    }
    error = port_.ReleaseReadSignal();
    if (error != 0) {
        SetLastError(error);
        LogSystemError(PortName(), kFunction, error);
        signalFailed = true;
    }
    if (signalFailed) return LastError();
    hold.unlock();
    LogPortLine(kLogWarning, PortName(), kFunction, "Close COM port successfully.");
    return LastError();
}

int CSerialIO::InternalWrite(const uint8_t* bytes, uint32_t count, uint32_t* written) {
    static const char* const kFunction = "CSerialIO::InternalWrite";
    SetLastError(0);
    if (written != nullptr) *written = 0;
    std::lock_guard<std::recursive_mutex> hold(portLock_);
    if (!port_.IsOpen()) {
        SetLastError(kSerialNoPort);
        LogPortLine(kLogError, PortName(), kFunction, "COM port handle is null");
        return kSerialNoPort;
    }
    LogPortLine(kLogDebug, PortName(), kFunction, "Write data");
    LogPortHexDump(kLogDebug, PortName(), kFunction, bytes, count);
    // Whatever arrives from now on may be the answer to these bytes.
    readBuffer_.MarkRequest();
    size_t done = 0;
    int error = port_.Write(bytes, count, &done);
    if (error != 0) {
        LogPortLine(kLogError, PortName(), kFunction, "Write to com port failed after %u of %u bytes.",
                    static_cast<unsigned>(done), static_cast<unsigned>(count));
        if (error != platform::kPortWriteTimedOut) LogSystemError(PortName(), kFunction, error);
    }
    if (error == platform::kPortWriteTimedOut) error = kSerialTimedOut;
    if (written != nullptr) *written = static_cast<uint32_t>(done);
    SetLastError(error);
    return error;
}

int CSerialIO::Write(const uint8_t* bytes, uint32_t count, uint32_t* written) {
    LogPortLine(kLogDebug, PortName(), "CSerialIO::Write", "Start write operation.");
    if (written != nullptr) *written = 0;
    // Counted before the blocked flag is looked at: a switch that blocks
    // writes and then waits for the count to reach 0 cannot miss this write.
    writesInFlight_.fetch_add(1);
    if (WritesBlocked()) {
        writesInFlight_.fetch_sub(1);
        return kSerialNothingDone;
    }
    int result = InternalWrite(bytes, count, written);
    writesInFlight_.fetch_sub(1);
    return result;
}

}  // namespace fennix
