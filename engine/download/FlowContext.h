// IFlowContext: what a flow's operations need from the session they run in
// (the link to the device, the waits, the operator's report line, pauses and
// cancellation, the port's closing and reopening, the stages and progress it
// tells the caller). The session (CQualCmd)
// implements it; download/ sees the session through nothing else, and its
// tests put a small fake in its place.
#pragma once

#include <cstdint>
#include <string>

#include "flow/FlowEvents.h"
#include "flow/OperatorLines.h"
#include "serial/SessionLink.h"
#include "serial/Timeouts.h"

namespace fennix {

class IFlowContext : public IFlowEvents {
public:
    virtual ~IFlowContext() = default;

    virtual ISessionLink& Link() = 0;
    virtual const Timeouts& Times() const = 0;
    // The port the session talks on, for log lines.
    virtual const std::string& PortName() const = 0;
    // One line to the operator; nothing happens without a callback.
    virtual void Report(const char* text, int32_t status) const = 0;
    // One line of the download's table, with its status (None says nothing).
    void Say(OperatorLine line) const {
        const OperatorLineText& said = TextOf(line);
        if (said.text) Report(said.text, said.status);
    }
    // A fixed pause of a flow; none once the session is cancelled.
    virtual void Pause(uint32_t milliseconds) = 0;
    virtual bool Cancelled() const = 0;
    // Closes the port (harmless when it is closed already).
    virtual void ClosePort() = 0;
    // Opens the port again after a reset, once the device is back on the bus;
    // false when it could not (the port is closed then).
    virtual bool ReopenPort() = 0;
    // Reads and discards reply packets still pending after an unexpected reply.
    virtual void DrainReplies() = 0;
};

}  // namespace fennix
