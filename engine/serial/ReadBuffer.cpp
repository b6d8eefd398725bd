#include "serial/ReadBuffer.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "log/Log.h"

namespace fennix {

ReadBuffer::ReadBuffer() : bytes_(kGrowthStep, 0) {}

bool ReadBuffer::Append(const uint8_t* bytes, uint32_t count, const char* portName,
                        const std::function<bool()>& refuse) {
    std::lock_guard<std::mutex> hold(lock_);
    if (refuse && refuse()) return false;
    AppendLocked(bytes, count, portName);
    return true;
}

void ReadBuffer::AppendLocked(const uint8_t* bytes, uint32_t count, const char* portName) {
    LogPortLine(kLogDebug, portName, "CSerialIO::AppendBuffer", "Add read content to buffer.");
    uint32_t unread = writePos_ - readPos_;
    uint32_t capacity = static_cast<uint32_t>(bytes_.size());
    if (static_cast<uint64_t>(unread) + count > capacity) {
        uint32_t grown = capacity + (count / kGrowthStep + 1) * kGrowthStep;
        std::vector<uint8_t> larger(grown, 0);
        std::memcpy(larger.data(), bytes_.data() + readPos_, unread);
        bytes_.swap(larger);
        readPos_ = 0;
        writePos_ = unread;
    } else if (static_cast<uint64_t>(writePos_) + count >= capacity) {
        std::memmove(bytes_.data(), bytes_.data() + readPos_, unread);
        readPos_ = 0;
        writePos_ = unread;
    }
    if (count > 0) std::memcpy(bytes_.data() + writePos_, bytes, count);
    writePos_ += count;
    appendedTotal_ += count;
    dataArrived_.notify_all();
}

uint32_t ReadBuffer::Take(uint8_t* out, uint32_t capacity) {
    std::lock_guard<std::mutex> hold(lock_);
    uint32_t n = std::min(capacity, writePos_ - readPos_);
    if (n > 0) std::memcpy(out, bytes_.data() + readPos_, n);
    readPos_ += n;
    readTotal_ += n;
    return n;
}

void ReadBuffer::DiscardUnread() {
    std::lock_guard<std::mutex> hold(lock_);
    readTotal_ += writePos_ - readPos_;
    readPos_ = writePos_;
}

void ReadBuffer::MarkRequest() {
    std::lock_guard<std::mutex> hold(lock_);
    requestMark_ = appendedTotal_;
}

bool ReadBuffer::WaitForAnswer(uint32_t waitMs, const std::atomic<bool>& stopped, uint32_t* dropped) {
    *dropped = 0;
    std::unique_lock<std::mutex> hold(lock_);
    // The answer is whatever arrived after the latest request and has not
    // been read yet, whether it came before this call or comes later.
    auto answered = [this] { return appendedTotal_ > std::max(readTotal_, requestMark_); };
    const bool arrived =
        dataArrived_.wait_for(hold, std::chrono::milliseconds(waitMs), [&] { return answered() || stopped.load(); });
    if (!arrived || !answered()) return false;
    // Bytes from before the request are not part of its answer.
    if (readTotal_ < requestMark_) {
        uint32_t stale = static_cast<uint32_t>(std::min<uint64_t>(requestMark_ - readTotal_, writePos_ - readPos_));
        readPos_ += stale;
        readTotal_ += stale;
        *dropped = stale;
    }
    return true;
}

void ReadBuffer::WakeWaiters() {
    // Taking the lock orders the caller's flag change before the waiter's
    // next look at it.
    { std::lock_guard<std::mutex> hold(lock_); }
    dataArrived_.notify_all();
}

void ReadBuffer::Release() {
    std::lock_guard<std::mutex> hold(lock_);
    std::vector<uint8_t>().swap(bytes_);
}

uint32_t ReadBuffer::Capacity() const {
    std::lock_guard<std::mutex> hold(lock_);
    return static_cast<uint32_t>(bytes_.size());
}

uint32_t ReadBuffer::Unread() const {
    std::lock_guard<std::mutex> hold(lock_);
    return writePos_ - readPos_;
}

}  // namespace fennix
