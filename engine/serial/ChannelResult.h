// The serial channel's results. A system error behind SystemError is kept
// beside the result (the channel's LastSystemError), never in its place.
#pragma once

#include <cstdint>

namespace fennix {

enum class ChannelResult : uint8_t {
    Ok,
    Closed,       // Close closed the port itself
    NothingDone,  // writes blocked, no such port, or no answer in time
    NoPort,       // no port open
    AlreadyOpen,  // a port is open or a listener runs
    TimedOut,     // a write did not finish in time
    SystemError,  // the system refused; the channel keeps its error number
};

// A channel result together with the system's error number behind a
// SystemError (0 otherwise). Aligned as one 64-bit word, so that the
// channel's std::atomic of it is lock-free with every compiler (clang would
// otherwise call libatomic).
struct alignas(8) ChannelOutcome {
    ChannelResult result = ChannelResult::Ok;
    int systemError = 0;
};

}  // namespace fennix
