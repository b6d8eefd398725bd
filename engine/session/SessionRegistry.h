// The live sessions, each behind a handle of its own, with the calls running
// on each. A handle is a number that is never given twice (not the session's
// address, which a later session may get), so a handle that was closed, never
// made or is being closed reaches no session: every export then fails at once.
// A front-end may call Close from another thread while a flow runs (Ctrl-C):
// Close cancels the flow, waits for it to end and only then frees the session.
// On the flow's own thread (the progress callback) Close cannot wait for the
// flow: it cancels it and leaves the freeing to the flow's end.
#pragma once

#include <memory>

#include "fennix/fennix.h"
#include "session/QualCmd.h"

namespace fennix {

// Takes the session over and gives its handle (SetComPort; tools and tests
// that build a session of their own).
FennixHandle RegisterSession(std::unique_ptr<CQualCmd> session);

// Counts a call (a flow or a setter) as running on the session behind a handle
// for its own lifetime, so that the session is not freed under it. Entered()
// is false when the handle is not a live session: the call must not run.
class CFlowEntry {
public:
    explicit CFlowEntry(FennixHandle handle);
    ~CFlowEntry();
    CFlowEntry(const CFlowEntry&) = delete;
    CFlowEntry& operator=(const CFlowEntry&) = delete;
    bool Entered() const { return session_ != nullptr; }
    CQualCmd& Session() const { return *session_; }

private:
    FennixHandle handle_;
    CQualCmd* session_ = nullptr;
};

// Close: takes the session out of the registry, cancels the calls running on
// it and frees it once they have ended; returns when it is freed. Also when
// another Close of it is under way (it waits for that one). On the thread of
// one of its flows it returns at once. Nothing for a handle that is not a
// session.
void CloseSession(FennixHandle handle);

}  // namespace fennix
