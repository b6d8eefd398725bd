// CSerialIO's life, its state queries, the read side of the channel (reads
// out of the read buffer and the raw reply read of the mode switches) and the
// flow thread's pauses and cancel. The port, the names and the listener each
// have a file of their own beside this one.
#include "serial/SerialIO.h"

#include "log/Log.h"

namespace fennix {

CSerialIO::CSerialIO() : CSerialIO(Timeouts::FromEnvironment()) {}

CSerialIO::CSerialIO(const Timeouts& times, IChannelListener* listener) : times_(times), listener_(listener) {
    LogFuncLine(kLogDebug, "CSerialIO::CSerialIO", "Start constructor.");
}

CSerialIO::~CSerialIO() {
    destroying_.store(1);
    LogFuncLine(kLogDebug, "CSerialIO::~CSerialIO", "Start destructor");
    LogFuncLine(kLogDebug, "CSerialIO::~CSerialIO", "Start stopping listener.");
    StopListener(platform::kWaitForever);
    LogFuncLine(kLogDebug, "CSerialIO::~CSerialIO", "Start internal close.");
    InternalClose();
    LogFuncLine(kLogDebug, "CSerialIO::~CSerialIO", "Start free read buffer.");
    readBuffer_.Release();
    LogFuncLine(kLogDebug, "CSerialIO::~CSerialIO", "complete destructor.");
}

bool CSerialIO::IsPortOpen() const { return portOpen_.load(); }

bool CSerialIO::IsListenerRunning() const { return listenerThread_.joinable() && !listenerDone_.load(); }

uint32_t CSerialIO::BufferCapacity() const { return readBuffer_.Capacity(); }

uint32_t CSerialIO::UnreadBytes() const { return readBuffer_.Unread(); }

ChannelResult CSerialIO::Read(uint8_t* buffer, uint32_t capacity, uint32_t* bytesRead) {
    LogPortLine(kLogDebug, PortName(), "CSerialIO::Read", "Start read operation.");
    Record(ChannelResult::Ok);
    if (bytesRead != nullptr) *bytesRead = 0;
    if (!IsPortOpen()) return Record(ChannelResult::NoPort);
    const uint32_t n = readBuffer_.Take(buffer, capacity);
    if (bytesRead != nullptr) *bytesRead = n;
    return ChannelResult::Ok;
}

ChannelResult CSerialIO::Record(ChannelResult result, int systemError) {
    last_.store(ChannelOutcome{result, systemError});
    return result;
}

ChannelResult CSerialIO::RecordSystemError(const platform::PortResult& step) {
    return Record(ChannelResult::SystemError, step.SystemError());
}

uint32_t CSerialIO::AppendBuffer(const uint8_t* bytes, uint32_t count) {
    readBuffer_.Append(bytes, count, PortName());
    return count;
}

void CSerialIO::DiscardUnreadBytes() { readBuffer_.DiscardUnread(); }

ChannelResult CSerialIO::WaitandReadBuffer(uint8_t* buffer, uint32_t capacity, uint32_t* bytesRead) {
    static const char* const kFunction = "CSerialIO::WaitandReadBuffer";
    if (bytesRead != nullptr) *bytesRead = 0;
    uint32_t stale = 0;
    if (!readBuffer_.WaitForAnswer(times_.rawReplyWait, cancelled_, &stale)) {
        LogPortLine(kLogError, PortName(), kFunction, "Read time out.");
        return ChannelResult::NothingDone;
    }
    if (stale > 0) {
        LogPortLine(kLogDebug, PortName(), kFunction, "Dropped %u bytes received before the request.", stale);
    }
    return Read(buffer, capacity, bytesRead);
}

void CSerialIO::Cancel() {
    cancelled_.store(true);
    { std::lock_guard<std::mutex> hold(pauseLock_); }
    pauseWake_.notify_all();
    readBuffer_.WakeWaiters();
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

}  // namespace fennix
