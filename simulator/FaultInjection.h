// One fault injected at a chosen request: the Nth request the device receives
// in a mode (optionally only counting one command code) gets a spoiled answer,
// no answer, or takes the port away. The point is kept as knobs of the
// device's options, so msm-sim sets it with --knob like any other knob:
//
//   fault.kind=<n>      1 no-answer      the request is handled, its answers are lost
//                       2 late-answer    its answers go out fault.late-ms later (and the
//                                        device's later answers queue behind them)
//                       3 wrong-command  first packet byte inverted (AT: first text byte)
//                       4 wrong-echo     the echoed item / address inverted: byte 1, or
//                                        bytes 2-3 of a subsystem (0x4B) answer; a
//                                        one-byte answer gets its command inverted
//                       5 stray-frame    an unsolicited DIAG log record goes out before
//                                        the answer (framed for the mode)
//                       6 truncated      the packet cut to half its length, CRC and
//                                        flags intact (AT: half the text)
//                       7 bad-crc        the frame's CRC spoiled (AT text has none: no effect)
//                       8 vanish         the request is lost and the port goes for good
//                       9 vanish-return  the request is lost, the port drops off and comes
//                                        back after the vanish time in the same mode,
//                                        the running firmware kept (a USB glitch)
//                       10 refused       the request is not carried out but refused as the
//                                        device refuses what it does not know (DIAG: 0x13 or
//                                        0x14 and the request; download: a NAK; AT: ERROR);
//                                        the same packet sent again is refused again
//   fault.mode=<m>      0 AT, 1 DIAG, 2 download (default: any mode)
//   fault.command=<c>   count only requests with this command code (default: any)
//   fault.nth=<n>       the matching request that gets the fault, from 1 (default 1)
//   fault.late-ms=<ms>  delay of a late answer (default 3000)
//
// The fault hits one request once; setting the point again re-arms it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "DeviceOptions.h"

namespace fennix::sim {

struct DeviceState;

enum class InjectedFault {
    None = 0,
    NoAnswer,
    LateAnswer,
    WrongCommand,
    WrongEcho,
    StrayFrame,
    Truncated,
    BadCrc,
    Vanish,
    VanishAndReturn,
    Refused,
};

const char* InjectedFaultName(InjectedFault fault);

struct FaultPoint {
    InjectedFault fault = InjectedFault::None;
    int mode = -1;     // DeviceMode as a number, -1 any
    int command = -1;  // -1 any
    uint32_t nth = 1;
    uint32_t lateMs = 3000;

    bool Matches(DeviceMode requestMode, int requestCommand) const {
        return (mode < 0 || mode == static_cast<int>(requestMode)) && (command < 0 || command == requestCommand);
    }
};

// Writes the point into the options' knobs (and re-arms it on a running device
// through InjectFaultPoint). A point with a value out of its knob's range is
// refused whole, naming the knob.
KnobCheck SetFaultPoint(DeviceOptions& options, const FaultPoint& point);
// The point the knobs describe (fault None when no fault.kind is set).
FaultPoint FaultPointOf(const DeviceState& state);
// Sets the point on a device's state and starts its count afresh.
KnobCheck InjectFaultPoint(DeviceState& state, const FaultPoint& point);

// Counts one request against the point; the fault to apply to it (None for
// all requests but the chosen one).
InjectedFault TakeFaultFor(DeviceState& state, DeviceMode mode, int command);

// A packet refused by the point stays refused: true for the same bytes again.
void RememberRefused(DeviceState& state, const std::vector<uint8_t>& packet);
bool RefusedBefore(DeviceState& state, const std::vector<uint8_t>& packet);

// The answer spoilers (packet level, before framing).
void SpoilEcho(std::vector<uint8_t>& packet);
void Truncate(std::vector<uint8_t>& packetOrText);
// The packet of the stray log record.
std::vector<uint8_t> StrayLogRecord();

}  // namespace fennix::sim
