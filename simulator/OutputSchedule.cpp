#include "OutputSchedule.h"

#include <cerrno>
#include <unistd.h>

#include "Pty.h"

namespace fennix::sim {

COutputSchedule::Clock::time_point COutputSchedule::LastDue() const {
    return items_.empty() ? Clock::time_point::min() : items_.back().due;
}

COutputSchedule::Clock::time_point COutputSchedule::LastDueAheadOfHeld() const {
    if (items_.empty() || !items_.back().held) return LastDue();
    return items_.size() > 1 ? items_[items_.size() - 2].due : Clock::time_point::min();
}

void COutputSchedule::PushAheadOfHeld(OutputItem item) {
    if (items_.empty() || !items_.back().held) {
        Push(std::move(item));
        return;
    }
    OutputItem& held = items_.back();
    held.held = false;
    held.due = item.due;
    items_.insert(items_.end() - 1, std::move(item));
}

OutputItem* COutputSchedule::DueFront(Clock::time_point now) {
    return !items_.empty() && items_.front().due <= now ? &items_.front() : nullptr;
}

OutputItem COutputSchedule::TakeFront() {
    OutputItem item = std::move(items_.front());
    items_.pop_front();
    return item;
}

std::vector<OutputItem> COutputSchedule::TakeDueWrites(Clock::time_point now) {
    std::vector<OutputItem> due;
    while (!items_.empty() && items_.front().kind == OutputItem::Kind::Write && items_.front().due <= now) {
        due.push_back(std::move(items_.front()));
        items_.pop_front();
    }
    return due;
}

COutputSchedule::Clock::time_point COutputSchedule::NextDue() const {
    if (!items_.empty() && (buffer_.empty() || items_.front().kind == OutputItem::Kind::Vanish))
        return items_.front().due;
    return Clock::time_point::max();
}

bool COutputSchedule::WriteTo(const CPty& pty) {
    bool ok = true;
    while (!buffer_.empty() && pty.IsOpen()) {
        ssize_t n = ::write(pty.MasterFd(), buffer_.data(), buffer_.size());
        if (n > 0) {
            buffer_.erase(buffer_.begin(), buffer_.begin() + n);
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) return ok;
        ok = false;
        buffer_.clear();
    }
    if (!pty.IsOpen()) buffer_.clear();
    return ok;
}

void COutputSchedule::Clear() {
    items_.clear();
    buffer_.clear();
}

}  // namespace fennix::sim
