// The channel's read buffer: the bytes the listener received and the flow
// thread has not read yet. A class of its own because it has its own lock,
// its own growth rule and the stream counters that tell a request's answer
// from what arrived before it; the channel only decides when to use it.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

namespace fennix {

class ReadBuffer {
public:
    static constexpr uint32_t kGrowthStep = 8192;  // also the initial size

    ReadBuffer();

    // Appends under the buffer lock, growing in kGrowthStep steps or
    // compacting in place, and wakes WaitForAnswer. `refuse` (may be empty)
    // is asked under the lock first: when it says true nothing is appended
    // and the result is false. `portName` is the log line's port field.
    bool Append(const uint8_t* bytes, uint32_t count, const char* portName, const std::function<bool()>& refuse = {});
    // Copies up to `capacity` unread bytes out: the number copied.
    uint32_t Take(uint8_t* out, uint32_t capacity);
    // Drops every unread byte.
    void DiscardUnread();
    // Whatever arrives from now on may be the answer to a request just sent.
    void MarkRequest();
    // Waits at most `waitMs` for bytes newer than the latest request and
    // than what was already read, however early they came, or for `stopped`
    // to hold. True when such bytes are there; then unread bytes from before
    // the request are dropped and their number is put in `*dropped`.
    bool WaitForAnswer(uint32_t waitMs, const std::atomic<bool>& stopped, uint32_t* dropped);
    // Wakes a WaitForAnswer under way so that it looks at `stopped` again.
    void WakeWaiters();
    // Frees the storage for good (the channel is going).
    void Release();

    uint32_t Capacity() const;
    uint32_t Unread() const;

private:
    void AppendLocked(const uint8_t* bytes, uint32_t count, const char* portName);

    mutable std::mutex lock_;
    std::condition_variable dataArrived_;  // with lock_
    // Unread bytes are [readPos_, writePos_). Stream counters count every
    // byte ever appended and read, and the appended count when the latest
    // request was written.
    std::vector<uint8_t> bytes_;
    uint32_t readPos_ = 0;
    uint32_t writePos_ = 0;
    uint64_t appendedTotal_ = 0;
    uint64_t readTotal_ = 0;
    uint64_t requestMark_ = 0;
};

}  // namespace fennix
