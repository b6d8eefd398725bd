// fennix backup, restore, nv-import and brt show/diff end to end against a
// virtual DIAG device with NV memory.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>

#include "ToolProcess.h"
#include "simulator/EfsTree.h"
#include "simulator/NvMemory.h"
#include "simulator/NvStore.h"
#include "simulator/SimulatorFixture.h"
#include "simulator/StreamingImageSet.h"

namespace fennix::clitest {
namespace {

namespace fs = std::filesystem;

std::vector<uint8_t> Pattern(size_t n, uint8_t seed) {
    std::vector<uint8_t> bytes(n);
    for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<uint8_t>(seed + 3 * i);
    return bytes;
}

class CliNv : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = FreshTestDir("cli-nv");
        sim::DeviceOptions o = sim::DiagDevice();
        o.directory = dir_.string();
        o.name = "nv";
        device_ = std::make_unique<sim::CScopedDevice>(o);
        ASSERT_TRUE(device_->Ok());
        Memory([](sim::CNvMemory& nv) {
            nv.items[10] = sim::SimNvItem::Plain(Pattern(128, 0x20));
            nv.items[550] = sim::SimNvItem::Plain(Pattern(16, 0x30));
            nv.items[21] = sim::SimNvItem::Indexed({Pattern(127, 0x50), Pattern(127, 0x60), Pattern(127, 0x70)});
            nv.items[30] = sim::SimNvItem::WithStatus(5);
        });
        std::ofstream(dir_ / "items.csv") << "Name;Item\nwide;65546\nband;550\ntriple;21\ninactive;30\n";
    }
    template <typename F>
    void Memory(F change) {
        (*device_)->WithState([&](sim::DeviceState& s) { change(s.Extension<sim::CNvMemory>()); });
    }
    std::string Store() {
        std::string text;
        (*device_)->WithState([&](sim::DeviceState& s) {
            text = sim::SaveNvStore(s.Extension<sim::CNvMemory>(), s.Extension<sim::CEfsTree>());
        });
        return text;
    }
    ToolResult Tool(std::vector<std::string> args) { return RunTool(args, dir_.string()); }
    std::string File(const char* name) { return (dir_ / name).string(); }

    fs::path dir_;
    std::unique_ptr<sim::CScopedDevice> device_;
};

