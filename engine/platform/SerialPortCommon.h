// Steps of SerialPort that are the same on every system, written once for the
// per-system implementations: how one Read reports its outcome, and how a
// closing thread gets a reader in another thread out of the way. Not part of
// the port's interface; only the implementations include it.
#pragma once

#include <cstddef>
#include <mutex>

#include "platform/SerialPort.h"

namespace fennix::platform {

// The outcome of one Read in the caller's optional outputs: nothing read and
// no failure until told otherwise.
class ReadOutcome {
public:
    ReadOutcome(size_t* got, SerialReadFailure* failure) : got_(got), failure_(failure) {
        if (got_ != nullptr) *got_ = 0;
        if (failure_ != nullptr) *failure_ = SerialReadFailure::None;
    }
    // The read's result: `count` bytes.
    PortResult Got(size_t count) {
        if (got_ != nullptr) *got_ = count;
        return PortResult::Ok();
    }
    // The read's result: `error`, at `where`.
    PortResult Fail(SerialReadFailure where, int error) {
        if (failure_ != nullptr) *failure_ = where;
        return PortResult::Failed(error);
    }

private:
    size_t* got_;
    SerialReadFailure* failure_;
};

// The port's read lock, held by the caller until the device is closed. A Read
// that holds it in another thread is woken and finishes first, so that it
// never uses a device that is gone (or a descriptor number used again).
std::unique_lock<std::mutex> TakeReadLockForClose(std::mutex& readLock, SerialPort& port);

}  // namespace fennix::platform
