#include "serial/SerialIO.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstring>
#include <system_error>

#include "log/Log.h"
#include "platform/SerialPortTable.h"
#include "platform/Time.h"

namespace fennix {

namespace {

// One row of the answers to the detection probe: a chunk at least as long as
// the row that starts with its bytes fixes the phone mode.
struct DetectionRow {
    std::vector<uint8_t> start;
    uint32_t phoneMode;
    uint32_t notification;
};

const DetectionRow kDetectionRows[] = {
    // "at\r\r\nOK\r\n" (the echoed command and the answer), then the echoed
    // frame's CRC and flag: AT command mode.
    {{0x61, 0x74, 0x0D, 0x0D, 0x0A, 0x4F, 0x4B, 0x0D, 0x0A, 0x1C, 0xD5, 0x7E}, kPhoneModeDS, kNotifyDS},
    // DIAG rejects the first frame and echoes it (two framings of the answer).
    {{0x14, 0x61, 0x74, 0x0D, 0x1C, 0xD5, 0x7D, 0x5E}, kPhoneModeDIAG, kNotifyDIAG},
    {{0x13, 0x61, 0x74, 0x0D, 0x62, 0x09, 0x7E}, kPhoneModeDIAG, kNotifyDIAG},
    // Download mode acknowledges the no-operation.
    {{0x7E, 0x02, 0x6A, 0xD3, 0x7E}, kPhoneModeDL, kNotifyDL},
};

}  // namespace

constexpr uint32_t CSerialIO::kBaudRates[3];
constexpr uint8_t CSerialIO::kProbe[10];

CSerialIO::CSerialIO() : CSerialIO(Timeouts::FromEnvironment()) {}

CSerialIO::CSerialIO(const Timeouts& times) : times_(times) {
    LogFuncLine(kLogDebug, "CSerialIO::CSerialIO", "Start constructor.");
    buffer_.assign(kInitialBufferSize, 0);
}

CSerialIO::~CSerialIO() {
    destroying_.store(1);
    LogFuncLine(kLogDebug, "CSerialIO::~CSerialIO", "Start destructor");
    LogFuncLine(kLogDebug, "CSerialIO::~CSerialIO", "Start stopping listener.");
    StopListener(platform::kWaitForever);
    LogFuncLine(kLogDebug, "CSerialIO::~CSerialIO", "Start internal close.");
    InternalClose();
    LogFuncLine(kLogDebug, "CSerialIO::~CSerialIO", "Start free read buffer.");
    {
        std::lock_guard<std::mutex> hold(bufferLock_);
        std::vector<uint8_t>().swap(buffer_);
    }
    LogFuncLine(kLogDebug, "CSerialIO::~CSerialIO", "complete destructor.");
}

void CSerialIO::OnEvent(uint32_t) {}

uint32_t CSerialIO::ParsePortNumber(const char* text) {
    if (text == nullptr) return 0;
    char copy[16] = {};
    for (size_t i = 0; i < 15 && text[i] != '\0'; ++i) {
        copy[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[i])));
    }
    const char* m = std::strchr(copy, 'M');
    if (m == nullptr) return 0;
    uint64_t number = 0;
    for (const char* digit = m + 1; *digit >= '0' && *digit <= '9'; ++digit) {
        number = number * 10 + static_cast<uint64_t>(*digit - '0');
        if (number > 0xFFFFFFFFu) return 0;  // no such port
    }
    return static_cast<uint32_t>(number);
}

int CSerialIO::IsPortRegistered() {
    return platform::IsSerialPortRegistered(devicePath_, portNumber_, &CSerialIO::ParsePortNumber) ? 1 : 0;
}

bool CSerialIO::IsPortOpen() const { return portOpen_.load(); }

bool CSerialIO::IsListenerRunning() const { return listener_.joinable() && !listenerDone_.load(); }

uint32_t CSerialIO::BufferCapacity() const {
    std::lock_guard<std::mutex> hold(bufferLock_);
    return static_cast<uint32_t>(buffer_.size());
}

uint32_t CSerialIO::UnreadBytes() const {
    std::lock_guard<std::mutex> hold(bufferLock_);
    return writePos_ - readPos_;
}