TEST_F(CliNv, BackupShowDiffRestoreAndImportRoundTrip) {
    const std::string port = device_->Path();
    const std::string before = Store();
    ToolResult r = Tool({"backup", "--items", File("items.csv"), "--out", File("a.brt"), port});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    // Not a terminal: the engine's lines with time and port, then the table.
    EXPECT_NE(r.out.find(" " + port + " Start To BackupBrt Process..."), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Total NvCounts in CSV file =  4, 3 has backuped"), std::string::npos);
    EXPECT_NE(r.out.find("items.csv: 4 items to read: 65546 550 21 30\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("1 succeeded, 0 failed, 0 interrupted"), std::string::npos);

    r = Tool({"brt", "show", "--json", File("a.brt")});
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<std::pair<int, int>> records;  // item, length
    for (const auto& line : Lines(r.out)) {
        const auto j = nlohmann::json::parse(line);
        records.push_back({j.at("item"), j.at("length")});
    }
    EXPECT_EQ(records, (std::vector<std::pair<int, int>>{{65546, 128}, {550, 128}, {21, 384}}));

    // A second backup after one item changed: diff names it and its bytes.
    Memory([](sim::CNvMemory& nv) { nv.items[550].data[2] = 0xEE; });
    ASSERT_EQ(Tool({"backup", "--items", File("items.csv"), "--out", File("b.brt"), port}).status, 0);
    r = Tool({"brt", "diff", File("a.brt"), File("b.brt")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("changed: item 550 (128 -> 128 bytes)\n    at 2: 36 -> ee"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("1 difference "), std::string::npos) << r.out;
    EXPECT_EQ(Tool({"brt", "diff", File("a.brt"), File("a.brt")}).status, 0);
    // A damaged file cannot be compared whole: 2, not "they differ".
    {
        const std::string whole = ReadText(File("a.brt"));
        std::ofstream(File("cut.brt"), std::ios::binary) << whole.substr(0, whole.size() - 3);
    }
    EXPECT_EQ(Tool({"brt", "diff", File("a.brt"), File("cut.brt")}).status, 2);

    // Restoring the first backup brings the device back; the result says which device it was.
    r = Tool({"restore", File("a.brt"), port, "--json"});
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(Store(), before);
    nlohmann::json result;
    for (const auto& line : Lines(r.out))
        if (const auto j = nlohmann::json::parse(line); j.at("event") == "result") result = j;
    EXPECT_EQ(result.at("device").at("esn"), "1234ABCD") << r.out;
    EXPECT_EQ(result.at("device").at("mode"), "diag");

    // A duck file: item 550 with a new value.
    const std::vector<uint8_t> value = Pattern(128, 0x90);
    std::ofstream duck(File("set.duck"), std::ios::binary);
    const int32_t head[2] = {550, 128};
    duck.write(reinterpret_cast<const char*>(head), sizeof head);
    duck.write(reinterpret_cast<const char*>(value.data()), 128);
    duck.close();
    r = Tool({"nv-import", File("set.duck"), port});
    ASSERT_EQ(r.status, 0) << r.out;
    std::vector<uint8_t> stored;
    Memory([&](sim::CNvMemory& nv) { stored = nv.DataOf(550); });
    EXPECT_EQ(stored, value);
}

// A port that exists but is no serial port: the engine cannot open it.
TEST_F(CliNv, FailedPortsRowGivesTheCauseInWords) {
    std::ofstream(File("not-a-port")) << "";
    const ToolResult r = Tool({"backup", "--items", File("items.csv"), "--out", File("x.brt"), File("not-a-port")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("the port does not exist (Open ComPort Failed!!)"), std::string::npos) << r.out;
}

// Devices with the fixture's items but their own IMEI (item 550) from the knob.
std::unique_ptr<sim::CScopedDevice> ImeiDevice(const fs::path& dir, const char* name, int64_t imei,
                                               int refusedItem = -1) {
    sim::DeviceOptions o = sim::DiagDevice();
    o.directory = dir.string();
    o.name = name;
    o.knobs["id.imei"] = imei;
    o.knobs["nv.refuse-item"] = refusedItem;
    auto device = std::make_unique<sim::CScopedDevice>(o);
    (*device)->WithState([](sim::DeviceState& s) {
        auto& nv = s.Extension<sim::CNvMemory>();
        nv.items[10] = sim::SimNvItem::Plain(Pattern(128, 0x20));
        nv.items[21] = sim::SimNvItem::Indexed({Pattern(127, 0x50), Pattern(127, 0x60), Pattern(127, 0x70)});
        nv.items[30] = sim::SimNvItem::WithStatus(5);
    });
    return device;
}

std::vector<nlohmann::json> Results(const std::string& out) {
    std::vector<nlohmann::json> results;
    for (const auto& line : Lines(out))
        if (const auto j = nlohmann::json::parse(line); j.at("event") == "result") results.push_back(j);
    return results;
}

// Every port at once: files named per device, what was not backed up listed,
// --strict failing the ports that missed an item, the files read back by
// template and a duck file written into both.
TEST_F(CliNv, NvCommandsRunOnEveryPortWithFilesNamedPerDevice) {
    auto a = ImeiDevice(dir_, "a", 490154203237518), b = ImeiDevice(dir_, "b", 352099001761481);
    ASSERT_TRUE(a->Ok() && b->Ok());
    fs::create_directories(dir_ / "out");
    const std::string out = File("out") + "/{imei}-{port}.brt", report = File("report.jsonl");
    ToolResult r = Tool({"backup", "--items", File("items.csv"), "--out", out, a->Path(), b->Path()});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("4 listed, 3 backed up"), std::string::npos) << r.out;
    const fs::path fileA = dir_ / "out" / "490154203237518-a.brt", fileB = dir_ / "out" / "352099001761481-b.brt";
    ASSERT_TRUE(fs::exists(fileA) && fs::exists(fileB));

    // Item 30 is inactive on both: with --strict both ports fail, their files kept.
    fs::remove(fileA);
    r = Tool({"backup", "--strict", "--json", "--report", report, "--items", File("items.csv"), "--out", out, a->Path(),
              b->Path()});
    EXPECT_EQ(r.status, 1) << r.out;
    auto results = Results(r.out);
    ASSERT_EQ(results.size(), 2u) << r.out;
    for (const auto& j : results) {
        EXPECT_EQ(j.at("result"), "failed");
        EXPECT_EQ(j.at("cause"), "items-missing");
        EXPECT_EQ(j.at("missing"), nlohmann::json::array({30}));
    }
    EXPECT_TRUE(fs::exists(fileA));
    const auto records = Lines(ReadText(report));
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(nlohmann::json::parse(records[0]).at("missing"), nlohmann::json::array({30}));

    // Without it, success: the cause is null and `missing` still lists the item.
    std::ofstream(File("items.csv"), std::ios::app) << "band2;550\n";
    r = Tool({"backup", "--json", "--items", File("items.csv"), "--out", out, a->Path(), b->Path()});
    EXPECT_EQ(r.status, 0) << r.out;
    for (const auto& j : Results(r.out)) {
        EXPECT_TRUE(j.at("cause").is_null()) << j;
        EXPECT_EQ(j.at("missing"), nlohmann::json::array({30}));
        EXPECT_EQ(j.at("device").at("imei"), j.at("port") == a->Path() ? "490154203237518" : "352099001761481");
    }

    // Each device gets its own file back, found through its IMEI.
    (*a)->WithState([](sim::DeviceState& s) { s.Extension<sim::CNvMemory>().items[10].data[0] = 0xEE; });
    r = Tool({"restore", "--json", "--in", out, a->Path(), b->Path()});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    uint8_t first = 0;
    (*a)->WithState([&](sim::DeviceState& s) { first = s.Extension<sim::CNvMemory>().DataOf(10)[0]; });
    EXPECT_EQ(first, 0x20);
    results = Results(r.out);
    ASSERT_EQ(results.size(), 2u);
    EXPECT_EQ(results[0].at("in").get<std::string>().find(File("out")), 0u);

    const std::vector<uint8_t> value = Pattern(128, 0x90);
    std::ofstream duck(File("set.duck"), std::ios::binary);
    const int32_t head[2] = {10, 128};
    duck.write(reinterpret_cast<const char*>(head), sizeof head);
    duck.write(reinterpret_cast<const char*>(value.data()), 128);
    duck.close();
    ASSERT_EQ(Tool({"nv-import", File("set.duck"), a->Path(), b->Path()}).status, 0);
    for (auto* device : {a.get(), b.get()}) {
        std::vector<uint8_t> stored;
        (*device)->WithState([&](sim::DeviceState& s) { stored = s.Extension<sim::CNvMemory>().DataOf(10); });
        EXPECT_EQ(stored, value);
    }
}

// A port missing or named twice (also through a link), two ports writing one
// file, or a placeholder the tool does not know: exit 2 before any port is
// opened, so that no record is written.
TEST_F(CliNv, PortsOrFilesThatClashAreUsageErrors) {
    const std::string port = device_->Path(), link = File("link-to-port"), report = File("report.jsonl");
    fs::create_symlink(port, link);
    auto other = ImeiDevice(dir_, "other", 490154203237518);
    ASSERT_TRUE(other->Ok());
    sim::WriteSampleImageSet(File("images"));
    const std::string items = File("items.csv"), missing = File("no-such-port");
    const std::string same = port + " and " + link + " are the same device";
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"backup", "--items", items, "--out", File("{port}.brt"), port, missing}, missing + " does not exist"},
        {{"backup", "--items", items, "--out", File("{port}.brt"), port, port}, port + " is named twice"},
        {{"backup", "--items", items, "--out", File("{imei}.brt"), port, link}, same},
        {{"restore", File("x.brt"), port, link}, same},
        {{"nv-import", File("x.duck"), port, missing}, missing + " does not exist"},
        {{"info", port, link}, same},
        {{"flash", "--images", File("images"), "--model", "6280", port, link}, same},
        {{"backup", "--items", items, "--out", File("{date}.brt"), port, other->Path()}, " would both write "},
        {{"backup", "--items", items, "--out", File("{imie}.brt"), port}, "{imie}, which is no placeholder"},
    };
    for (auto [args, text] : cases) {
        if (args[0] != "info") {
            args.push_back("--report");
            args.push_back(report);
        }
        const ToolResult r = Tool(args);
        EXPECT_EQ(r.status, 2) << text << r.out << r.err;
        EXPECT_NE(r.err.find(text), std::string::npos) << r.err;
    }
    EXPECT_FALSE(fs::exists(report));
}

// Placeholders filled only once the device was read: a device without the
// value fails alone, and a second device resolving to a taken file fails
// rather than overwrite it.
TEST_F(CliNv, DeviceNamedFilesThatCannotBeFilledOrClashFailThatPort) {
    auto a = ImeiDevice(dir_, "a", 490154203237518), twin = ImeiDevice(dir_, "twin", 490154203237518),
         noMeid = ImeiDevice(dir_, "no-meid", 352099001761481, 1943);
    ASSERT_TRUE(a->Ok() && twin->Ok() && noMeid->Ok());
    ToolResult r =
        Tool({"backup", "--json", "--items", File("items.csv"), "--out", File("{imei}.brt"), a->Path(), twin->Path()});
    EXPECT_EQ(r.status, 1) << r.out;
    auto results = Results(r.out);
    ASSERT_EQ(results.size(), 2u);
    std::multiset<std::string> causes;
    for (const auto& j : results) causes.insert(j.at("cause").is_null() ? "" : j.at("cause").get<std::string>());
    EXPECT_EQ(causes, (std::multiset<std::string>{"", "output-clash"})) << r.out;

    r = Tool(
        {"backup", "--json", "--items", File("items.csv"), "--out", File("{meid}.brt"), a->Path(), noMeid->Path()});
    EXPECT_EQ(r.status, 1) << r.out;
    results = Results(r.out);
    ASSERT_EQ(results.size(), 2u);
    for (const auto& j : results)
        EXPECT_EQ(j.at("cause"), j.at("port") == a->Path() ? nlohmann::json() : nlohmann::json("identity-missing"));

    // A file to restore that the device names but that is not there fails that port alone.
    r = Tool({"restore", "--json", "--in", File("{imei}.brt"), a->Path(), noMeid->Path()});
    EXPECT_EQ(r.status, 1) << r.out;
    for (const auto& j : Results(r.out))
        EXPECT_EQ(j.at("cause"), j.at("port") == a->Path() ? nlohmann::json() : nlohmann::json("file-missing"));
}

TEST_F(CliNv, DamagedBrtFileIsShownWhereItEndsAndNotRestored) {
    ASSERT_EQ(Tool({"backup", "--items", File("items.csv"), "--out", File("a.brt"), device_->Path()}).status, 0);
    fs::resize_file(File("a.brt"), 4 + 136 + 100);  // inside the second record's value
    ToolResult r = Tool({"brt", "show", File("a.brt")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("   65546    128  "), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("the file ends inside record 2 of 3 at byte 140 (item 550)"), std::string::npos) << r.err;
    const uint32_t writes = [&] {
        uint32_t w = 0;
        Memory([&](sim::CNvMemory& nv) { w = nv.writes; });
        return w;
    }();
    r = Tool({"restore", File("a.brt"), device_->Path()});
    EXPECT_EQ(r.status, 2);
    uint32_t after = 0;
    Memory([&](sim::CNvMemory& nv) { after = nv.writes; });
    EXPECT_EQ(after, writes);
}

TEST_F(CliNv, ExampleFilesAreTakenAndADamagedDuckFileIsRefusedWithWhereAndWhy) {
    const fs::path examples = FENNIX_EXAMPLES_DIR;
    ToolResult r =
        Tool({"backup", "--items", (examples / "nv-items.csv").string(), "--out", File("ex.brt"), device_->Path()});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("nv-items.csv: 7 items to read: 0 550 1943 10 20 441 178\n"), std::string::npos) << r.out;
    r = Tool({"nv-import", (examples / "example.duck").string(), device_->Path()});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    uint32_t writes = 0;
    Memory([&](sim::CNvMemory& nv) {
        const std::vector<uint8_t> band = nv.DataOf(441);
        ASSERT_GE(band.size(), 2u);
        EXPECT_EQ(band[0] & band[1], 0xff);
        writes = nv.writes;
    });

    fs::copy_file(examples / "example.duck", File("cut.duck"));
    fs::resize_file(File("cut.duck"), 100);  // inside the device file's name
    r = Tool({"nv-import", File("cut.duck"), device_->Path()});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("cut.duck is damaged: record 5 at byte 55: the name's length 42 at byte 59 runs past the "
                         "end of the file (100 bytes); no port was opened"),
              std::string::npos)
        << r.err;
    Memory([&](sim::CNvMemory& nv) { EXPECT_EQ(nv.writes, writes); });
}

// Neither a device nor a FIFO ends, and a file past its format's limit is no
// file of that format: each is refused before a port is opened.
TEST_F(CliNv, InputsThatAreNoRegularFileOrTooLargeAreRefused) {
    ASSERT_EQ(0, mkfifo(File("pipe.brt").c_str(), 0600));
    for (const auto& args : std::vector<std::vector<std::string>>{{"restore", File("pipe.brt"), device_->Path()},
                                                                  {"nv-import", File("pipe.brt"), device_->Path()},
                                                                  {"brt", "show", "/dev/zero"}}) {
        const ToolResult r = Tool(args);
        EXPECT_EQ(r.status, 2) << args[0];
        EXPECT_NE(r.err.find(" does not exist or is not a file"), std::string::npos) << r.err;
    }
    fs::resize_file(File("items.csv"), (16u << 20) + 1);
    const ToolResult r = Tool({"backup", "--items", File("items.csv"), "--out", File("a.brt"), device_->Path()});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("has 16777217 bytes; the most it may have is 16777216; no port was opened"), std::string::npos)
        << r.err;
    EXPECT_FALSE(fs::exists(File("a.brt")));
}

