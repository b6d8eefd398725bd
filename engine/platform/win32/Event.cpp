#include "platform/Event.h"

#include <windows.h>

namespace fennix::platform {

struct AutoResetEvent::Impl {
    HANDLE handle = nullptr;
};

AutoResetEvent::AutoResetEvent() : impl_(new Impl) {
    impl_->handle = CreateEventW(nullptr, FALSE, FALSE, nullptr);
}

AutoResetEvent::~AutoResetEvent() {
    if (impl_->handle != nullptr) ::CloseHandle(impl_->handle);
}

void AutoResetEvent::Set() { SetEvent(impl_->handle); }

void AutoResetEvent::Reset() { ResetEvent(impl_->handle); }

bool AutoResetEvent::Wait(uint32_t milliseconds) {
    DWORD limit = milliseconds == kWaitForever ? INFINITE : static_cast<DWORD>(milliseconds);
    return WaitForSingleObject(impl_->handle, limit) == WAIT_OBJECT_0;
}

bool AutoResetEvent::SpinThenWait(uint32_t spinMicroseconds, uint32_t milliseconds) {
    LARGE_INTEGER frequency, start, now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    const LONGLONG spinTicks = frequency.QuadPart * spinMicroseconds / 1000000;
    do {
        // A zero-time wait consumes the signal just as a blocking one does.
        if (WaitForSingleObject(impl_->handle, 0) == WAIT_OBJECT_0) return true;
        SwitchToThread();
        QueryPerformanceCounter(&now);
    } while (now.QuadPart - start.QuadPart < spinTicks);
    if (milliseconds == kWaitForever) return Wait(kWaitForever);
    const LONGLONG spentMs = (now.QuadPart - start.QuadPart) * 1000 / frequency.QuadPart;
    return Wait(milliseconds > spentMs ? milliseconds - static_cast<uint32_t>(spentMs) : 0);
}

}  // namespace fennix::platform
