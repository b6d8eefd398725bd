// fennix station end to end: the program as a child process, virtual devices
// in this process coming and going through the sockets, the records read back.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <thread>

#include "RecordDb.h"
#include "ToolProcess.h"
#include "simulator/SimulatorFixture.h"
#include "simulator/StreamingImageSet.h"

namespace fennix::clitest {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using records::RunResult;
using sim::CScopedDevice;

constexpr auto kLimit = std::chrono::seconds(90);

class Station : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = FreshTestDirOfThisTest("station-");
        fs::create_directories(dir_ / "sockets");
        sim::SampleImageSizes sizes;
        sizes.amss = 256 * 1024;
        sim::WriteSampleImageSet((dir_ / "images").string(), sizes);
    }
    std::string Socket(const std::string& name) const { return (dir_ / "sockets" / name).string(); }
    std::string Db() const { return (dir_ / "runs.db").string(); }
    // A DIAG device; of platform Q6250 it re-enumerates when it switches to download mode.
    std::unique_ptr<CScopedDevice> Plug(const std::string& socket, int64_t imei,
                                        std::map<std::string, int64_t> knobs = {}, uint32_t vanishMs = 100,
                                        const std::string& platform = "Q6250") {
        sim::DeviceOptions o = sim::DiagDevice(platform);
        o.vanishMs = vanishMs;
        o.directory = (dir_ / "sockets").string();
        o.name = socket;
        o.knobs["id.imei"] = imei;
        for (const auto& [knob, value] : knobs) o.knobs[knob] = value;
        auto device = std::make_unique<CScopedDevice>(o);
        EXPECT_TRUE(device->Ok());
        return device;
    }
    // A station a failed check left running must not serve the next test's sockets.
    void TearDown() override {
        for (auto& tool : tools_) {
            tool->Signal(SIGKILL);
            tool->Wait();
        }
    }
    ToolProcess* Start(const std::vector<std::string>& sockets, const std::string& out,
                       std::vector<std::string> args = {"--operator", "ana"}) {
        args.insert(args.begin(), {"station", "--json", "--db", Db(), "--name", "bench-1", "--recipe", "flash",
                                   "--images", (dir_ / "images").string(), "--model", "6280", "--skip-check"});
        for (const auto& s : sockets) args.insert(args.end(), {"--socket", Socket(s)});
        fs::create_directories(dir_ / out);
        tools_.push_back(std::make_unique<ToolProcess>(args, (dir_ / out).string()));
        return tools_.back().get();
    }
    static std::vector<json> Events(const ToolProcess& tool) {
        std::vector<json> events;
        for (const auto& text : Lines(tool.Out())) events.push_back(json::parse(text));
        return events;
    }
    static size_t Count(const ToolProcess& tool, const std::string& event, const std::string& socket) {
        size_t n = 0;
        for (const auto& e : Events(tool)) n += e.at("event") == event && e.value("socket", "") == socket;
        return n;
    }
    // Waits until the station told `n` events of the kind for the socket.
    bool WaitFor(const ToolProcess& tool, const std::string& event, const std::string& name, size_t n) {
        const auto end = std::chrono::steady_clock::now() + kLimit;
        while (std::chrono::steady_clock::now() < end) {
            if (Count(tool, event, Socket(name)) >= n) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }
    std::vector<records::RunRecord> Records() {
        std::string error;
        auto db = records::RecordDb::Open(Db(), true, &error);
        EXPECT_TRUE(db) << error;
        return db ? db->Runs({}) : std::vector<records::RunRecord>{};
    }
    fs::path dir_;
    std::vector<std::unique_ptr<ToolProcess>> tools_;
};

