// The NV flows end to end: the exported functions over a real pseudo-terminal
// against a virtual DIAG device with an NV memory and a file system.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "../nv/ReportLines.h"
#include "../nv/TestFiles.h"
#include "fennix/fennix.h"
#include "nv/BrtFile.h"
#include "simulator/EfsTree.h"
#include "simulator/NvMemory.h"
#include "simulator/NvStore.h"
#include "simulator/SimulatorFixture.h"

namespace fennix {
namespace {

using Bytes = std::vector<uint8_t>;
using sim::CEfsTree;
using sim::CNvMemory;
using sim::DeviceMode;
using sim::DeviceState;
using test::LeBuilder;
using test::ScratchDir;

using test::Line;
using test::Lines;

Bytes Seq(size_t n, uint8_t seed) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(seed + 3 * i);
    return b;
}

std::string Hex(const Bytes& bytes) { return sim::HexOf(bytes.data(), bytes.size()); }

class NvEndToEnd : public ::testing::Test {
protected:
    sim::CScopedDevice device{sim::DiagDevice()};
    ScratchDir dir;
    Lines lines;
    FennixHandle session = nullptr;
    std::string savedScale_;
    bool hadScale_ = false;

    // Sessions take their time table from FENNIX_TIME_SCALE when they are
    // made; the device keeps its own times.
    void SetUp() override {
        ASSERT_TRUE(device.Ok()) << device.Error();
        test::CollectingInto() = &lines;
        const char* scale = std::getenv("FENNIX_TIME_SCALE");
        if (scale) savedScale_ = scale;
        hadScale_ = scale != nullptr;
        setenv("FENNIX_TIME_SCALE", "0.05", 1);
    }
    void TearDown() override {
        if (session) Close(session);
        test::CollectingInto() = nullptr;
        if (hadScale_)
            setenv("FENNIX_TIME_SCALE", savedScale_.c_str(), 1);
        else
            unsetenv("FENNIX_TIME_SCALE");
    }

