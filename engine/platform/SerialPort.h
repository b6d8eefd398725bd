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

// What Write returns when its time limit passed before every byte left. It
// is no system error number (those are positive on every system), so a
// caller cannot take one for the other.
constexpr int kPortWriteTimedOut = -1;

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
    // overlapped (non-blocking) mode. 0 or a system error number.
    int Open(const std::string& devicePath);
    bool IsOpen() const;

    // Configuration steps, each 0 or a system error number.
    int SetEventMask();  // CTS, DSR, RLSD and break
    int SetQueueSizes(uint32_t inputBytes, uint32_t outputBytes);
    // Aborts pending transfers and empties both queues. Bytes a completed
    // Write handed over are not taken back (see Write).
    int Purge();
    int ReadSettings();  // fetches the current settings
    // Writes the fetched settings changed to: `baudRate`, 8 data bits, no
    // parity, one stop bit, binary, no flow control, DTR and RTS on, abort on
    // error, event character 0x7E.
    int WriteSettings(uint32_t baudRate);
    // Read: return at once with what is waiting, as soon as a byte arrives, or
    // with nothing after `readTotalMs`. Write: 1 ms per byte plus 50 ms.
    int WriteTimeouts(uint32_t readTotalMs);

    // Completion signals of the overlapped transfers, made after the device is
    // opened and released after it is closed. 0 or a system error number.
    int CreateWriteSignal();
    int CreateReadSignal();
    // Each 0 or a system error number; the object is gone either way.
    int CloseDevice();
    int ReleaseWriteSignal();
    int ReleaseReadSignal();

    // Writes all bytes and returns once they have left this end (a following
    // Purge cannot discard them): 0; kPortWriteTimedOut when the time limit
    // passed first (`written` tells how many left); a system error number.
    // `written` may be null.
    int Write(const uint8_t* bytes, size_t count, size_t* written);

    // One read of up to `capacity` bytes with the read timeouts above; 0 with
    // *got bytes (0 after the timeout or a wake-up), or a system error number
    // with `*failure` telling where it failed. A hung-up device is an error.
    // Only one thread reads at a time. `failure` may be null.
    int Read(uint8_t* buffer, size_t capacity, size_t* got, SerialReadFailure* failure);

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