// Two runs append to one report at once, each holding its record back a while
// after it looked at the end of the file, which a killed run left without a
// newline: every line still parses.
TEST_F(CliNv, RunsAppendingToOneReportAtOnceKeepEveryRecordWhole) {
    sim::DeviceOptions o = sim::DiagDevice();
    o.directory = dir_.string();
    o.name = "nv2";
    sim::CScopedDevice other(o);
    ASSERT_TRUE(other.Ok());
    other->WithState([](sim::DeviceState& s) {
        s.Extension<sim::CNvMemory>().items[550] = sim::SimNvItem::Plain(Pattern(16, 0x30));
    });
    const std::string report = File("report.jsonl");
    std::ofstream(report) << R"({"seed": 1})";
    std::ofstream(File("items.csv"), std::ios::app) << "wide;65546\nband;550\ntriple;21\n";
    setenv("FENNIX_REPORT_PAUSE_MS", "1000", 1);
    ToolProcess a({"backup", "--items", File("items.csv"), "--out", File("a.brt"), "--report", report, device_->Path()},
                  dir_.string());
    fs::create_directories(dir_ / "b");  // its own output files
    ToolProcess b({"backup", "--items", File("items.csv"), "--out", File("b.brt"), "--report", report, other.Path()},
                  (dir_ / "b").string());
    unsetenv("FENNIX_REPORT_PAUSE_MS");
    EXPECT_EQ(a.Wait(), 0) << a.Err();
    EXPECT_EQ(b.Wait(), 0) << b.Err();
    const std::string text = ReadText(report);
    EXPECT_EQ(text.back(), '\n');
    const auto lines = Lines(text);
    ASSERT_EQ(lines.size(), 3u) << text;
    std::set<std::string> ports;
    for (size_t i = 1; i < lines.size(); ++i) {
        EXPECT_GE(lines[i].size(), 1024u);  // the size that went out in two writes
        ports.insert(nlohmann::json::parse(lines[i]).at("port").get<std::string>());
    }
    EXPECT_EQ(nlohmann::json::parse(lines[0]).at("seed"), 1);
    EXPECT_EQ(ports, (std::set<std::string>{device_->Path(), other.Path()}));
}

