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

}  // namespace

double TimeScaleFromEnvironment() {
    const char* text = std::getenv("FENNIX_TIME_SCALE");
    if (text == nullptr || *text == '\0') return 1.0;
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

Timeouts Timeouts::FromEnvironment() { return WithScale(TimeScaleFromEnvironment()); }

Timeouts Timeouts::WithScale(double factor) {
    if (!UsableFactor(factor)) factor = 1.0;
    Timeouts t;
    t.scale = factor;
    uint32_t* fields[] = {
        &t.listenerReopenPause,
        &t.probePause,
        &t.listenerRetryPause,
        &t.portReadTimeout,
        &t.unregisteredPortPause,
        &t.rawReplyWait,
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
        &t.drainFrameWait,
        &t.replyWait,
        &t.streamWriteWait,
        &t.closeImageWait,
        &t.cefsOpenWait,
        &t.nopRetryPause,
        &t.skipCheckPause,
        &t.powerOnPause,
    };
    // A field added to the table must be added to the list above too.
    static_assert(sizeof(fields) / sizeof(fields[0]) * sizeof(uint32_t) + sizeof(double) <= sizeof(Timeouts) &&
                      sizeof(Timeouts) <
                          sizeof(fields) / sizeof(fields[0]) * sizeof(uint32_t) + sizeof(double) + sizeof(uint32_t) * 2,
                  "every duration of the table is scaled");
    for (uint32_t* field : fields) *field = ScaleBy(factor, *field);
    return t;
}

uint32_t Timeouts::Scale(uint32_t milliseconds) const { return ScaleBy(scale, milliseconds); }

}  // namespace fennix