TEST_F(Station, ThreeSocketsTwoDevicesEachOneUnpluggedOneRefusingItsImage) {
    auto tool = Start({"s1", "s2", "s3"}, "run");
    // s1: two good devices; s2: one unplugged in the middle of its stream
    // writes, then a good one; s3: one refusing its AMSS image, then a good one.
    // Each device restarts (leaves and comes back) after a flash.
    // Switches to download mode in place and restarts after its flash for
    // longer than the flash waits for it, as real devices may.
    auto a = Plug("s1", 350000000000011, {}, 6000, "K7M01");
    auto b =
        Plug("s2", 350000000000021, {{"fault.kind", 8}, {"fault.mode", 2}, {"fault.command", 7}, {"fault.nth", 3}});
    auto c = Plug("s3", 350000000000031, {{"dl.refuse-open", 5}});
    for (const char* s : {"s1", "s2", "s3"}) ASSERT_TRUE(WaitFor(*tool, "run-ended", s, 1)) << s << tool->Err();
    // The unplugged device is gone by itself; the refusing one leaves when taken out.
    ASSERT_TRUE(WaitFor(*tool, "device-left", "s2", 1));
    b.reset();
    b = Plug("s2", 350000000000022);
    c.reset();
    c = Plug("s3", 350000000000032);
    ASSERT_TRUE(WaitFor(*tool, "run-ended", "s2", 2));
    ASSERT_TRUE(WaitFor(*tool, "run-ended", "s3", 2));
    // The first device of s1 stayed in its socket through the restart after
    // its flash and two other runs: served once only.
    EXPECT_EQ(Count(*tool, "run-started", Socket("s1")), 1u);
    EXPECT_EQ(Count(*tool, "device-left", Socket("s1")), 0u);
    a.reset();
    a = Plug("s1", 350000000000012);
    ASSERT_TRUE(WaitFor(*tool, "run-ended", "s1", 2));
    tool->Signal(SIGTERM);
    EXPECT_EQ(tool->Wait(), 0) << tool->Err();

    std::map<std::string, json> ended;  // by IMEI
    for (const auto& e : Events(*tool))
        if (e.at("event") == "run-ended") ended[e.at("imei")] = e;
    ASSERT_EQ(ended.size(), 6u) << tool->Out();
    EXPECT_EQ(ended["350000000000021"].at("result"), "interrupted");
    EXPECT_EQ(ended["350000000000021"].at("stage"), "image-write");
    EXPECT_EQ(ended["350000000000031"].at("result"), "failed");
    EXPECT_EQ(ended["350000000000031"].at("cause"), "image-open-refused");

    const auto runs = Records();
    ASSERT_EQ(runs.size(), 6u);
    std::map<std::string, records::RunRecord> byImei;
    for (const auto& r : runs) byImei[r.imei] = r;
    for (const char* good : {"350000000000011", "350000000000012", "350000000000022", "350000000000032"}) {
        const auto& r = byImei[good];
        EXPECT_EQ(r.result, RunResult::Success) << good << " " << r.cause;
        EXPECT_EQ(r.station, "bench-1");
        EXPECT_EQ(r.operatorName, "ana");
        EXPECT_EQ(r.recipe, "flash");
        EXPECT_FALSE(r.endedAt.empty());
        EXPECT_FALSE(r.files.empty());
        EXPECT_GT(r.bytes, 0u);
        // The tty the link resolved to at the arrival, not the link.
        EXPECT_EQ(r.port.rfind("/dev/pts/", 0), 0u) << r.port;
    }
    EXPECT_EQ(byImei["350000000000011"].socket, Socket("s1"));
    EXPECT_EQ(byImei["350000000000021"].result, RunResult::Interrupted);
    EXPECT_EQ(byImei["350000000000021"].stage, "image-write");
    EXPECT_EQ(byImei["350000000000031"].result, RunResult::Failed);
    EXPECT_EQ(byImei["350000000000031"].cause, "image-open-refused");
    EXPECT_FALSE(byImei["350000000000031"].lines.empty());
}

TEST_F(Station, KilledStationLeavesItsRunAbortedAFirstStopLetsTheRunFinishASecondCancelsIt) {
    // Killed in the middle of a run: its row stays running until the next start.
    auto killed = Start({"s1"}, "killed");
    auto a = Plug("s1", 350000000000041);
    ASSERT_TRUE(WaitFor(*killed, "run-started", "s1", 1)) << killed->Err();
    killed->Signal(SIGKILL);
    killed->Wait();
    a.reset();
    ASSERT_EQ(Records().size(), 1u);
    EXPECT_EQ(Records()[0].result, RunResult::Running);

    // Restarted from a config file; the options given win over its values.
    const std::string config = (dir_ / "station.toml").string();
    std::ofstream(config) << "name = \"from-file\"\noperator = \"night shift\"\n";
    auto station = Start({"s1"}, "restarted", {"--config", config});
    auto b = Plug("s1", 350000000000042);
    ASSERT_TRUE(WaitFor(*station, "run-started", "s1", 1)) << station->Err();
    // The first stop lets the run end and be recorded.
    station->Signal(SIGTERM);
    EXPECT_EQ(station->Wait(), 0) << station->Err();
    EXPECT_EQ(Count(*station, "run-ended", Socket("s1")), 1u);

    // The second signal cancels the running run: recorded interrupted, a clean stop all the same.
    b.reset();
    auto cancelled = Start({"s1"}, "cancelled");
    auto c = Plug("s1", 350000000000043);
    ASSERT_TRUE(WaitFor(*cancelled, "run-started", "s1", 1)) << cancelled->Err();
    cancelled->Signal(SIGTERM);
    // Two signals sent at once may reach the process as one.
    ASSERT_TRUE(cancelled->WaitForOutput("Stopping", kLimit));
    cancelled->Signal(SIGTERM);
    EXPECT_EQ(cancelled->Wait(), 0) << cancelled->Err();

    std::map<std::string, records::RunRecord> byImei;
    for (const auto& r : Records()) byImei[r.imei] = r;
    ASSERT_EQ(byImei.size(), 3u);
    EXPECT_EQ(byImei["350000000000043"].result, RunResult::Interrupted);
    EXPECT_EQ(byImei["350000000000043"].cause, "cancelled");
    EXPECT_FALSE(byImei["350000000000043"].endedAt.empty());
    EXPECT_EQ(byImei["350000000000041"].result, RunResult::Aborted);
    EXPECT_FALSE(byImei["350000000000041"].endedAt.empty());
    EXPECT_EQ(byImei["350000000000042"].result, RunResult::Success) << byImei["350000000000042"].cause;
    EXPECT_EQ(byImei["350000000000042"].operatorName, "night shift");
    EXPECT_EQ(byImei["350000000000042"].station, "bench-1");
}

}  // namespace
}  // namespace fennix::clitest
