// What every exported function shares: the session behind a handle, and the
// guard that keeps exceptions inside the library (one becomes the export's
// failure result and a log line).
#pragma once

#include <cstdint>
#include <exception>

#if defined(__GLIBCXX__) && !defined(_WIN32)
#include <cxxabi.h>
#endif

#include "fennix/fennix.h"
#include "log/Log.h"
#include "session/QualCmd.h"
#include "session/SessionRegistry.h"

namespace fennix {

// Called first in a `catch (...)`: lets the C library's unwinding of a thread
// that exits or is cancelled (pthread_exit, pthread_cancel) go on. Swallowed,
// it aborts the process. The unwind carries no C++ object, so the null check
// of the undefined-behaviour sanitizer would take the catch for a null
// reference: that check is off here.
#if defined(__GLIBCXX__) && !defined(_WIN32)
__attribute__((no_sanitize("null"))) inline void RethrowThreadUnwind() {
    try {
        throw;
    } catch (abi::__forced_unwind&) {
        throw;
    } catch (...) {
    }
}
#else
inline void RethrowThreadUnwind() {}
#endif

// `body()`, or `failure` when it throws.
template <typename Body>
int32_t Guarded(const char* function, int32_t failure, Body body) {
    try {
        return body();
    } catch (const std::exception& e) {
        LogFuncLine(kLogError, function, "Unexpected failure: %s", e.what());
    } catch (...) {
        RethrowThreadUnwind();
        LogFuncLine(kLogError, function, "Unexpected failure.");
    }
    return failure;
}

// A call on the session behind `handle` (a flow or a setter): `failure` when
// the handle is not a live session, otherwise `body(session)` under the guard,
// counted as running so that Close waits for it.
template <typename Body>
int32_t GuardedFlow(FennixHandle handle, const char* function, int32_t failure, Body body) {
    CFlowEntry flow(handle);
    if (!flow.Entered()) return failure;
    return Guarded(function, failure, [&] { return body(flow.Session()); });
}

}  // namespace fennix