// A second Ctrl-C still ends the tool at once, but removes the half-written
// BRT file of its own (never another process's) and records the run.
TEST_F(CliNv, SecondCtrlCRemovesItsPendingBrtAndRecordsTheRun) {
    sim::DeviceOptions o = sim::DiagDevice();
    o.directory = dir_.string();
    o.name = "slow";
    o.knobs["fault.kind"] = 2;  // late answer
    o.knobs["fault.nth"] = 3;
    o.knobs["fault.late-ms"] = 600000;
    sim::CScopedDevice slow(o);
    ASSERT_TRUE(slow.Ok());
    const std::string report = File("report.jsonl");
    ToolProcess tool({"backup", "--items", File("items.csv"), "--out", File("a.brt"), "--report", report, slow.Path()},
                     dir_.string());
    ASSERT_TRUE(tool.WaitForOutput("Start To BackupBrt Process...", std::chrono::seconds(60))) << tool.Out();
    const std::string own = File("a.brt") + "." + std::to_string(tool.Pid()) + ".00112233aabbccdd.part";
    const std::string foreign = File("a.brt") + ".1.00112233aabbccdd.part";
    std::ofstream(own) << "half";
    std::ofstream(foreign) << "half";
    tool.Signal(SIGINT);
    tool.Signal(SIGINT);
    EXPECT_EQ(tool.Wait(), 130);
    EXPECT_FALSE(fs::exists(own));
    EXPECT_TRUE(fs::exists(foreign));
    const auto lines = Lines(ReadText(report));
    ASSERT_EQ(lines.size(), 1u);
    const auto record = nlohmann::json::parse(lines[0]);
    EXPECT_EQ(record.at("port"), slow.Path());
    EXPECT_EQ(record.at("result"), "interrupted");
    EXPECT_EQ(record.at("cause"), "cancelled");
}

}  // namespace
}  // namespace fennix::clitest
