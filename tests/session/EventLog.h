// The events a session sends to its receiver, kept as values.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "fennix/fennix.h"

namespace fennix::test {

struct RecordedEvent {
    int32_t kind = 0;
    std::string stageKey;
    int32_t stage = 0;
    int32_t image = -1;
    std::string imageName;
    uint64_t done = 0, total = 0;
    std::string text;
    int32_t status = 0, result = 0, cause = 0;
    std::string causeKey;
};

struct EventLog {
    std::vector<RecordedEvent> events;

    // The receiver; its context is the log.
    static void Receive(const FennixEvent* e, void* context) {
        auto& log = *static_cast<EventLog*>(context);
        const auto text = [](const char* t) { return std::string(t ? t : "(null)"); };
        log.events.push_back({e->kind, text(e->stageKey), e->stage, e->image, text(e->imageName), e->done, e->total,
                              text(e->text), e->status, e->result, e->cause, text(e->causeKey)});
        if (e->size != sizeof(FennixEvent)) log.events.back().kind = -1;
    }
    std::vector<RecordedEvent> OfKind(int32_t kind) const {
        std::vector<RecordedEvent> out;
        for (const auto& e : events)
            if (e.kind == kind) out.push_back(e);
        return out;
    }
    // "image-write AMSS" for each STAGE event.
    std::vector<std::string> Stages() const {
        std::vector<std::string> out;
        for (const auto& e : OfKind(FENNIX_EVENT_STAGE))
            out.push_back(e.image < 0 ? e.stageKey : e.stageKey + " " + e.imageName);
        return out;
    }
    // The LINE events' texts and statuses.
    std::vector<std::pair<std::string, int32_t>> Lines() const {
        std::vector<std::pair<std::string, int32_t>> out;
        for (const auto& e : OfKind(FENNIX_EVENT_LINE)) out.push_back({e.text, e.status});
        return out;
    }
    // The one END, which must be the last event.
    RecordedEvent End() const {
        const auto ends = OfKind(FENNIX_EVENT_END);
        if (ends.size() != 1 || events.back().kind != FENNIX_EVENT_END) return {};
        return ends.front();
    }
};

}  // namespace fennix::test
