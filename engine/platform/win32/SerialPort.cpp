// Serial port on a Win32 COM port handle opened for overlapped I/O.
#include "platform/SerialPort.h"

#include <windows.h>

#include <atomic>
#include <mutex>

#include "platform/SerialPortCommon.h"

namespace fennix::platform {

namespace {

// Wine 8 never completes an overlapped read on a COM port backed by a Unix
// terminal (a pseudo-terminal) while the read interval timeout and the total
// multiplier are both MAXDWORD; with an interval of 1 ms and no multiplier it
// returns as Windows does: at once with what is waiting, as soon as a byte
// arrives, or empty after the total constant. Windows itself gets the
// intended MAXDWORD form.
bool RunningOnWine() {
    static const bool wine = [] {
        HMODULE ntdll = GetModuleHandleA("ntdll.dll");
        return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
    }();
    return wine;
}

int LastError() { return static_cast<int>(GetLastError()); }

}  // namespace

struct SerialPort::Impl {
    std::atomic<HANDLE> handle{INVALID_HANDLE_VALUE};
    HANDLE writeSignal = nullptr;
    HANDLE readSignal = nullptr;
    HANDLE wake = nullptr;  // lives as long as the object
    std::mutex readLock;    // held for the length of one Read
    DCB settings{};
};

SerialPort::SerialPort() : impl_(new Impl) { impl_->wake = CreateEventW(nullptr, FALSE, FALSE, nullptr); }

SerialPort::~SerialPort() {
    CloseDevice();
    ReleaseWriteSignal();
    ReleaseReadSignal();
    if (impl_->wake != nullptr) ::CloseHandle(impl_->wake);
}

PortOpenFailure ClassifyPortOpenError(int systemError) {
    switch (systemError) {
        case 0: return PortOpenFailure::None;
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME:
        case ERROR_BAD_UNIT:
        case ERROR_DEV_NOT_EXIST: return PortOpenFailure::NoSuchPort;
        // A COM port is opened without sharing: a second opener is refused
        // with "access denied".
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_BUSY: return PortOpenFailure::InUse;
        case ERROR_PRIVILEGE_NOT_HELD: return PortOpenFailure::PermissionDenied;
        default: return PortOpenFailure::Other;
    }
}

PortResult SerialPort::Open(const std::string& devicePath) {
    if (IsOpen()) return PortResult::FromSystem(ERROR_ALREADY_EXISTS);
    HANDLE h = CreateFileA(devicePath.c_str(), GENERIC_READ | GENERIC_WRITE | MAXIMUM_ALLOWED, 0, nullptr,
                           OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (h == INVALID_HANDLE_VALUE) return PortResult::FromSystem(LastError());
    impl_->handle.store(h);
    return PortResult::Ok();
}

bool SerialPort::IsOpen() const { return impl_->handle.load() != INVALID_HANDLE_VALUE; }

PortResult SerialPort::SetEventMask() {
    return PortResult::FromSystem(
        SetCommMask(impl_->handle.load(), EV_CTS | EV_DSR | EV_RLSD | EV_BREAK) ? 0 : LastError());
}

PortResult SerialPort::SetQueueSizes(uint32_t inputBytes, uint32_t outputBytes) {
    return PortResult::FromSystem(SetupComm(impl_->handle.load(), inputBytes, outputBytes) ? 0 : LastError());
}

PortResult SerialPort::Purge() {
    // Wine turns either output flag into tcflush(TCOFLUSH) on the Unix
    // terminal behind the port. On a pseudo-terminal that discards bytes a
    // completed Write handed over while the other end has not taken them
    // yet (a download-switch request followed at once by a port reset), so
    // under Wine only input is cleared. Write waits for its own completion:
    // no transfer of ours is left to abort on that side.
    DWORD flags = PURGE_RXABORT | PURGE_RXCLEAR;
    if (!RunningOnWine()) flags |= PURGE_TXABORT | PURGE_TXCLEAR;
    return PortResult::FromSystem(PurgeComm(impl_->handle.load(), flags) ? 0 : LastError());
}

PortResult SerialPort::ReadSettings() {
    impl_->settings = DCB{};
    impl_->settings.DCBlength = sizeof(DCB);
    return PortResult::FromSystem(GetCommState(impl_->handle.load(), &impl_->settings) ? 0 : LastError());
}

PortResult SerialPort::WriteSettings(uint32_t baudRate) {
    DCB& d = impl_->settings;
    d.DCBlength = sizeof(DCB);
    d.BaudRate = baudRate;
    d.ByteSize = 8;
    d.Parity = NOPARITY;
    d.StopBits = ONESTOPBIT;
    d.fBinary = TRUE;
    d.fParity = FALSE;
    d.fOutxCtsFlow = FALSE;
    d.fOutxDsrFlow = FALSE;
    d.fDtrControl = DTR_CONTROL_ENABLE;
    d.fDsrSensitivity = FALSE;
    d.fTXContinueOnXoff = FALSE;
    d.fOutX = FALSE;
    d.fInX = FALSE;
    d.fErrorChar = FALSE;
    d.fNull = FALSE;
    d.fRtsControl = RTS_CONTROL_ENABLE;
    d.fAbortOnError = TRUE;
    d.XonLim = 0;
    d.XoffLim = 0;
    d.XonChar = 0;
    d.XoffChar = 0;
    d.ErrorChar = 0;
    d.EofChar = 0;
    d.EvtChar = 0x7E;
    return PortResult::FromSystem(SetCommState(impl_->handle.load(), &d) ? 0 : LastError());
}

PortResult SerialPort::WriteTimeouts(uint32_t readTotalMs) {
    COMMTIMEOUTS t{};
    if (RunningOnWine()) {
        t.ReadIntervalTimeout = 1;
        t.ReadTotalTimeoutMultiplier = 0;
    } else {
        t.ReadIntervalTimeout = MAXDWORD;
        t.ReadTotalTimeoutMultiplier = MAXDWORD;
    }
    t.ReadTotalTimeoutConstant = readTotalMs;
    t.WriteTotalTimeoutMultiplier = 1;
    t.WriteTotalTimeoutConstant = 50;
    return PortResult::FromSystem(SetCommTimeouts(impl_->handle.load(), &t) ? 0 : LastError());
}

PortResult SerialPort::CreateWriteSignal() {
    if (impl_->writeSignal != nullptr) return PortResult::Ok();
    impl_->writeSignal = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    return PortResult::FromSystem(impl_->writeSignal != nullptr ? 0 : LastError());
}

PortResult SerialPort::CreateReadSignal() {
    if (impl_->readSignal != nullptr) return PortResult::Ok();
    impl_->readSignal = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    return PortResult::FromSystem(impl_->readSignal != nullptr ? 0 : LastError());
}

PortResult SerialPort::CloseDevice() {
    HANDLE h = impl_->handle.load();
    if (h == INVALID_HANDLE_VALUE) return PortResult::Ok();
    // A read still running in another thread finishes (and stops using its
    // OVERLAPPED) before the handle goes.
    std::unique_lock<std::mutex> reader = TakeReadLockForClose(impl_->readLock, *this);
    impl_->handle.store(INVALID_HANDLE_VALUE);
    return PortResult::FromSystem(::CloseHandle(h) ? 0 : LastError());
}

PortResult SerialPort::ReleaseWriteSignal() {
    HANDLE h = impl_->writeSignal;
    impl_->writeSignal = nullptr;
    if (h == nullptr) return PortResult::Ok();
    return PortResult::FromSystem(::CloseHandle(h) ? 0 : LastError());
}

PortResult SerialPort::ReleaseReadSignal() {
    HANDLE h = impl_->readSignal;
    impl_->readSignal = nullptr;
    if (h == nullptr) return PortResult::Ok();
    return PortResult::FromSystem(::CloseHandle(h) ? 0 : LastError());
}

PortResult SerialPort::Write(const uint8_t* bytes, size_t count, size_t* written) {
    if (written != nullptr) *written = 0;
    HANDLE h = impl_->handle.load();
    if (h == INVALID_HANDLE_VALUE) return PortResult::FromSystem(ERROR_INVALID_HANDLE);
    OVERLAPPED overlapped{};
    overlapped.hEvent = impl_->writeSignal;
    DWORD done = 0;
    int error = 0;
    if (!WriteFile(h, bytes, static_cast<DWORD>(count), &done, &overlapped)) {
        error = LastError();
        if (error == ERROR_IO_PENDING) {
            error = 0;
            if (overlapped.hEvent != nullptr) WaitForSingleObject(overlapped.hEvent, INFINITE);
            if (!GetOverlappedResult(h, &overlapped, &done, TRUE)) error = LastError();
        }
    }
    if (written != nullptr) *written = done;
    // The write total timeout ends a write early without an error.
    if (error == 0 && done < count) return PortResult::TimedOut();
    return PortResult::FromSystem(error);
}

PortResult SerialPort::Read(uint8_t* buffer, size_t capacity, size_t* got, SerialReadFailure* failure) {
    std::lock_guard<std::mutex> reading(impl_->readLock);
    ReadOutcome outcome(got, failure);
    HANDLE h = impl_->handle.load();
    if (h == INVALID_HANDLE_VALUE) return outcome.Fail(SerialReadFailure::Start, ERROR_INVALID_HANDLE);

    OVERLAPPED overlapped{};
    overlapped.hEvent = impl_->readSignal;
    DWORD done = 0;
    if (ReadFile(h, buffer, static_cast<DWORD>(capacity), &done, &overlapped)) {
        return outcome.Got(done);
    }
    int error = LastError();
    if (error != ERROR_IO_PENDING) return outcome.Fail(SerialReadFailure::Start, error);

    // The OVERLAPPED lives on this stack: the read must be over, one way or
    // another, before this function returns.
    auto finishCancelled = [&](DWORD* count) {
        CancelIoEx(h, &overlapped);
        if (!GetOverlappedResult(h, &overlapped, count, TRUE)) *count = 0;
    };
    HANDLE waits[2] = {overlapped.hEvent != nullptr ? overlapped.hEvent : h, impl_->wake};
    DWORD signalled = WaitForMultipleObjects(impl_->wake != nullptr ? 2 : 1, waits, FALSE, INFINITE);
    if (signalled == WAIT_OBJECT_0 + 1) {
        finishCancelled(&done);
        return outcome.Got(done);
    }
    if (signalled != WAIT_OBJECT_0) {
        error = LastError();
        finishCancelled(&done);
        return outcome.Fail(SerialReadFailure::Wait, error);
    }
    if (!GetOverlappedResult(h, &overlapped, &done, FALSE)) {
        error = LastError();
        if (error == ERROR_IO_INCOMPLETE) finishCancelled(&done);
        return outcome.Fail(SerialReadFailure::Result, error);
    }
    return outcome.Got(done);
}

// A wait for input would need the port's event mask, which the channel sets
// to line-state events only; the reading thread waits on its own signal
// instead.
bool SerialPort::WaitForInput(uint32_t) { return true; }

void SerialPort::WakeReader() {
    if (impl_->wake != nullptr) SetEvent(impl_->wake);
}

void SerialPort::DiscardWake() {
    if (impl_->wake != nullptr) ResetEvent(impl_->wake);
}

}  // namespace fennix::platform
