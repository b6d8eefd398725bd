#include "Events.h"

namespace fennix::cli {

void EventQueue::Push(Event event) {
    std::lock_guard<std::mutex> lock(mutex_);
    events_.push_back(std::move(event));
}

std::vector<Event> EventQueue::Take() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<Event> taken;
    taken.swap(events_);
    return taken;
}

}  // namespace fennix::cli
