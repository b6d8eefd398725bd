// The event stream of StartDownload against the virtual device: the stages of
// a whole flash in order and one END, and the cause each of the device's
// faults ends the download with.
#include <gtest/gtest.h>

#include <functional>

#include "../session/EventLog.h"
#include "download_e2e_support.h"
#include "fennix/fennix.h"
#include "session/SessionRegistry.h"

namespace fennix::testsupport {
namespace {

struct EventedDownload {
    test::EventLog log;
    std::vector<std::pair<std::string, int32_t>> lines;
    int32_t result = 0;
};

// StartDownload through the exports on `port` with the image set (the session
// changed by `adjust`), its events and lines kept.
void RunEventedDownload(EventedDownload& run, const std::string& port, const TestImageSet& images,
                        const Timeouts& times, const std::function<void(CQualCmd&)>& adjust) {
    auto session = std::make_unique<CQualCmd>(std::make_unique<CSerCOMLibrary>(times), times);
    session->SetPortName(port.c_str());
    session->SetCallback(RecordThreadLine);
    images.Apply(*session);
    if (adjust) adjust(*session);
    session->SetEventCallback(test::EventLog::Receive, &run.log);
    FennixHandle handle = RegisterSession(std::move(session));
    ThreadLines().clear();
    run.result = StartDownload(handle);
    EXPECT_EQ(0, Close(handle));
    for (const auto& line : ThreadLines()) run.lines.emplace_back(line.text, line.status);
}

TEST(DownloadEventsE2E, FromDiagModeEveryStageInOrderTheLinesAgainAndOneEnd) {
    TestImageSet images;
    sim::CScopedDevice device(sim::DiagDevice("Q6250"));
    ASSERT_TRUE(device.Ok());
    EventedDownload run;
    RunEventedDownload(run, device.Path(), images, DownloadTestTimes(), nullptr);
    EXPECT_EQ(1, run.result);
    std::vector<std::string> stages{"open", "mode-switch", "programmer", "hello", "partition-table"};
    for (const char* image : {"QCSBLHD", "QCSBL", "OEMSBL", "AMSS", "CEFS"})
        for (const char* step : {"image-open ", "image-write ", "image-close "})
            stages.push_back(step + std::string(image));
    stages.insert(stages.end(), {"reset", "power-on-check"});
    EXPECT_EQ(stages, run.log.Stages());
    EXPECT_EQ(run.lines, run.log.Lines());
    const test::RecordedEvent end = run.log.End();
    EXPECT_EQ(FENNIX_EVENT_END, end.kind);
    EXPECT_EQ(1, end.result);
    EXPECT_EQ("none", end.causeKey);
    uint64_t amssDone = 0;
    for (const auto& e : run.log.OfKind(FENNIX_EVENT_PROGRESS))
        if (e.imageName == "AMSS") amssDone = e.done;
    EXPECT_EQ(40000u, amssDone);  // the set's AMSS, whole
}

struct DeviceFaultCase {
    const char* name;
    std::function<void(sim::DeviceOptions&)> device;
    std::function<void(CQualCmd&)> session;
    int32_t result;
    const char* causeKey;
};

TEST(DownloadEventsE2E, EachFaultOfTheDeviceEndsWithItsCause) {
    const auto knob = [](const char* name, int64_t value) {
        return [=](sim::DeviceOptions& o) { o.knobs[name] = value; };
    };
    const DeviceFaultCase cases[] = {
        {"no answer to the probe", [](sim::DeviceOptions& o) { o.faults.silent = true; }, nullptr, kPacketModeUnknown,
         "no-answer"},
        {"programmer missing", nullptr, [](CQualCmd& s) { s.SetProgrammerPath("/nonexistent/NPRG6250.hex"); }, -1,
         "file-missing"},
        {"OEMSBL refused at its open", knob("dl.refuse-open", 4), nullptr, -1, "image-open-refused"},
        {"a block answered with a wrong address twice",
         [](sim::DeviceOptions& o) {
             o.knobs["dl.wrong-echo-block"] = 3;
             o.knobs["dl.wrong-echo-count"] = 2;
         },
         nullptr, -1, "image-write-refused"},
        {"gone after the reset", knob("dl.stay-away", 1), nullptr, -1, "not-back-after-reset"},
    };
    for (const DeviceFaultCase& c : cases) {
        TestImageSet images;
        sim::DeviceOptions options = sim::DownloadDevice();
        if (c.device) c.device(options);
        sim::CScopedDevice device(options);
        ASSERT_TRUE(device.Ok()) << c.name;
        Timeouts times = DownloadTestTimes();
        times.dlDetectionPoll = 10;  // the 120 probes of a device that never answers
        EventedDownload run;
        RunEventedDownload(run, device.Path(), images, times, c.session);
        EXPECT_EQ(c.result, run.result) << c.name;
        EXPECT_EQ(c.result, run.log.End().result) << c.name;
        EXPECT_EQ(c.causeKey, run.log.End().causeKey) << c.name;
        EXPECT_EQ(run.lines, run.log.Lines()) << c.name;
    }
    TestImageSet images;
    EventedDownload run;
    RunEventedDownload(run, "/nonexistent/ttyMSM9", images, DownloadTestTimes(), nullptr);
    EXPECT_EQ(-1, run.result);
    EXPECT_EQ((std::vector<std::string>{"open"}), run.log.Stages());
    EXPECT_EQ("port-missing", run.log.End().causeKey);
}

}  // namespace
}  // namespace fennix::testsupport