int CSerialIO::NamePort(const char* portName) {
    // A running listener owns the names and opens the port itself: renaming
    // under it would race with it, so the channel counts as open.
    if (IsPortOpen() || IsListenerRunning()) return kSerialAlreadyOpen;
    std::string given = portName != nullptr ? portName : "";
    portNumber_ = ParsePortNumber(given.c_str());
    platform::SerialPortNames names = platform::NameSerialPort(given, portNumber_);
    devicePath_ = names.devicePath;
    portName_ = names.shortName;
    return 0;
}

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
    int error = -1;
    if (IsPortRegistered() != 0) {
        error = OpenRegisteredPort();
    } else {
        LogPortLine(kLogDebug, PortName(), "CSerialIO::InternalOpen", "COM port is not found in the Registry.");
    }
    if (error != 0) {
        const platform::PortOpenFailure reason =
            error == -1 ? platform::PortOpenFailure::NoSuchPort : platform::ClassifyPortOpenError(error);
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
        return -1;
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
    {
        // Whatever arrives from now on may be the answer to these bytes.
        std::lock_guard<std::mutex> buffer(bufferLock_);
        requestMark_ = appendedTotal_;
    }
    size_t done = 0;
    int error = port_.Write(bytes, count, &done);
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
        return -1;
    }
    int result = InternalWrite(bytes, count, written);
    writesInFlight_.fetch_sub(1);
    return result;
}

int CSerialIO::Read(uint8_t* buffer, uint32_t capacity, uint32_t* bytesRead) {
    LogPortLine(kLogDebug, PortName(), "CSerialIO::Read", "Start read operation.");
    SetLastError(0);
    if (bytesRead != nullptr) *bytesRead = 0;
    if (!IsPortOpen()) {
        SetLastError(kSerialNoPort);
        return kSerialNoPort;
    }
    std::lock_guard<std::mutex> hold(bufferLock_);
    uint32_t n = std::min(capacity, writePos_ - readPos_);
    if (n > 0) std::memcpy(buffer, buffer_.data() + readPos_, n);
    readPos_ += n;
    readTotal_ += n;
    if (bytesRead != nullptr) *bytesRead = n;
    return 0;
}

uint32_t CSerialIO::AppendBuffer(const uint8_t* bytes, uint32_t count) {
    std::lock_guard<std::mutex> hold(bufferLock_);
    AppendLocked(bytes, count);
    return count;
}

void CSerialIO::AppendLocked(const uint8_t* bytes, uint32_t count) {
    LogPortLine(kLogDebug, PortName(), "CSerialIO::AppendBuffer", "Add read content to buffer.");
    uint32_t unread = writePos_ - readPos_;
    uint32_t capacity = static_cast<uint32_t>(buffer_.size());
    if (static_cast<uint64_t>(unread) + count > capacity) {
        uint32_t grown = capacity + (count / kInitialBufferSize + 1) * kInitialBufferSize;
        std::vector<uint8_t> larger(grown, 0);
        std::memcpy(larger.data(), buffer_.data() + readPos_, unread);
        buffer_.swap(larger);
        readPos_ = 0;
        writePos_ = unread;
    } else if (static_cast<uint64_t>(writePos_) + count >= capacity) {
        std::memmove(buffer_.data(), buffer_.data() + readPos_, unread);
        readPos_ = 0;
        writePos_ = unread;
    }
    if (count > 0) std::memcpy(buffer_.data() + writePos_, bytes, count);
    writePos_ += count;
    appendedTotal_ += count;
    dataArrived_.notify_all();
}

bool CSerialIO::AppendUnlessDetecting(const uint8_t* bytes, uint32_t count) {
    std::lock_guard<std::mutex> hold(bufferLock_);
    // Detection began since this chunk was read (a switch in place): the
    // chunk belongs to the conversation before it.
    if (GetPhoneMode() == kPhoneModeUnknown) return false;
    AppendLocked(bytes, count);
    return true;
}

void CSerialIO::DiscardUnreadBytes() {
    std::lock_guard<std::mutex> hold(bufferLock_);
    readTotal_ += writePos_ - readPos_;
    readPos_ = writePos_;
}

int CSerialIO::SendProbe() {
    static const char* const kFunction = "CSerialIO::SendProbe";
    LogPortLine(kLogWarning, PortName(), kFunction, "Write detection packet to com port.");
    uint32_t written = 0;
    if (InternalWrite(kProbe, sizeof kProbe, &written) == 0 && written == sizeof kProbe) {
        LogPortLine(kLogWarning, PortName(), kFunction, "Write detection packet successfully.");
        return 1;
    }
    LogPortLine(kLogError, PortName(), kFunction, "Write detection packet to com port failed.");
    return 0;
}

int CSerialIO::WaitandReadBuffer(uint8_t* buffer, uint32_t capacity, uint32_t* bytesRead) {
    static const char* const kFunction = "CSerialIO::WaitandReadBuffer";
    if (bytesRead != nullptr) *bytesRead = 0;
    {
        std::unique_lock<std::mutex> hold(bufferLock_);
        // The answer is whatever arrived after the latest request and has not
        // been read yet, whether it came before this call or comes later.
        auto answered = [this] { return appendedTotal_ > std::max(readTotal_, requestMark_); };
        const bool arrived = dataArrived_.wait_for(hold, std::chrono::milliseconds(times_.rawReplyWait),
                                                   [&] { return answered() || cancelled_.load(); });
        if (!arrived || !answered()) {
            hold.unlock();
            LogPortLine(kLogError, PortName(), kFunction, "Read time out.");
            return -1;
        }
        // Bytes from before the request are not part of its answer.
        if (readTotal_ < requestMark_) {
            uint32_t stale = static_cast<uint32_t>(std::min<uint64_t>(requestMark_ - readTotal_, writePos_ - readPos_));
            readPos_ += stale;
            readTotal_ += stale;
            LogPortLine(kLogDebug, PortName(), kFunction, "Dropped %u bytes received before the request.", stale);
        }
    }
    return Read(buffer, capacity, bytesRead);
}

