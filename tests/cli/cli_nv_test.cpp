// fennix backup, restore, nv-import and brt show/diff end to end against a
// virtual DIAG device with NV memory.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "ToolProcess.h"
#include "simulator/EfsTree.h"
#include "simulator/NvMemory.h"
#include "simulator/NvStore.h"
#include "simulator/SimulatorFixture.h"

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
        const char* tmp = std::getenv("TEST_TMPDIR");
        dir_ = fs::path(tmp ? tmp : "/tmp") / "cli-nv";
        fs::remove_all(dir_);
        fs::create_directories(dir_);
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

    // Restoring the first backup brings the device back.
    ASSERT_EQ(Tool({"restore", File("a.brt"), port, "--json"}).status, 0);
    EXPECT_EQ(Store(), before);

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

}  // namespace
}  // namespace fennix::clitest
