#include "serial/Timeouts.h"

#include <cmath>
#include <cstdlib>
#include <locale>
#include <sstream>
#include <string>

namespace fennix {

namespace {

bool UsableFactor(double factor) { return std::isfinite(factor) && factor > 0.0; }

uint32_t ScaleBy(double factor, uint32_t milliseconds) {
    if (milliseconds == 0) return 0;
    double scaled = std::round(static_cast<double>(milliseconds) * factor);
    if (scaled < 1.0) return 1;
    // Stay below the "wait forever" value of the platform waits.
    if (scaled >= 4294967294.0) return 4294967294u;
    return static_cast<uint32_t>(scaled);
}

// The factor a variable names: `unset` when it is not there or empty, 1 when
// it is not a positive decimal number.
double FactorFromEnvironment(const char* name, double unset) {
    const char* text = std::getenv(name);
    if (text == nullptr || *text == '\0') return unset;
    // A decimal point whatever locale the host program runs in.
    std::istringstream in{std::string(text)};
    in.imbue(std::locale::classic());
    double factor = 0.0;
    in >> factor;
    if (in.fail()) return 1.0;
    in >> std::ws;
    if (!in.eof()) return 1.0;
    return UsableFactor(factor) ? factor : 1.0;
}

}  // namespace

double TimeScaleFromEnvironment() { return FactorFromEnvironment("FENNIX_TIME_SCALE", 1.0); }

double WaitScaleFromEnvironment() { return FactorFromEnvironment("FENNIX_WAIT_SCALE", TimeScaleFromEnvironment()); }

Timeouts Timeouts::FromEnvironment() { return WithScales(TimeScaleFromEnvironment(), WaitScaleFromEnvironment()); }

Timeouts Timeouts::WithScale(double factor) { return WithScales(factor, factor); }

Timeouts Timeouts::WithScales(double factor, double waitFactor) {
    if (!UsableFactor(factor)) factor = 1.0;
    if (!UsableFactor(waitFactor)) waitFactor = 1.0;
    Timeouts t;
    t.scale = factor;
    t.waitScale = waitFactor;
    uint32_t* waits[] = {&t.rawReplyWait,    &t.drainFrameWait, &t.replyWait,
                         &t.streamWriteWait, &t.closeImageWait, &t.cefsOpenWait};
    uint32_t* pauses[] = {
        &t.listenerReopenPause,
        &t.probePause,
        &t.listenerRetryPause,
        &t.portReadTimeout,
        &t.unregisteredPortPause,
        &t.listenerStopWait,
        &t.diagDetectionPoll,
        &t.dlDetectionPoll,
        &t.switchPoll,
        &t.quietDrainPoll,
        &t.versionRequestPause,
        &t.switchSettlePause,
        &t.switchCheck,
        &t.reopenPause[0],
        &t.reopenPause[1],
        &t.reopenPause[2],
        &t.reopenPause[3],
        &t.portReleasePause,
        &t.nopRetryPause,
        &t.skipCheckPause,
        &t.powerOnPause,
    };
    // A field added to the table must be added to one of the lists above too.
    constexpr size_t kDurations = sizeof(waits) / sizeof(waits[0]) + sizeof(pauses) / sizeof(pauses[0]);
    static_assert(kDurations * sizeof(uint32_t) + 2 * sizeof(double) <= sizeof(Timeouts) &&
                      sizeof(Timeouts) < kDurations * sizeof(uint32_t) + 2 * sizeof(double) + sizeof(uint32_t) * 2,
                  "every duration of the table is scaled");
    for (uint32_t* field : pauses) *field = ScaleBy(factor, *field);
    for (uint32_t* field : waits) *field = ScaleBy(waitFactor, *field);
    return t;
}

uint32_t Timeouts::Scale(uint32_t milliseconds) const { return ScaleBy(scale, milliseconds); }

}  // namespace fennix
