// One serial port opened exclusively for simultaneous reading (by one thread)
// and writing (by another). The channel drives it step by step so that each
// step can be logged on its own; on Windows each step is the Win32 call of the
// same name, elsewhere the nearest terminal-device equivalent.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace fennix::platform {

// The outcome of one port step, with the system's error number beside it
// (never in the same field as the outcome, so that neither can be taken for
// the other).
class PortResult {
public:
    enum class Status : uint8_t {
        Ok,
        TimedOut,  // Write: the time limit passed before every byte left
        Failed,    // the system refused; SystemError() tells why
    };

    static PortResult Ok() { return PortResult(Status::Ok, 0); }
    static PortResult TimedOut() { return PortResult(Status::TimedOut, 0); }
    static PortResult Failed(int systemError) { return PortResult(Status::Failed, systemError); }
    // The result of a system step that gives 0 or an error number.
    static PortResult FromSystem(int systemError) { return systemError == 0 ? Ok() : Failed(systemError); }

    Status GetStatus() const { return status_; }
    bool IsOk() const { return status_ == Status::Ok; }
    // The system's error number of a failed step, else 0.
    int SystemError() const { return systemError_; }

private:
    PortResult(Status status, int systemError) : status_(status), systemError_(systemError) {}

    Status status_;
    int systemError_;
};

// Why a port could not be opened.
enum class PortOpenFailure {
    None,
    NoSuchPort,        // the system has no such port (or it is no serial port)
    InUse,             // another program holds it
    PermissionDenied,  // this user may not open it
    Other,
};

// The reason behind a system error that SerialPort::Open returned. On
// Windows a port held by another program answers "access denied", so that
// counts as in use there.
PortOpenFailure ClassifyPortOpenError(int systemError);

inline const char* PortOpenFailureText(PortOpenFailure failure) {
    switch (failure) {
        case PortOpenFailure::None: return "opened";
        case PortOpenFailure::NoSuchPort: return "no such port";
        case PortOpenFailure::InUse: return "in use";
        case PortOpenFailure::PermissionDenied: return "permission denied";
        default: return "cannot be opened";
    }
}

// Where a port read failed.
enum class SerialReadFailure {
    None,    // the read succeeded (possibly with no bytes)
    Start,   // the read could not be started (device gone, port closed)
    Wait,    // waiting for the read failed
    Result,  // the read finished but its result could not be fetched
};

class SerialPort {
public:
    SerialPort();
    ~SerialPort();  // closes what is still open
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // Opens an existing device for reading and writing, exclusively, in
    // overlapped (non-blocking) mode. Ok or Failed.
    PortResult Open(const std::string& devicePath);
    bool IsOpen() const;

    // Configuration steps, each Ok or Failed.
    PortResult SetEventMask();  // CTS, DSR, RLSD and break
    PortResult SetQueueSizes(uint32_t inputBytes, uint32_t outputBytes);
    // Aborts pending transfers and empties both queues. Bytes a completed
    // Write handed over are not taken back (see Write).
    PortResult Purge();
    PortResult ReadSettings();  // fetches the current settings
    // Writes the fetched settings changed to: `baudRate`, 8 data bits, no
    // parity, one stop bit, binary, no flow control, DTR and RTS on, abort on
    // error, event character 0x7E.
    PortResult WriteSettings(uint32_t baudRate);
    // Read: return at once with what is waiting, as soon as a byte arrives, or
    // with nothing after `readTotalMs`. Write: 1 ms per byte plus 50 ms.
    PortResult WriteTimeouts(uint32_t readTotalMs);

    // Completion signals of the overlapped transfers, made after the device is
    // opened and released after it is closed. Ok or Failed.
    PortResult CreateWriteSignal();
    PortResult CreateReadSignal();
    // Each Ok or Failed; the object is gone either way.
    PortResult CloseDevice();
    PortResult ReleaseWriteSignal();
    PortResult ReleaseReadSignal();

    // Writes all bytes and returns once they have left this end (a following
    // Purge cannot discard them): Ok; TimedOut when the time limit passed
    // first (`written` tells how many left); Failed. `written` may be null.
    PortResult Write(const uint8_t* bytes, size_t count, size_t* written);

    // One read of up to `capacity` bytes with the read timeouts above: Ok
    // with *got bytes (0 after the timeout or a wake-up), or Failed with
    // `*failure` telling where it failed. A hung-up device is an error.
    // Only one thread reads at a time. `failure` may be null.
    PortResult Read(uint8_t* buffer, size_t capacity, size_t* got, SerialReadFailure* failure);

    // For the reading thread between two reads: sleeps until the port has
    // bytes to read (or has hung up or gone), a WakeReader, or `milliseconds`
    // pass, without reading anything. False only when the time passed. Where
    // the system cannot wait on a port without reading it, true at once.
    bool WaitForInput(uint32_t milliseconds);

    // Makes a Read (or WaitForInput) blocked in another thread return now, with
    // what it has. A
    // wake-up while no Read blocks ends the next Read at once, unless
    // DiscardWake() comes first. Safe from any thread while the object lives.
    void WakeReader();
    void DiscardWake();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace fennix::platform