    void Preload(const std::string& text) {
        std::string error;
        bool ok = false;
        device->WithState([&](DeviceState& state) {
            ok = sim::LoadNvStore(text, state.Extension<CNvMemory>(), state.Extension<CEfsTree>(), &error);
        });
        ASSERT_TRUE(ok) << error;
    }
    template <typename Fn>
    void WithMemory(Fn fn) {
        device->WithState([&](DeviceState& state) { fn(state.Extension<CNvMemory>(), state.Extension<CEfsTree>()); });
    }
    std::string Store() {
        std::string text;
        WithMemory([&](CNvMemory& nv, CEfsTree& efs) { text = sim::SaveNvStore(nv, efs); });
        return text;
    }
    void Open() {
        session = SetComPort(device.Path().c_str());
        ASSERT_NE(nullptr, session);
        SetCallBack(session, test::CollectLine);
    }
    std::vector<Bytes> Requests(int command) { return device->Recording().Requests(DeviceMode::Diag, command); }
    BrtContents ReadBrt(const std::string& path) {
        const Bytes bytes = test::ReadBytes(path);
        return DecodeBrt(bytes.data(), bytes.size());
    }
};

TEST_F(NvEndToEnd, BackupStoresPlainAndIndexedItemsAndLeavesTheRestOut) {
    Preload("item 550 plain " + Hex(Seq(128, 1)) + "\n" + "item 20 indexed " + Hex(Seq(127, 2)) + "\n" +
            "item 21 indexed " + Hex(Seq(127, 3)) + " " + Hex(Seq(127, 4)) + " " + Hex(Seq(127, 5)) + "\n" +
            "item 22 indexed end=5\n"
            "item 23 indexed\n"
            "item 30 status 5\n"
            "item 31 status 2\n"
            "item 10 plain " +
            Hex(Seq(128, 6)) + "\n");
    test::WriteText(dir.File("items.csv"),
                    "Name;Item\r\n"
                    "plain;550;ignored\r\n"
                    ";;one index;;20\r\n"
                    "three;21\r\n"
                    "none at 0 (5);22\r\n"
                    "none at 0 (6);23\r\n"
                    "inactive;30\r\n"
                    "refused;31\r\n"
                    "missing;999\r\n"
                    "wide;65546\r\n"
                    "\r\n"
                    "plain again;550");
    Open();
    SetCsvBrtFile(session, dir.File("items.csv").c_str(), dir.File("nv.brt").c_str());
    ASSERT_EQ(1, StartBackupBrt(session));

    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ((Line{"Start To BackupBrt Process...", 0}), lines[0]);
    EXPECT_EQ((Line{"Total NvCounts in CSV file =  10, 5 has backuped", 0}), lines[lines.size() - 2]);
    EXPECT_EQ((Line{"BackupBrt Success!!", 0}), lines.back());

    const BrtContents brt = ReadBrt(dir.File("nv.brt"));
    ASSERT_TRUE(brt.complete);
    ASSERT_EQ(5u, brt.records.size());
    EXPECT_EQ(550, brt.records[0].itemNumber);
    EXPECT_EQ(Seq(128, 1), brt.records[0].Value());
    Bytes oneIndex{0};
    const Bytes index0 = Seq(127, 2);
    oneIndex.insert(oneIndex.end(), index0.begin(), index0.end());
    EXPECT_EQ(20, brt.records[1].itemNumber);
    EXPECT_EQ(oneIndex, brt.records[1].Value());
    Bytes threeIndexes;
    for (uint8_t seed : {3, 4, 5}) {
        const Bytes values = Seq(127, seed);
        threeIndexes.insert(threeIndexes.end(), values.begin(), values.end());
        threeIndexes.push_back(0);
    }
    EXPECT_EQ(threeIndexes, brt.records[2].Value());
    EXPECT_EQ(65546, brt.records[3].itemNumber);
    EXPECT_EQ(Seq(128, 6), brt.records[3].Value());
    EXPECT_EQ(550, brt.records[4].itemNumber);

    // Item 65546 was asked for as item 10; the indexed reads of 21 stopped at index 3.
    const auto reads = Requests(38);
    bool askedTen = false;
    for (const Bytes& r : reads) askedTen |= r.size() == 3 && r[1] == 10 && r[2] == 0;
    EXPECT_TRUE(askedTen);
    EXPECT_TRUE(Requests(39).empty());
}

TEST_F(NvEndToEnd, HeaderOnlyListWritesAFourByteBrt) {
    test::WriteText(dir.File("items.csv"), "Name;Item\n");
    test::WriteBytes(dir.File("nv.brt"), Bytes(100, 0xEE));
    Open();
    SetCsvBrtFile(session, dir.File("items.csv").c_str(), dir.File("nv.brt").c_str());
    ASSERT_EQ(1, StartBackupBrt(session));
    EXPECT_EQ((Bytes{0, 0, 0, 0}), test::ReadBytes(dir.File("nv.brt")));
    EXPECT_EQ((Line{"Total NvCounts in CSV file =  0, 0 has backuped", 0}), lines[lines.size() - 2]);
}

TEST_F(NvEndToEnd, RestoreWritesItemsAndChunks) {
    Preload("item 21 indexed\n");
    test::WriteBytes(
        dir.File("nv.brt"),
        LeBuilder().I32(3).I32(550).Counted(Seq(128, 7)).I32(21).Counted(Seq(384, 8)).I32(65547).Counted({}).Bytes());
    Open();
    SetCsvBrtFile(session, nullptr, dir.File("nv.brt").c_str());
    ASSERT_EQ(1, StartRestoreBrt(session));
    EXPECT_EQ((Line{"Total NvCounts in BRT file =  3, 3 has restored", 0}), lines[lines.size() - 2]);
    EXPECT_EQ((Line{"RestoreBrt Success!!", 0}), lines.back());

    const auto writes = Requests(39);
    ASSERT_EQ(5u, writes.size());
    EXPECT_EQ(131u, writes[0].size());
    for (uint8_t k = 0; k < 3; ++k) {
        EXPECT_EQ(134u, writes[1 + k].size());
        EXPECT_EQ(k, writes[1 + k][3]);
    }
    EXPECT_EQ(131u, writes[4].size());
    EXPECT_EQ(11, writes[4][1]);
    WithMemory([&](CNvMemory& nv, CEfsTree&) {
        EXPECT_EQ(Seq(128, 7), nv.DataOf(550));
        const Bytes chunks = Seq(384, 8);
        for (size_t k = 0; k < 3; ++k)
            EXPECT_EQ(Bytes(chunks.begin() + 128 * k, chunks.begin() + 128 * k + 127), nv.IndexOf(21, k));
        EXPECT_EQ(Bytes(128, 0), nv.DataOf(11));
    });
}

TEST_F(NvEndToEnd, BackupThenRestoreWritesBackExactlyWhatWasRead) {
    const std::string original = "item 550 plain " + Hex(Seq(128, 1)) + "\n" + "item 20 indexed " + Hex(Seq(127, 2)) +
                                 "\n" + "item 21 indexed " + Hex(Seq(127, 3)) + " " + Hex(Seq(127, 4)) + " " +
                                 Hex(Seq(127, 5)) + "\n";
    Preload(original);
    const std::string before = Store();
    test::WriteText(dir.File("items.csv"), "h\na;550\nb;20\nc;21\n");
    Open();
    SetCsvBrtFile(session, dir.File("items.csv").c_str(), dir.File("nv.brt").c_str());
    ASSERT_EQ(1, StartBackupBrt(session));

    // Spoil every value, then restore.
    Preload("item 550 plain " + Hex(Bytes(128, 0xFF)) + "\n" + "item 20 indexed " + Hex(Bytes(127, 0xFF)) + "\n" +
            "item 21 indexed " + Hex(Bytes(127, 0xFF)) + " " + Hex(Bytes(127, 0xFF)) + " " + Hex(Bytes(127, 0xFF)) +
            "\n");
    ASSERT_NE(before, Store());
    ASSERT_EQ(1, StartRestoreBrt(session));
    EXPECT_EQ(before, Store());
    EXPECT_EQ((Line{"Total NvCounts in BRT file =  3, 3 has restored", 0}), lines[lines.size() - 2]);
}

TEST_F(NvEndToEnd, DamagedBrtFailsTheRestoreWithoutWriting) {
    Open();
    const Bytes whole = LeBuilder().I32(2).I32(1).Counted(Seq(10, 1)).I32(2).Counted(Seq(10, 2)).Bytes();
    for (const Bytes& bad : {Bytes(whole.begin(), whole.end() - 1), LeBuilder().I32(1).I32(1).I32(-8).Bytes(),
                             LeBuilder().I32(9).I32(1).Counted({1}).Bytes()}) {
        test::WriteBytes(dir.File("bad.brt"), bad);
        SetCsvBrtFile(session, nullptr, dir.File("bad.brt").c_str());
        lines.clear();
        EXPECT_EQ(-1, StartRestoreBrt(session));
        EXPECT_EQ((Line{"RestoreBrt Failed!!", -1}), lines.back());
    }
    EXPECT_TRUE(Requests(39).empty());
}

TEST_F(NvEndToEnd, DuckImportAndDownload) {
    Preload("item 5 status 5 write=5\nitem 3 status 3 write=3\ndir existing\n");
    test::WriteBytes(dir.File("set.duck"), LeBuilder()
                                               .I32(5)
                                               .Counted({5})
                                               .I32(3)
                                               .Counted({3})
                                               .I32(100)
                                               .Counted({1})
                                               .I32(100)
                                               .Counted({2})
                                               .I32(-1)
                                               .CountedText("ARRAY#550#1")
                                               .Counted(Seq(128, 9))
                                               .I32(-1)
                                               .CountedText("#ARRAY#551")
                                               .Counted({})
                                               .I32(-1)
                                               .CountedText("ARRAYX#552")
                                               .Counted({6})
                                               .Counted({})
                                               .I32(-1)
                                               .CountedText("array#553")
                                               .Counted({7})
                                               .Counted({0xDE, 0xAD})
                                               .I32(-1)
                                               .CountedText("/cfg/radio/table")
                                               .Counted(Seq(1100, 1))
                                               .Counted({})
                                               .I32(-1)
                                               .CountedText("existing/x")
                                               .Counted({4})
                                               .Counted({})
                                               .Bytes());
    Open();
    ASSERT_EQ(1, DuckToNVArray(session, dir.File("set.duck").c_str()));
    ASSERT_EQ(1, NVArrayToMobile(session));
    EXPECT_TRUE(lines.empty()) << "the item-list download reports nothing";

    std::vector<std::pair<int, size_t>> writes;  // item, request length
    for (const Bytes& r : Requests(39)) writes.emplace_back(r[1] | (r[2] << 8), r.size());
    EXPECT_EQ((std::vector<std::pair<int, size_t>>{
                  {5, 131}, {5, 131}, {3, 131}, {100, 131}, {100, 131}, {550, 133}, {551, 133}}),
              writes);
    const auto mkdirs = Requests(75);
    std::vector<std::string> made;
    for (const Bytes& r : mkdirs)
        if (r[2] == 9) made.emplace_back(r.begin() + 6, r.end() - 1);
    EXPECT_EQ((std::vector<std::string>{"cfg", "cfg/radio"}), made);
    WithMemory([&](CNvMemory& nv, CEfsTree& efs) {
        EXPECT_EQ(2, nv.DataOf(100)[0]) << "the later record of the same number is written last";
        EXPECT_EQ(Seq(128, 9), Bytes(nv.arrayEntries[550].begin(), nv.arrayEntries[550].begin() + 128));
        EXPECT_EQ(Bytes{6}, efs.files["ARRAYX#552"]);
        EXPECT_EQ(Bytes{7}, efs.files["array#553"]);
        EXPECT_EQ(Seq(1100, 1), efs.files["cfg/radio/table"]);
        EXPECT_EQ(Bytes{4}, efs.files["existing/x"]);
        EXPECT_EQ(4u, efs.files.size()) << "the second value of a file entry is never sent";
    });
}

TEST_F(NvEndToEnd, DownloadWithoutAPortReadsAsFailure) {
    session = SetComPort(dir.File("no-such-port").c_str());
    SetCallBack(session, test::CollectLine);
    EXPECT_EQ(0, NVArrayToMobile(session));
    EXPECT_EQ(0, DuckToNVArray(session, dir.File("missing.duck").c_str()));
    EXPECT_TRUE(lines.empty());
}

// A device that stops answering after two NV answers: the backup stops at the
// first unanswered item, reports what it read and fails, and the previous BRT
// file stays byte for byte, with nothing left beside it.
TEST_F(NvEndToEnd, DeviceFallingSilentMidwayFailsTheBackupAndKeepsTheOldBrt) {
    Preload("item 1 plain 01\nitem 2 plain 02\nitem 3 plain 03\nitem 4 plain 04\n");
    WithMemory([](CNvMemory& nv, CEfsTree&) { nv.answersBeforeSilence = 2; });
    test::WriteText(dir.File("items.csv"), "h\na;1\nb;2\nc;3\nd;4\n");
    const Bytes previous = Seq(300, 9);
    test::WriteBytes(dir.File("nv.brt"), previous);
    Open();
    SetCsvBrtFile(session, dir.File("items.csv").c_str(), dir.File("nv.brt").c_str());
    EXPECT_EQ(-1, StartBackupBrt(session));
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ((Line{"Total NvCounts in CSV file =  4, 2 has backuped", 0}), lines[lines.size() - 2]);
    EXPECT_EQ((Line{"BackupBrt Failed!!", -1}), lines.back());
    EXPECT_EQ(3u, Requests(38).size()) << "nothing is asked after the unanswered item";
    EXPECT_EQ(previous, test::ReadBytes(dir.File("nv.brt")));
    EXPECT_EQ((std::vector<std::string>{"items.csv", "nv.brt"}), test::FileNamesIn(dir));
}

// A device that refuses one item (as bad parameters) answers the others: the
// backup leaves that item out, asks for it once, and succeeds.
TEST_F(NvEndToEnd, DeviceRefusingOneItemLeavesItOutOfTheBackup) {
    Preload("item 550 plain 01\nitem 551 plain 02\nitem 552 plain 03\n");
    device->WithState([](DeviceState& state) {
        state.options.knobs["nv.refuse-item"] = 551;
        state.options.rejectForm = sim::DiagRejectForm::BadParameter;
    });
    test::WriteText(dir.File("items.csv"), "h\na;550\nb;551\nc;552\n");
    Open();
    SetCsvBrtFile(session, dir.File("items.csv").c_str(), dir.File("nv.brt").c_str());
    EXPECT_EQ(1, StartBackupBrt(session));
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ((Line{"Total NvCounts in CSV file =  3, 2 has backuped", 0}), lines[lines.size() - 2]);
    EXPECT_EQ((Line{"BackupBrt Success!!", 0}), lines.back());
    EXPECT_EQ(3u, Requests(38).size());
    const Bytes brt = test::ReadBytes(dir.File("nv.brt"));
    const BrtContents contents = DecodeBrt(brt.data(), brt.size());
    ASSERT_EQ(2u, contents.records.size());
    EXPECT_EQ(550, contents.records[0].itemNumber);
    EXPECT_EQ(552, contents.records[1].itemNumber);
}

// A device that answers every NV read with "bad command" has nothing to back
// up: the backup fails and leaves the old BRT file as it was.
TEST_F(NvEndToEnd, DeviceRefusingNvReadsAsBadCommandsFailsTheBackup) {
    Preload("item 1 plain 01\nitem 2 plain 02\n");
    device->WithState([](DeviceState& state) { state.options.knobs["nv.reject-reads"] = 1; });
    test::WriteText(dir.File("items.csv"), "h\na;1\nb;2\n");
    const Bytes previous = Seq(20, 3);
    test::WriteBytes(dir.File("nv.brt"), previous);
    Open();
    SetCsvBrtFile(session, dir.File("items.csv").c_str(), dir.File("nv.brt").c_str());
    EXPECT_EQ(-1, StartBackupBrt(session));
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ((Line{"Total NvCounts in CSV file =  2, 0 has backuped", 0}), lines[lines.size() - 2]);
    EXPECT_EQ((Line{"BackupBrt Failed!!", -1}), lines.back());
    EXPECT_EQ(2u, Requests(38).size()) << "each refused item is asked once";
    EXPECT_EQ(previous, test::ReadBytes(dir.File("nv.brt")));
    EXPECT_EQ((std::vector<std::string>{"items.csv", "nv.brt"}), test::FileNamesIn(dir));
}

// A restore into a device that stops answering in the middle of a chunked
// record: that record is not counted, nothing after it is sent, and the
// flow fails.
TEST_F(NvEndToEnd, DeviceFallingSilentMidwayFailsTheRestore) {
    WithMemory([](CNvMemory& nv, CEfsTree&) { nv.answersBeforeSilence = 3; });
    test::WriteBytes(
        dir.File("nv.brt"),
        LeBuilder().I32(3).I32(1).Counted(Seq(128, 1)).I32(2).Counted(Seq(384, 2)).I32(3).Counted({3}).Bytes());
    Open();
    SetCsvBrtFile(session, nullptr, dir.File("nv.brt").c_str());
    EXPECT_EQ(-1, StartRestoreBrt(session));
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ((Line{"Total NvCounts in BRT file =  3, 1 has restored", 0}), lines[lines.size() - 2]);
    EXPECT_EQ((Line{"RestoreBrt Failed!!", -1}), lines.back());
    EXPECT_EQ(4u, Requests(39).size()) << "item 1, then the three chunks of item 2; item 3 never";
}

// Two sessions backing up two devices into one BRT path at once: the file
// that lands is one device's backup, whole.
TEST_F(NvEndToEnd, ConcurrentBackupsToOnePathLandOneWholeBackup) {
    sim::CScopedDevice second{sim::DiagDevice()};
    ASSERT_TRUE(second.Ok()) << second.Error();
    std::string first;
    std::string other;
    std::string csv = "h\n";
    for (int item = 1; item <= 40; ++item) {
        first += "item " + std::to_string(item) + " plain " + Hex(Seq(128, static_cast<uint8_t>(item))) + "\n";
        other += "item " + std::to_string(item) + " plain " + Hex(Seq(128, static_cast<uint8_t>(item + 100))) + "\n";
        csv += "i;" + std::to_string(item) + "\n";
    }
    Preload(first);
    std::string error;
    bool loaded = false;
    second->WithState([&](DeviceState& state) {
        loaded = sim::LoadNvStore(other, state.Extension<CNvMemory>(), state.Extension<CEfsTree>(), &error);
    });
    ASSERT_TRUE(loaded) << error;
    test::WriteText(dir.File("items.csv"), csv);

    // No progress callback: the collector of this fixture is for one thread.
    FennixHandle sessions[2] = {SetComPort(device.Path().c_str()), SetComPort(second.Path().c_str())};
    int32_t results[2] = {0, 0};
    std::vector<std::thread> runs;
    for (int i = 0; i < 2; ++i) {
        SetCsvBrtFile(sessions[i], dir.File("items.csv").c_str(), dir.File("nv.brt").c_str());
        runs.emplace_back([&, i] { results[i] = StartBackupBrt(sessions[i]); });
    }
    for (std::thread& run : runs) run.join();
    for (FennixHandle s : sessions) Close(s);
    EXPECT_EQ(1, results[0]);
    EXPECT_EQ(1, results[1]);

    const BrtContents brt = ReadBrt(dir.File("nv.brt"));
    ASSERT_TRUE(brt.complete);
    ASSERT_EQ(40u, brt.records.size());
    const uint8_t seedOffset = brt.records[0].Value()[0] == 1 ? 0 : 100;
    for (int i = 0; i < 40; ++i)
        EXPECT_EQ(Seq(128, static_cast<uint8_t>(i + 1 + seedOffset)), brt.records[i].Value()) << i;
    EXPECT_EQ((std::vector<std::string>{"items.csv", "nv.brt"}), test::FileNamesIn(dir));
}

}  // namespace
}  // namespace fennix