int CSerialIO::StartListener() {
    static const char* const kFunction = "CSerialIO::StartListener";
    LogPortLine(kLogWarning, PortName(), kFunction, "Start listener.");
    if (IsListenerRunning()) {
        LogPortLine(kLogWarning, PortName(), kFunction, "Thread has already existed.");
    } else {
        // A listener that ended by itself (its wait failed) is collected here.
        if (listener_.joinable()) listener_.join();
        stop_.store(0);
        readEvent_.Reset();
        listenerEnded_.Reset();
        port_.DiscardWake();
        listenerDone_.store(false);
        try {
            listener_ = std::thread(&CSerialIO::ThreadProc, this);
        } catch (const std::system_error& failure) {
            int error = failure.code().value();
            listenerDone_.store(true);
            SetLastError(error);
            LogPortLine(kLogError, PortName(), kFunction, "Start listener failed.");
            LogSystemError(PortName(), kFunction, error);
            return error;
        }
    }
    LogPortLine(kLogWarning, PortName(), kFunction, "Start listener completed.");
    SetLastError(0);
    return 0;
}

int CSerialIO::StopListener(uint32_t waitMs) {
    static const char* const kFunction = "CSerialIO::StopListener";
    if (!listener_.joinable()) {
        LogPortLine(kLogError, PortName(), kFunction, "Listen thread is null, so no stop operation.");
        SetLastError(0);
        return 0;
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
        listener_.join();
        stop_.store(0);
    } else {
        // Still running: it keeps its stop flag and is waited for again by the
        // next stop (at the latest the destructor's), never abandoned.
        LogPortLine(kLogError, PortName(), kFunction, "Listen thread did not end in time.");
    }
    SetLastError(0);
    SetPhoneMode(kPhoneModeUnknown);
    return 0;
}

bool CSerialIO::ClassifyAnswer(const uint8_t* chunk, size_t count, uint32_t* mode, uint32_t* notification) {
    for (const DetectionRow& row : kDetectionRows) {
        if (count >= row.start.size() && std::equal(row.start.begin(), row.start.end(), chunk)) {
            *mode = row.phoneMode;
            *notification = row.notification;
            return true;
        }
    }
    return false;
}

void CSerialIO::Cancel() {
    cancelled_.store(true);
    {
        std::lock_guard<std::mutex> hold(pauseLock_);
    }
    pauseWake_.notify_all();
    {
        std::lock_guard<std::mutex> hold(bufferLock_);
    }
    dataArrived_.notify_all();
    WakeFlowWaits();
}

bool CSerialIO::Pause(uint32_t milliseconds) {
    std::unique_lock<std::mutex> hold(pauseLock_);
    return !pauseWake_.wait_for(hold, std::chrono::milliseconds(milliseconds), [this] { return cancelled_.load(); });
}

void CSerialIO::PauseUnlessStopped(uint32_t milliseconds, bool orCancel) {
    std::unique_lock<std::mutex> hold(pauseLock_);
    pauseWake_.wait_for(hold, std::chrono::milliseconds(milliseconds),
                        [&] { return stop_.load() != 0 || (orCancel && cancelled_.load()); });
}

void CSerialIO::Notify(uint32_t code, const char* line) {
    LogPortLine(kLogDebug, PortName(), "CSerialIO::ThreadProc", "%s", line);
    OnEvent(code);
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
                if (InternalOpen() != 0) {
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
        int error = port_.Read(chunk.data(), chunk.size(), &got, &failure);
        if (error != 0) {
            if (failure == platform::SerialReadFailure::Wait) {
                LogPortLine(kLogError, PortName(), kFunction, "Read operation time out.");
                SetLastError(error);
                LogSystemError(PortName(), kFunction, error);
                stop_.store(1);
            } else if (failure == platform::SerialReadFailure::Result) {
                SetLastError(error);
            } else {
                if (GetPhoneMode() != kPhoneModeUnknown && !Destroying()) {
                    SetPhoneMode(kPhoneModeUnknown);
                    Notify(kNotifyStart, "Send START notification.");
                }
                SetLastError(error);
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
            if (ClassifyAnswer(chunk.data(), got, &mode, &notification)) {
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
