#include "platform/Event.h"

#include <windows.h>

namespace fennix::platform {

struct AutoResetEvent::Impl {
    HANDLE handle = nullptr;
};

AutoResetEvent::AutoResetEvent() : impl_(new Impl) { impl_->handle = CreateEventW(nullptr, FALSE, FALSE, nullptr); }

AutoResetEvent::~AutoResetEvent() {
    if (impl_->handle != nullptr) ::CloseHandle(impl_->handle);
}

void AutoResetEvent::Set() { SetEvent(impl_->handle); }

void AutoResetEvent::Reset() { ResetEvent(impl_->handle); }

bool AutoResetEvent::Wait(uint32_t milliseconds) {
    DWORD limit = milliseconds == kWaitForever ? INFINITE : static_cast<DWORD>(milliseconds);
    return WaitForSingleObject(impl_->handle, limit) == WAIT_OBJECT_0;
}

bool AutoResetEvent::TryWait() { return WaitForSingleObject(impl_->handle, 0) == WAIT_OBJECT_0; }

}  // namespace fennix::platform
