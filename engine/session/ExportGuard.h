// What every exported function shares: the session behind a handle, and the
// guard that keeps exceptions inside the library (one becomes the export's
// failure result and a log line).
#pragma once

#include <cstdint>
#include <exception>

#include "fennix/fennix.h"
#include "log/Log.h"
#include "session/QualCmd.h"
#include "session/SessionRegistry.h"

namespace fennix {

inline CQualCmd* SessionOf(FennixHandle handle) { return static_cast<CQualCmd*>(handle); }

// `body()`, or `failure` when it throws.
template <typename Body>
int32_t Guarded(const char* function, int32_t failure, Body body) {
    try {
        return body();
    } catch (const std::exception& e) {
        LogFuncLine(kLogError, function, "Unexpected failure: %s", e.what());
    } catch (...) {
        LogFuncLine(kLogError, function, "Unexpected failure.");
    }
    return failure;
}

// A flow on the session behind `handle`: `failure` for a null handle or a
// session being closed, otherwise `body(session)` under the guard, counted as
// running so that Close waits for it.
template <typename Body>
int32_t GuardedFlow(FennixHandle handle, const char* function, int32_t failure, Body body) {
    if (!handle) return failure;
    CFlowEntry flow(SessionOf(handle));
    if (!flow.Entered()) return failure;
    return Guarded(function, failure, [&] { return body(*SessionOf(handle)); });
}

}  // namespace fennix
