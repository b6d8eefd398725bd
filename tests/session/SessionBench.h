// A session over the scripted device of the download tests.
#pragma once

#include <memory>

#include "download/FakeSessionLink.h"
#include "session/QualCmd.h"
#include "session/ExportResults.h"

namespace fennix::test {

// A session on "COM5" over a fresh fake device, unscaled times, pauses
// recorded instead of slept, lines recorded.
struct SessionBench {
    std::shared_ptr<FakeDevice> device = std::make_shared<FakeDevice>();
    std::unique_ptr<CQualCmd> session;
    SessionBench() {
        RecordedLines().clear();
        auto dev = device;
        session = std::make_unique<CQualCmd>(std::make_unique<FakeSessionLink>(device), Timeouts::WithScale(1.0),
                                             [dev](uint32_t ms) { dev->pauses.push_back(ms); });
        session->SetPortName("COM5");
        session->SetCallback(RecordLine);
    }
};

}  // namespace fennix::test
