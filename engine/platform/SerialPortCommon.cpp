#include "platform/SerialPortCommon.h"

namespace fennix::platform {

std::unique_lock<std::mutex> TakeReadLockForClose(std::mutex& readLock, SerialPort& port) {
    std::unique_lock<std::mutex> reader(readLock, std::try_to_lock);
    if (!reader.owns_lock()) {
        port.WakeReader();
        reader.lock();
    }
    return reader;
}

}  // namespace fennix::platform
