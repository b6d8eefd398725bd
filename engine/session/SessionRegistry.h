// The sessions that SetComPort made and Close has not yet freed, with the
// flows running on each. A front-end may call Close from another thread while
// a flow runs (Ctrl-C): Close then cancels the flow, waits for it to end and
// only then frees the session; a flow started on a session being closed does
// not run. Sessions made otherwise (tests, tools) run unguarded; a handle
// already freed stays the caller's error.
#pragma once

#include "session/QualCmd.h"

namespace fennix {

void RegisterSession(CQualCmd* session);

// Counts a flow as running on a registered `session` for its own lifetime.
// Entered() is false when the session is being closed: the flow must not run.
class CFlowEntry {
public:
    explicit CFlowEntry(CQualCmd* session);
    ~CFlowEntry();
    CFlowEntry(const CFlowEntry&) = delete;
    CFlowEntry& operator=(const CFlowEntry&) = delete;
    bool Entered() const { return entered_; }

private:
    CQualCmd* session_;
    bool entered_;
};

// Takes the session out of the registry: cancels the flows running on it and
// returns once they have all ended. True when the caller may free the session
// now (also for one that was never registered); false when another Close of
// it is under way.
bool UnregisterSession(CQualCmd* session);

}  // namespace fennix
