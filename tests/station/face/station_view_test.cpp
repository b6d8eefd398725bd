// What the station's display says of its sockets and events.
#include <gtest/gtest.h>

#include <algorithm>

#include "LiveLine.h"
#include "StationView.h"
#include "WebView.h"

namespace fennix::station {
namespace {

const char kSocket[] = "/dev/serial/by-path/pci-0000:00:14.0-usb-0:1:1.0-port0";

std::vector<std::string> Keys(const nlohmann::ordered_json& j) {
    std::vector<std::string> keys;
    for (const auto& item : j.items()) keys.push_back(item.key());
    return keys;
}

TEST(StationView, JsonEventsNameTheirSocketBesideTheToolsFields) {
    SocketSnapshot socket;
    socket.socket = kSocket;
    socket.port = "/dev/ttyUSB3";
    socket.state = SocketState::Failed;
    socket.run.emplace();
    socket.run->port = "/dev/ttyUSB3";
    socket.run->state = cli::RunState::Failed;
    socket.run->cause = "image-write-refused";
    socket.run->bytesDone = 4096;
    socket.run->fields["device"] = {{"imei", "352099001761481"}};
    SocketSnapshot other;
    other.socket = "/dev/ttyUSB9";

    StationEvent result;
    result.kind = StationEventKind::Flow;
    result.socket = kSocket;
    result.flow.port = "/dev/ttyUSB3";
    result.flow.kind = cli::EventKind::Result;
    result.flow.status = -1;
    result.flow.text = "AMSS image refused";
    const auto j = StationEventJson(result, {other, socket});
    EXPECT_EQ(Keys(j),
              (std::vector<std::string>{"schema", "time", "socket", "port", "event", "text", "status", "code_hex",
                                        "percent", "result", "seconds", "bytes", "cause", "device"}));
    EXPECT_EQ(j["socket"], kSocket);
    EXPECT_EQ(j["port"], "/dev/ttyUSB3");
    EXPECT_EQ(j["event"], "result");
    EXPECT_EQ(j["result"], "failed");
    EXPECT_EQ(j["cause"], "image-write-refused");
    EXPECT_EQ(j["bytes"], 4096);
    EXPECT_EQ(j["device"]["imei"], "352099001761481");

    StationEvent ended;
    ended.kind = StationEventKind::RunEnded;
    ended.socket = kSocket;
    ended.fields = {{"run_id", 17}, {"result", "interrupted"}, {"stage", "image-write"}};
    const auto e = StationEventJson(ended, {socket});
    EXPECT_EQ(Keys(e), (std::vector<std::string>{"schema", "time", "socket", "event", "run_id", "result", "stage"}));
    EXPECT_EQ(e["event"], "run-ended");
    EXPECT_EQ(e["run_id"], 17);
}

TEST(StationView, SocketLinesTellWaitingRunningAndTheLastResult) {
    SocketSnapshot s;
    s.socket = kSocket;
    const int width = static_cast<int>(cli::PortBaseName(kSocket).size());
    std::string line = SocketLine(s, width, 15, 100);
    EXPECT_NE(line.find("usb-0:1:1.0-port0"), std::string::npos) << line;
    EXPECT_EQ(line.substr(line.size() - 7), "waiting") << line;

    s.last = LastRun{"failed", "image-write-refused", "the device refused an image", "352099001761481", ""};
    line = SocketLine(s, width, 15, 200);
    EXPECT_NE(line.find("waiting; last 352099001761481 failed: the device refused an image"), std::string::npos)
        << line;
    // A waiting socket shows no bar of the run before.
    EXPECT_NE(line.find("[....."), std::string::npos) << line;

    s.state = SocketState::Running;
    s.device.emplace();
    s.device->imei = "356938035643809";
    s.run.emplace();
    s.run->state = cli::RunState::Running;
    s.run->fraction = 0.5;
    s.run->stage = "writing AMSS 45%";
    s.run->bytesPerSecond = 812000;
    line = SocketLine(s, width, 15, 160);
    EXPECT_NE(line.find("356938035643809"), std::string::npos) << line;
    EXPECT_NE(line.find(" 50%"), std::string::npos) << line;
    EXPECT_NE(line.find("812.0 kB/s"), std::string::npos) << line;
    EXPECT_EQ(line.substr(line.size() - 16), "writing AMSS 45%") << line;
    EXPECT_LE(SocketLine(s, width, 15, 80).size(), 79u);

    s.state = SocketState::Passed;
    s.last = LastRun{"success", "", "", "356938035643809", ""};
    line = SocketLine(s, width, 15, 160);
    EXPECT_NE(line.find("passed; remove the device"), std::string::npos) << line;
}

// A block taller than the terminal cannot be redrawn in place: the sockets with a device stay.
TEST(StationView, ThirtyTwoSocketsOnTwentyFourRowsKeepTheBusyOnes) {
    std::vector<SocketSnapshot> sockets(32);
    for (const size_t busy : {5, 20, 31}) sockets[busy].state = SocketState::Running;
    sockets[30].state = SocketState::Failed;
    size_t notShown = 0;
    const std::vector<size_t> shown = SocketsShown(sockets, 24, &notShown);
    EXPECT_EQ(shown.size(), 22u);
    EXPECT_EQ(notShown, 10u);
    EXPECT_TRUE(std::is_sorted(shown.begin(), shown.end()));
    for (const size_t busy : {5, 20, 30, 31})
        EXPECT_NE(std::find(shown.begin(), shown.end(), busy), shown.end()) << busy;
    EXPECT_EQ(SocketsShown(sockets, 0, &notShown).size(), 32u);
    EXPECT_EQ(notShown, 0u);
    EXPECT_EQ(SocketsShown(sockets, 40, &notShown).size(), 32u);
}

// An idle station on a terminal writes nothing; an ended run goes above the lines.
TEST(StationView, TerminalRedrawsOnlyWhatChanged) {
    const auto view = MakeStationView(cli::OutputMode::Terminal);
    std::vector<SocketSnapshot> sockets(1);
    sockets[0].socket = kSocket;
    testing::internal::CaptureStdout();
    view->Update({}, sockets, {});
    const std::string first = testing::internal::GetCapturedStdout();
    EXPECT_NE(first.find("waiting"), std::string::npos) << first;
    testing::internal::CaptureStdout();
    view->Update({}, sockets, {});
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");

    StationEvent ended;
    ended.kind = StationEventKind::RunEnded;
    ended.socket = kSocket;
    ended.fields = {{"run_id", 4}, {"result", "success"}, {"imei", "352099001761481"}};
    testing::internal::CaptureStdout();
    view->Update({ended}, sockets, {});
    const std::string next = testing::internal::GetCapturedStdout();
    EXPECT_EQ(next.rfind("\033[2A\033[J", 0), 0u) << next;
    EXPECT_NE(next.find("usb-0:1:1.0-port0 run 4 ended: 352099001761481 passed\n"), std::string::npos) << next;
    EXPECT_LT(next.find("ended"), next.find("waiting")) << next;
}

TEST(StationView, CountersGiveTheYieldOnceARunPassedOrFailed) {
    EXPECT_EQ(CountersText({}), "passed 0  failed 0  interrupted 0  aborted 0  yield -");
    Counters c;
    c.passed = 2;
    c.failed = 1;
    c.interrupted = 4;
    EXPECT_EQ(CountersText(c), "passed 2  failed 1  interrupted 4  aborted 0  yield 66.7%");
}

// The web's sockets: a running one with its progress, a waiting one with no trace of the run before but its result.
TEST(StationView, WebSocketsShowTheRunGoingOnAndOnlyTheLastResultOfAWaitingSocket) {
    SocketSnapshot running, waiting;
    running.socket = kSocket;
    running.state = SocketState::Running;
    running.device.emplace();
    running.device->imei = "356938035643809";
    running.device->versionDir = "<script>x</script>";
    running.run.emplace();
    running.run->fraction = 0.425;
    running.run->bytesPerSecond = 118400;
    running.run->stage = "writing the image";
    waiting.socket = "/dev/ttyUSB1";
    waiting.run = running.run;
    waiting.last = LastRun{"failed", "image-write-refused", "the device refused an image", "352099001761481",
                           "2026-12-10T08:00:00.000Z"};
    const nlohmann::ordered_json j = web::SocketsJson({running, waiting});
    ASSERT_EQ(j.size(), 2u);
    EXPECT_EQ(Keys(j[0]), (std::vector<std::string>{"socket", "port", "state", "device", "stage", "percent", "rate",
                                                    "elapsed", "cause", "cause_text", "last"}));
    EXPECT_EQ(j[0]["state"], "running");
    EXPECT_EQ(j[0]["percent"], 42.5);
    EXPECT_EQ(j[0]["rate"], 118400);
    EXPECT_EQ(j[0]["device"]["version_dir"], "<script>x</script>");
    EXPECT_EQ(j[0]["last"], nullptr);
    EXPECT_EQ(j[1]["state"], "waiting");
    EXPECT_EQ(j[1]["percent"], nullptr);
    EXPECT_EQ(j[1]["stage"], nullptr);
    EXPECT_EQ(j[1]["last"]["cause"], "image-write-refused");
    EXPECT_EQ(j[1]["last"]["ended_at"], "2026-12-10T08:00:00.000Z");
}

}  // namespace
}  // namespace fennix::station
