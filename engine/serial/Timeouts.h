// Every pause and time limit of the engine, in one table, in milliseconds.
//
// The values are the device's real timings multiplied by the decimal factor in
// the environment variable FENNIX_TIME_SCALE (default 1), so that tests and the
// demo can run whole flows against a virtual device in seconds. The factor is
// read once, when a channel or session captures its table at construction;
// changing the variable later affects only objects built afterwards.
//
// The rule: a pause (a settle time, a poll period, a time given to a device to
// come up) only costs time on a flow that succeeds, so scaling it is what
// makes a run quick; a wait for an answer costs time only when the answer does
// not come, and scaled down it turns a device that is merely slow, or a host
// thread that the scheduler let wait on a busy machine, into a failure. So the
// waits for an answer (the fields marked below) take their own factor,
// FENNIX_WAIT_SCALE, which defaults to FENNIX_TIME_SCALE: tests of silent
// devices keep their short waits, and the demo sets FENNIX_WAIT_SCALE=1 to
// scale the pauses only.
//
// Waits "without limit" are not in the table: they stay unlimited.
#pragma once

#include <cstdint>

namespace fennix {

struct Timeouts {
    // The factors the table was built with: the pauses', and the waits' for
    // an answer.
    double scale = 1.0;
    double waitScale = 1.0;

    // Serial channel listener.
    uint32_t listenerReopenPause = 100;     // after closing the port, before reopening it
    uint32_t probePause = 100;              // before each detection probe
    uint32_t listenerRetryPause = 500;      // after a failed open or a read error
    uint32_t portReadTimeout = 500;         // a port read returns empty after this long
    uint32_t unregisteredPortPause = 1000;  // a port missing from the system's table
    uint32_t rawReplyWait = 2000;           // WaitandReadBuffer (a wait for an answer)
    uint32_t listenerStopWait = 180000;     // Close and the mode switches stopping the listener

    // Phone mode detection and switching.
    uint32_t diagDetectionPoll = 700;                    // IsDIAGConnected between polls
    uint32_t dlDetectionPoll = 1000;                     // IsDLConnected between polls
    uint32_t switchPoll = 200;                           // ChangeDS2DIAG polls, QuietDevice, ChangeToOffline polls
    uint32_t quietDrainPoll = 100;                       // QuietDevice drain checks
    uint32_t versionRequestPause = 1;                    // GetMobileMode after writing its request
    uint32_t switchSettlePause = 500;                    // InternalChange2DLDefault before quieting
    uint32_t switchCheck = 1000;                         // download-mode checks after a switch; settle pauses
    uint32_t reopenPause[4] = {1000, 2000, 4000, 8000};  // after the 1st..4th failed reopen
    uint32_t portReleasePause = 5000;                    // after closing the port for a device that re-enumerates

    // Packet exchange: the waits for an answer.
    uint32_t drainFrameWait = 3000;   // ReadReturnPacket per frame
    uint32_t replyWait = 5000;        // the usual request/reply wait
    uint32_t streamWriteWait = 500;   // one try of a stream write
    uint32_t closeImageWait = 15000;  // streaming close
    uint32_t cefsOpenWait = 20000;    // opening the CEFS image

    // Flows.
    uint32_t nopRetryPause = 1000;    // between failed NOPs
    uint32_t skipCheckPause = 20000;  // after the reset when the power-on check is skipped
    uint32_t powerOnPause = 10000;    // after the reset before the power-on check

    // The table scaled by FENNIX_TIME_SCALE, its waits for an answer by
    // FENNIX_WAIT_SCALE when that is set (1 for a factor that is not a
    // positive decimal number).
    static Timeouts FromEnvironment();
    // The table scaled by `factor` (1 when not a positive finite number).
    static Timeouts WithScale(double factor);
    // The pauses scaled by `factor`, the waits for an answer by `waitFactor`.
    static Timeouts WithScales(double factor, double waitFactor);
    // Any other pause in milliseconds, scaled like the table's: never below
    // 1 ms unless it is 0.
    uint32_t Scale(uint32_t milliseconds) const;
};

// The factor FENNIX_TIME_SCALE names now (1 when unset or invalid).
double TimeScaleFromEnvironment();
// The factor for the waits for an answer: FENNIX_WAIT_SCALE when it is set
// (1 when invalid), else the one of FENNIX_TIME_SCALE.
double WaitScaleFromEnvironment();

}  // namespace fennix
