#include "platform/Event.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace fennix::platform {

struct AutoResetEvent::Impl {
    std::mutex lock;
    std::condition_variable changed;
    // Set under the lock, so that a blocking wait cannot miss it; TryWait
    // reads and consumes it without the lock, so that a polling thread never
    // makes Set wait for the lock.
    std::atomic<bool> signalled{false};
};

AutoResetEvent::AutoResetEvent() : impl_(new Impl) {}
AutoResetEvent::~AutoResetEvent() = default;

void AutoResetEvent::Set() {
    {
        std::lock_guard<std::mutex> hold(impl_->lock);
        impl_->signalled.store(true);
    }
    impl_->changed.notify_one();
}

void AutoResetEvent::Reset() {
    std::lock_guard<std::mutex> hold(impl_->lock);
    impl_->signalled.store(false);
}

bool AutoResetEvent::Wait(uint32_t milliseconds) {
    std::unique_lock<std::mutex> hold(impl_->lock);
    // exchange, not load: a TryWait may take the signal between the wake-up
    // and this check, and then this wait goes on waiting.
    auto take = [this] { return impl_->signalled.exchange(false); };
    if (milliseconds == kWaitForever) {
        impl_->changed.wait(hold, take);
        return true;
    }
    return impl_->changed.wait_for(hold, std::chrono::milliseconds(milliseconds), take);
}

bool AutoResetEvent::TryWait() {
    return impl_->signalled.load(std::memory_order_relaxed) && impl_->signalled.exchange(false);
}

}  // namespace fennix::platform
