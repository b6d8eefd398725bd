#include "platform/Event.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace fennix::platform {

struct AutoResetEvent::Impl {
    std::mutex lock;
    std::condition_variable changed;
    bool signalled = false;
};

AutoResetEvent::AutoResetEvent() : impl_(new Impl) {}
AutoResetEvent::~AutoResetEvent() = default;

void AutoResetEvent::Set() {
    {
        std::lock_guard<std::mutex> hold(impl_->lock);
        impl_->signalled = true;
    }
    impl_->changed.notify_one();
}

void AutoResetEvent::Reset() {
    std::lock_guard<std::mutex> hold(impl_->lock);
    impl_->signalled = false;
}

bool AutoResetEvent::Wait(uint32_t milliseconds) {
    std::unique_lock<std::mutex> hold(impl_->lock);
    if (milliseconds == kWaitForever) {
        impl_->changed.wait(hold, [this] { return impl_->signalled; });
    } else if (!impl_->changed.wait_for(hold, std::chrono::milliseconds(milliseconds),
                                        [this] { return impl_->signalled; })) {
        return false;
    }
    impl_->signalled = false;
    return true;
}

}  // namespace fennix::platform
