// fennix flash end to end: several virtual devices, the program as a child process.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>

#include "ToolProcess.h"
#include "simulator/SimulatorFixture.h"
#include "simulator/StreamingImageSet.h"

namespace fennix::clitest {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using sim::CScopedDevice;

class CliFlash : public ::testing::Test {
protected:
    void SetUp() override { dir_ = FreshTestDirOfThisTest("cli-"); }
    sim::SampleImageSet Images(size_t amssBytes) {
        sim::SampleImageSizes sizes;
        sizes.amss = amssBytes;
        return sim::WriteSampleImageSet((dir_ / "images").string(), sizes);
    }
    std::unique_ptr<CScopedDevice> Device(const std::string& name, int64_t refuseOpen = 0,
                                          sim::DeviceOptions o = sim::DownloadDevice()) {
        o.directory = dir_.string();
        o.name = name;
        if (refuseOpen) o.knobs["dl.refuse-open"] = refuseOpen;
        auto device = std::make_unique<CScopedDevice>(o);
        EXPECT_TRUE(device->Ok());
        return device;
    }
    std::vector<std::string> Flash(std::vector<std::string> ports, std::vector<std::string> extra = {}) {
        std::vector<std::string> args{"flash",   "--images", (dir_ / "images").string(),
                                      "--model", "6280",     "--skip-check"};
        args.insert(args.end(), extra.begin(), extra.end());
        args.insert(args.end(), ports.begin(), ports.end());
        return args;
    }
    // An MSM6280-family device (platform group 1) in DIAG mode.
    std::unique_ptr<CScopedDevice> Group1Device(const std::string& name, int64_t imei) {
        sim::DeviceOptions o = sim::DiagDevice("K7M01");
        o.knobs["id.imei"] = imei;
        return Device(name, 0, o);
    }
    // The result event of each port.
    static std::map<std::string, json> Results(const std::string& out) {
        std::map<std::string, json> results;
        for (const auto& text : Lines(out))
            if (const json j = json::parse(text); j.at("event") == "result") results[j.at("port")] = j;
        return results;
    }
    fs::path dir_;
};

// Neither a programmer, an image nor the switch into download mode reached the device.
bool Untouched(CScopedDevice& device) {
    const sim::DownloadTarget target = sim::SnapshotDownloadTarget(device.Device());
    return target.writes == 0 && target.programmer.empty() && target.images.empty() &&
           device.Device().Recording().CountRequests(sim::DeviceMode::Diag, 0x3A) == 0;
}

TEST_F(CliFlash, ThreePortsAtOnceOneRefusingItsAmssImage) {
    const auto set = Images(256 * 1024);
    auto good1 = Device("good1"), bad = Device("bad", 5), good2 = Device("good2");
    const std::string report = (dir_ / "report.jsonl").string();
    const ToolResult r =
        RunTool(Flash({good1->Path(), bad->Path(), good2->Path()}, {"--json", "--report", report}), dir_.string());
    ASSERT_EQ(r.status, 1) << r.err;

    // Standard output: JSON objects only, each with the schema.
    std::map<std::string, std::vector<std::pair<std::string, int>>> linesByPort;
    std::map<std::string, json> results;
    std::map<std::string, std::vector<std::string>> stagesByPort;
    json summary;
    for (const auto& text : Lines(r.out)) {
        const json j = json::parse(text);  // throws (fails the test) on anything else
        ASSERT_EQ(j.at("schema"), 1) << text;
        const std::string event = j.at("event");
        if (event == "line") linesByPort[j.at("port")].push_back({j.at("text"), j.at("status")});
        if (event == "result") results[j.at("port")] = j;
        if (event == "progress") stagesByPort[j.at("port")].push_back(j.at("stage"));
        if (event == "summary") summary = j;
    }
    EXPECT_EQ(summary.at("exit"), 1);
    EXPECT_EQ(summary.at("succeeded"), 2);
    EXPECT_EQ(summary.at("failed"), 1);
    EXPECT_EQ(results.at(bad->Path()).at("result"), "failed");
    EXPECT_EQ(results.at(bad->Path()).at("text"), "Download AMSSHD and AMSS File Failed!!");
    EXPECT_EQ(results.at(bad->Path()).at("cause"), "image-open-refused");
    for (const auto* good : {&good1, &good2}) {
        EXPECT_EQ(results.at((*good)->Path()).at("result"), "success");
        EXPECT_EQ(results.at((*good)->Path()).at("code_hex"), "0x00000001");
        // Bytes and stages from the engine's events: the image bodies streamed, every stage told.
        uint64_t bodies = 0;
        for (const auto* path : {&set.qcsblhd, &set.qcsbl, &set.oemsbl, &set.amss, &set.cefs})
            if (!path->empty()) bodies += fs::file_size(*path);
        EXPECT_EQ(results.at((*good)->Path()).at("bytes"), bodies);
        EXPECT_EQ(results.at((*good)->Path()).at("percent"), 100);
        const auto& stages = stagesByPort[(*good)->Path()];
        for (const char* stage : {"open", "programmer", "image-write", "reset"})
            EXPECT_NE(std::find(stages.begin(), stages.end(), stage), stages.end()) << stage;
        EXPECT_TRUE(sim::CompareWithSet(sim::SnapshotDownloadTarget((*good)->Device()), set).identical);
        // The engine's milestones, in order.
        const std::vector<std::string> milestones{"Start To Download Process...",
                                                  "Open ComPort Success!!",
                                                  "Change to DL Mode Success!!",
                                                  "Download HEX File Success!!",
                                                  "Hello Success!!",
                                                  "Download Partition.mbn File Success!!",
                                                  "Download QCSBLHD File Success!!",
                                                  "Download QCSBL File Success!!",
                                                  "Download OEMSBLHD and OEMSBL File Success!!",
                                                  "Download AMSSHD and AMSS File Success!!",
                                                  "Download CEFS File Success!!",
                                                  "Reset !! Please Wait....",
                                                  "Download Process Success!!"};
        size_t next = 0;
        for (const auto& [text, status] : linesByPort[(*good)->Path()])
            if (next < milestones.size() && text == milestones[next]) ++next;
        EXPECT_EQ(next, milestones.size())
            << "missing or out of order: " << milestones[std::min(next, milestones.size() - 1)];
    }
    const auto& badLines = linesByPort[bad->Path()];
    EXPECT_NE(std::find(badLines.begin(), badLines.end(),
                        std::make_pair(std::string("Download AMSSHD and AMSS File Failed!!"), -1)),
              badLines.end());

    // The record: one per device, every line the JSON showed, the files' digests.
    const auto records = Lines(ReadText(report));
    ASSERT_EQ(records.size(), 3u);
    for (const auto& text : records) {
        const json record = json::parse(text);
        std::vector<std::pair<std::string, int>> recorded;
        for (const auto& line : record.at("lines")) recorded.push_back({line.at("text"), line.at("status")});
        EXPECT_EQ(recorded, linesByPort[record.at("port")]);
        EXPECT_EQ(record.at("result"), record.at("port") == bad->Path() ? "failed" : "success");
        EXPECT_EQ(record.at("cause"), record.at("port") == bad->Path() ? json("image-open-refused") : json());
        if (record.at("port") != bad->Path()) {
            EXPECT_EQ(record.at("code_hex"), "0x00000001");
        }
        EXPECT_FALSE(record.at("library").at("sha256").get<std::string>().empty());
        ASSERT_EQ(record.at("files").size(), 9u);  // programmer, partition, 2 headers, 5 bodies
        for (const auto& file : record.at("files")) {
            EXPECT_EQ(file.at("sha256"), Sha256Sum(file.at("path"))) << file.at("path");
            EXPECT_EQ(file.at("size"), fs::file_size(file.at("path").get<std::string>()));
        }
    }
}

TEST_F(CliFlash, CtrlCEndsEveryFlowWithinTwoSeconds) {
    Images(8 * 1024 * 1024);
    auto a = Device("a"), b = Device("b");
    const std::string report = (dir_ / "report.jsonl").string();
    ToolProcess tool(Flash({a->Path(), b->Path()}, {"--report", report}), dir_.string());
    ASSERT_TRUE(tool.WaitForOutput("% completed.", std::chrono::seconds(60))) << tool.Out();
    const auto sent = std::chrono::steady_clock::now();
    tool.Signal(SIGINT);
    const int status = tool.Wait();
    EXPECT_LT(std::chrono::steady_clock::now() - sent, std::chrono::seconds(2));
    EXPECT_EQ(status, 130) << tool.Err();
    EXPECT_NE(tool.Out().find("Interrupted: " + a->Path() + ", " + b->Path()), std::string::npos) << tool.Out();
    EXPECT_NE(tool.Out().find("must be flashed again"), std::string::npos);
    const auto records = Lines(ReadText(report));
    ASSERT_EQ(records.size(), 2u);
    for (const auto& record : records) EXPECT_EQ(json::parse(record).at("cause"), "cancelled");
}

std::pair<int, size_t> WindowSeen(const sim::CVirtualDevice& device) {
    const auto seen = device.Recording().StreamWindow();
    return {seen.mostOutstanding, seen.largestBlock};
}

TEST_F(CliFlash, WindowAutoTakesWhatEachDeviceAnnouncesOverItsLink) {
    const auto set = Images(300 * 1024);
    const auto withLink = [](int profile, int window, int maxBlock) {
        sim::DeviceOptions o = sim::DownloadDevice();
        o.knobs["link.profile"] = profile;
        o.knobs["dl.window"] = window;
        o.knobs["dl.max-block"] = maxBlock;
        return o;
    };
    auto fs1 = Device("fs", 0, withLink(1, 8, 4096)), hs = Device("hs", 0, withLink(2, 4, 1024)),
         plain = Device("plain", 0, withLink(0, 1, 1024));
    const ToolResult r =
        RunTool(Flash({fs1->Path(), hs->Path(), plain->Path()}, {"--json", "--window", "auto", "--block", "auto"}),
                dir_.string());
    ASSERT_EQ(r.status, 0) << r.err;
    for (const auto* d : {&fs1, &hs, &plain}) {
        const sim::FlashCheck check = sim::CompareWithSet(sim::SnapshotDownloadTarget((*d)->Device()), set);
        EXPECT_TRUE(check.identical) << (*d)->Path() << ": " << check.detail;
    }
    // Outstanding as the device saw them: a slow host may be answered before its window is full.
    const auto fsSeen = WindowSeen(fs1->Device()), hsSeen = WindowSeen(hs->Device());
    EXPECT_GT(fsSeen.first, 1);
    EXPECT_LE(fsSeen.first, 8);
    EXPECT_EQ(fsSeen.second, 4096u);
    EXPECT_GT(hsSeen.first, 1);
    EXPECT_LE(hsSeen.first, 4);
    EXPECT_EQ(hsSeen.second, 1024u);
    // One write at a time: a block sent again after a slow answer on a loaded
    // machine is the only second write the device may hold.
    EXPECT_LE(WindowSeen(plain->Device()).first, 2);
    EXPECT_EQ(WindowSeen(plain->Device()).second, 1024u);
    // A window of 1 is stop-and-wait whatever the device announces; the values are checked.
    auto again = Device("again", 0, withLink(2, 8, 4096));
    ASSERT_EQ(RunTool(Flash({again->Path()}, {"--window", "1"}), dir_.string()).status, 0);
    // One write at a time: a block sent again after a slow answer on a loaded
    // machine is the only second write the device may hold.
    EXPECT_LE(WindowSeen(again->Device()).first, 2);
    EXPECT_EQ(WindowSeen(again->Device()).second, 1024u);
    for (const char* bad : {"0", "65536", "many"})
        EXPECT_EQ(RunTool(Flash({again->Path()}, {"--window", bad}), dir_.string()).status, 2) << bad;
    EXPECT_EQ(RunTool(Flash({again->Path()}, {"--block", "2048"}), dir_.string()).status, 2);
}

TEST_F(CliFlash, BadImageSetExitsTwoBeforeAnyPortIsOpened) {
    Images(64 * 1024);
    fs::remove(dir_ / "images" / "amss.mbn");
    std::ofstream(dir_ / "images" / "big-partition.mbn", std::ios::binary) << std::string(2000, 'p');
    auto device = Device("d");
    const ToolResult r = RunTool(
        Flash({device->Path()}, {"--partition", (dir_ / "images" / "big-partition.mbn").string()}), dir_.string());
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("amss.mbn does not exist"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("has 2000 bytes; the most it may have is 1024"), std::string::npos) << r.err;
    EXPECT_EQ(device->Device().Recording().Count(sim::EventKind::HostOpened), 0u);
    // With --json the reason reaches standard output too, as one error event.
    const ToolResult j = RunTool(Flash({device->Path()}, {"--json"}), dir_.string());
    EXPECT_EQ(j.status, 2);
    const auto lines = Lines(j.out);
    ASSERT_EQ(lines.size(), 1u) << j.out;
    const json error = json::parse(lines[0]);
    EXPECT_EQ(error.at("event"), "error");
    EXPECT_EQ(error.at("exit"), 2);
    EXPECT_NE(error.at("text").get<std::string>().find("amss.mbn does not exist"), std::string::npos) << j.out;
    // The partition table cannot be left out, so no --no-partition is offered.
    const ToolResult p = RunTool({"flash", "--skip-check", device->Path()}, dir_.string());
    EXPECT_NE(p.err.find("no partition image: give --images DIR or --partition FILE\n"), std::string::npos) << p.err;
    EXPECT_NE(p.err.find("no amss image: give --images DIR, --amss FILE or --no-amss\n"), std::string::npos) << p.err;
    // Without the AMSS image the same set is good.
    EXPECT_EQ(RunTool(Flash({device->Path()}, {"--no-amss", "--no-amsshd"}), dir_.string()).status, 0);
}

TEST_F(CliFlash, BusyPortNamesItsHolder) {
    Images(64 * 1024);
    auto device = Device("held");
    // Held the way the engine holds a port it works on.
    const int held = open(device->Path().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(held, 0);
    ASSERT_EQ(flock(held, LOCK_EX | LOCK_NB), 0);
    const std::string report = (dir_ / "report.jsonl").string();
    const ToolResult r = RunTool(Flash({device->Path()}, {"--report", report}), dir_.string());
    close(held);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(json::parse(ReadText(report)).at("cause"), "port-busy");
    EXPECT_NE(r.out.find(device->Path() + " is held by fennix_cli_test"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("(pid " + std::to_string(getpid()) + ")"), std::string::npos) << r.out;
}

// A file rewritten during the flash, its size and time kept: what the device
// got is not what the record's digest describes, so the port fails.
TEST_F(CliFlash, FileChangedDuringTheFlashFailsThePort) {
    Images(8 * 1024 * 1024);
    auto device = Device("d");
    const std::string report = (dir_ / "report.jsonl").string();
    const std::string amss = (dir_ / "images" / "amss.mbn").string();
    ToolProcess tool(Flash({device->Path()}, {"--report", report}), dir_.string());
    ASSERT_TRUE(tool.WaitForOutput("% completed.", std::chrono::seconds(60))) << tool.Out();
    const auto modified = fs::last_write_time(amss);
    {
        std::fstream file(amss, std::ios::in | std::ios::out | std::ios::binary);
        file.seekg(-1, std::ios::end);
        const char last = static_cast<char>(file.get());
        file.seekp(-1, std::ios::end);
        file.put(static_cast<char>(~last));
    }
    fs::last_write_time(amss, modified);
    EXPECT_EQ(tool.Wait(), 1) << tool.Out();
    EXPECT_NE(tool.Out().find("the amss file " + amss + " changed during the flash"), std::string::npos) << tool.Out();
    const auto records = Lines(ReadText(report));
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(json::parse(records[0]).at("result"), "failed");
    EXPECT_EQ(json::parse(records[0]).at("cause"), "file-damaged");
}

// Who the device is before the flash and after its power-on check, in the
// result event and the record; a device in download mode has no identity
// before. The identity read does not move the port's progress.
TEST_F(CliFlash, DeviceIsRecordedBeforeTheFlashAndAfterThePowerOnCheck) {
    Images(256 * 1024);
    auto diag = Group1Device("diag", 352099001761481), dl = Device("dl");
    const std::string report = (dir_ / "report.jsonl").string();
    const ToolResult r = RunTool({"flash", "--images", (dir_ / "images").string(), "--model", "6280", "--json",
                                  "--report", report, diag->Path(), dl->Path()},
                                 dir_.string());
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    std::map<std::string, std::vector<std::pair<std::string, int>>> progress;
    for (const auto& text : Lines(r.out))
        if (const json j = json::parse(text); j.at("event") == "progress")
            progress[j.at("port")].push_back({j.at("stage"), j.at("percent")});
    for (const auto* port : {&diag, &dl}) {
        const auto& steps = progress[(*port)->Path()];
        const auto writing = std::find_if(steps.begin(), steps.end(), [](auto& s) { return s.first == "image-write"; });
        ASSERT_NE(writing, steps.end());
        EXPECT_LT(writing->second, 100) << "the bar was full before any image was written";
        for (size_t i = 1; i < steps.size(); ++i) EXPECT_GE(steps[i].second, steps[i - 1].second) << steps[i].first;
    }
    const auto results = Results(r.out);
    const json& before = results.at(diag->Path()).at("device");
    EXPECT_EQ(before.at("imei"), "352099001761481");
    EXPECT_EQ(before.at("mode"), "diag");
    EXPECT_EQ(before.at("group"), 1);
    EXPECT_EQ(before.at("build_id"), "K7M01SIMULATED");
    EXPECT_EQ(results.at(diag->Path()).at("device_after").at("imei"), "352099001761481");
    EXPECT_TRUE(results.at(dl->Path()).at("device").is_null());
    EXPECT_EQ(results.at(dl->Path()).at("device_after").at("mode"), "diag");
    EXPECT_TRUE(results.at(dl->Path()).at("device_after").at("imei").is_string());
    EXPECT_EQ(results.at(dl->Path()).at("text"), "Download Process Success!!");
    const auto records = Lines(ReadText(report));
    ASSERT_EQ(records.size(), 2u);
    for (const auto& text : records) {
        const json record = json::parse(text);
        EXPECT_EQ(record.at("device"), results.at(record.at("port")).at("device"));
        EXPECT_EQ(record.at("device_after"), results.at(record.at("port")).at("device_after"));
    }
}

// An MSM6280-family device and --model 6250: the port fails before anything
// is written; --force-model writes.
TEST_F(CliFlash, ModelThatDoesNotFitTheDeviceWritesNothingUnlessForced) {
    const auto set = Images(64 * 1024);
    fs::copy_file(set.programmer, dir_ / "images" / "NPRG6250SEC.HEX");
    auto device = Group1Device("k7m", 352099001761481);
    const std::string report = (dir_ / "report.jsonl").string();
    std::vector<std::string> args{
        "flash", "--images",    (dir_ / "images").string(), "--model", "6250", "--skip-check", "--json", "--report",
        report,  device->Path()};
    ToolResult r = RunTool(args, dir_.string());
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_EQ(Results(r.out).at(device->Path()).at("cause"), "model-mismatch");
    EXPECT_EQ(json::parse(ReadText(report)).at("cause"), "model-mismatch");
    EXPECT_TRUE(Untouched(*device));
    args.push_back("--force-model");
    r = RunTool(args, dir_.string());
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(Results(r.out).at(device->Path()).at("model_check"), "overridden");
    EXPECT_TRUE(sim::CompareWithSet(sim::SnapshotDownloadTarget(device->Device()), set).identical);
}

TEST_F(CliFlash, DryRunReadsEveryDeviceAndWritesNothing) {
    const auto set = Images(64 * 1024);
    fs::copy_file(set.programmer, dir_ / "images" / "NPRG6250SEC.HEX");
    auto diag = Group1Device("k7m", 352099001761481), dl = Device("dl");
    const std::string report = (dir_ / "report.jsonl").string();
    std::vector<std::string> args{"flash",      "--images", (dir_ / "images").string(),
                                  "--model",    "6250",     "--dry-run",
                                  "--json",     "--report", report,
                                  diag->Path(), dl->Path()};
    ToolResult r = RunTool(args, dir_.string());
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    const auto results = Results(r.out);
    EXPECT_EQ(results.at(diag->Path()).at("device").at("imei"), "352099001761481");
    EXPECT_EQ(results.at(diag->Path()).at("model_check"), "model-mismatch");
    EXPECT_TRUE(results.at(dl->Path()).at("device").is_null());
    EXPECT_EQ(results.at(dl->Path()).at("model_check"), "not-checked");
    EXPECT_NE(r.out.find("Would write the amss " + set.amss + " (65.5 kB)"), std::string::npos) << r.out;
    EXPECT_TRUE(Untouched(*diag));
    EXPECT_TRUE(Untouched(*dl));
    EXPECT_FALSE(fs::exists(report));
    // A port that cannot be read fails the dry run (a file that is no serial port: a
    // port that does not exist is refused before any is opened).
    args.back() = (dir_ / "not-a-port").string();
    std::ofstream(args.back()) << "";
    r = RunTool(args, dir_.string());
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_EQ(Results(r.out).at(args.back()).at("cause"), "port-missing");
}

TEST_F(CliFlash, MistypedCommandIsNamedWithTheNearestOne) {
    ToolResult r = RunTool({"flsh", "/dev/ttyUSB0"}, dir_.string());
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("'flsh' is not a command; did you mean 'flash'?"), std::string::npos) << r.err;
    // A port given without its command is no near miss of any.
    r = RunTool({"/dev/ttyUSB0"}, dir_.string());
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("'/dev/ttyUSB0' is not a command\n"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace fennix::clitest
