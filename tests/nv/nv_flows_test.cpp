#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "ReportLines.h"
#include "ScriptedExchange.h"
#include "TestFiles.h"
#include "files/FileBytes.h"
#include "nv/BrtBackup.h"
#include "nv/BrtFile.h"
#include "nv/BrtRestore.h"
#include "nv/ItemListDownload.h"

namespace fennix {
namespace {

using test::Bytes;
using test::DeviceReply;
using test::LeBuilder;
using test::NvReply;
using test::ScratchDir;
using test::ScriptedExchange;
using test::SeededBytes;

using test::Line;
using test::Lines;

struct Reports {
    Lines lines;
    NvReporter reporter() {
        return [this](const char* text, int32_t status) { lines.push_back({text, status}); };
    }
};

// What a test device knows about one item.
struct Item {
    enum Kind { Plain, Indexed, Refused, DiagRefused } kind = Plain;
    Bytes data;          // plain: the data field
    int indexes = 0;     // indexed: readable indexes
    uint8_t status = 0;  // refused: the status
};

// Answers NV reads from a table of items, and records and accepts NV writes.
struct TableDevice {
    std::map<uint16_t, Item> items;
    ScriptedExchange exchange;
    std::vector<Bytes> writes;

    static Bytes IndexData(uint16_t item, uint8_t index) {
        Bytes data = SeededBytes(128, static_cast<uint8_t>(item + 31 * index));
        data[0] = index;
        return data;
    }

    TableDevice() {
        exchange.device = [this](const Bytes& request) -> DeviceReply {
            const uint16_t number = static_cast<uint16_t>(request[1] | (request[2] << 8));
            auto known = items.find(number);
            if (known != items.end() && known->second.kind == Item::DiagRefused) {
                Bytes refusal{0x14};  // bad parameters, the request echoed
                refusal.insert(refusal.end(), request.begin(), request.end());
                return DeviceReply{0, refusal};
            }
            if (request[0] == 39) {
                writes.push_back(request);
                return NvReply(39, number, {}, 0);
            }
            auto found = items.find(number);
            if (found == items.end()) return NvReply(38, number, {}, 5);
            const Item& item = found->second;
            if (item.kind == Item::Refused) return NvReply(38, number, {}, item.status);
            if (item.kind == Item::Plain) return NvReply(38, number, item.data, 0);
            if (request.size() == 3) return NvReply(38, number, {}, 6);
            const uint8_t index = request[3];
            if (index >= item.indexes) return NvReply(38, number, {}, 6);
            return NvReply(38, number, IndexData(number, index), 0);
        };
    }
};

Bytes BrtOf(const std::vector<std::pair<int32_t, Bytes>>& records) {
    LeBuilder builder;
    builder.I32(static_cast<int32_t>(records.size()));
    for (const auto& r : records) builder.I32(r.first).Counted(r.second);
    return builder.Bytes();
}

TEST(BackupBrt, HeaderOnlyListGivesAFourByteFile) {
    ScratchDir dir;
    test::WriteText(dir.File("items.csv"), "Name;Item\r\n");
    TableDevice device;
    CNvCommands nv(device.exchange);
    Reports reports;
    ASSERT_TRUE(BackupBrt(nv, dir.File("items.csv"), dir.File("out.brt"), reports.reporter()).Succeeded());
    EXPECT_EQ((Lines{{"Total NvCounts in CSV file =  0, 0 has backuped", 0}}), reports.lines);
    EXPECT_EQ((Bytes{0, 0, 0, 0}), test::ReadBytes(dir.File("out.brt")));
    EXPECT_TRUE(device.exchange.requests.empty());
}

TEST(BackupBrt, StoresWhatTheDeviceReturnsInListOrder) {
    ScratchDir dir;
    test::WriteText(dir.File("items.csv"),
                    "Name;Item;Comment\n"
                    "plain;550;x\n"
                    "\n"
                    "one;;20\n"
                    ";;;\n"
                    "inactive;30\n"
                    "three;21\n"
                    "refused;31");
    TableDevice device;
    device.items[550] = {Item::Plain, SeededBytes(128, 1)};
    device.items[20] = {Item::Indexed, {}, 1};
    device.items[21] = {Item::Indexed, {}, 3};
    device.items[31] = {Item::Refused, {}, 0, 3};
    CNvCommands nv(device.exchange);
    Reports reports;
    ASSERT_TRUE(BackupBrt(nv, dir.File("items.csv"), dir.File("out.brt"), reports.reporter()).Succeeded());
    EXPECT_EQ((Lines{{"BackupBrt Counts =  1", 0},
                     {"BackupBrt Counts =  2", 0},
                     {"BackupBrt Counts =  3", 0},
                     {"Total NvCounts in CSV file =  5, 3 has backuped", 0}}),
              reports.lines);

    Bytes three;
    for (uint8_t k = 0; k < 3; ++k) {
        const Bytes data = TableDevice::IndexData(21, k);
        three.insert(three.end(), data.begin() + 1, data.end());
        three.push_back(0);
    }
    const Bytes expected = LeBuilder()
                               .I32(3)
                               .I32(550)
                               .Counted(SeededBytes(128, 1))
                               .I32(20)
                               .Counted(TableDevice::IndexData(20, 0))
                               .I32(21)
                               .Counted(three)
                               .Bytes();
    EXPECT_EQ(expected, test::ReadBytes(dir.File("out.brt")));
}

// A device that refuses one item answers all the others: every flow leaves
// that item out and goes on, without asking twice.
TEST(NvFlows, ItemRefusedAsBadParametersIsLeftOutAndTheFlowGoesOn) {
    ScratchDir dir;
    test::WriteText(dir.File("items.csv"), "h\na;550\nb;551\nc;552\n");
    TableDevice device;
    device.items[550] = {Item::Plain, SeededBytes(128, 1)};
    device.items[551] = {Item::DiagRefused};
    device.items[552] = {Item::Plain, SeededBytes(128, 2)};
    CNvCommands nv(device.exchange);
    Reports backup;
    ASSERT_TRUE(BackupBrt(nv, dir.File("items.csv"), dir.File("out.brt"), backup.reporter()).Succeeded());
    EXPECT_EQ((Line{"Total NvCounts in CSV file =  3, 2 has backuped", 0}), backup.lines.back());
    EXPECT_EQ(3u, device.exchange.requests.size());
    EXPECT_EQ(BrtOf({{550, SeededBytes(128, 1)}, {552, SeededBytes(128, 2)}}), test::ReadBytes(dir.File("out.brt")));

    test::WriteBytes(dir.File("in.brt"), BrtOf({{550, {1}}, {551, {2}}, {551, SeededBytes(256, 3)}, {552, {4}}}));
    Reports restore;
    EXPECT_TRUE(RestoreBrt(nv, dir.File("in.brt"), restore.reporter()).Succeeded());
    EXPECT_EQ((Line{"Total NvCounts in BRT file =  4, 2 has restored", 0}), restore.lines.back());
    EXPECT_EQ(3u + 5u, device.exchange.requests.size());

    CNVArray numbered;
    for (int n : {550, 551, 552}) {
        CNV_ItemHolder r;
        r.itemNumber = n;
        r.SetValue({1});
        numbered.Add(r);
    }
    NvFailedItem failed;
    EXPECT_TRUE(SendItemListsToDevice(nv, numbered, CNVArray(), failed).Succeeded());
    EXPECT_EQ(551, failed.id);
    EXPECT_EQ(3u + 5u + 3u, device.exchange.requests.size());
    EXPECT_EQ(0, device.exchange.drains);
}

TEST(BackupBrt, AsksForTheLow16BitsButStoresTheListedNumber) {
    ScratchDir dir;
    test::WriteText(dir.File("items.csv"), "h\nbig;65546\nbig again;65546\n");
    TableDevice device;
    device.items[10] = {Item::Plain, SeededBytes(128, 4)};
    CNvCommands nv(device.exchange);
    ASSERT_TRUE(BackupBrt(nv, dir.File("items.csv"), dir.File("out.brt"), nullptr).Succeeded());
    ASSERT_EQ(2u, device.exchange.requests.size());
    EXPECT_EQ((Bytes{38, 10, 0}), device.exchange.requests[0]);
    const Bytes brt = test::ReadBytes(dir.File("out.brt"));
    const BrtContents contents = DecodeBrt(brt.data(), brt.size());
    ASSERT_TRUE(contents.complete);
    ASSERT_EQ(2u, contents.records.size());
    EXPECT_EQ(65546, contents.records[0].itemNumber);
    EXPECT_EQ(65546, contents.records[1].itemNumber);
    EXPECT_EQ(SeededBytes(128, 4), contents.records[1].Value());
}

// A device that stops answering, or answers every read with "bad command",
// fails the backup after the totals line, and the previous BRT file stays.
TEST(BackupBrt, DeviceThatStopsAnsweringFailsTheBackup) {
    const Bytes previous = SeededBytes(40, 7);
    for (bool badCommand : {false, true}) {
        ScratchDir dir;
        test::WriteText(dir.File("items.csv"), "h\na;1\nb;2\nc;3\nd;4\n");
        test::WriteBytes(dir.File("old.brt"), previous);
        TableDevice device;
        device.items[1] = {Item::Plain, SeededBytes(128, 1)};
        device.items[2] = {Item::Plain, SeededBytes(128, 2)};
        auto table = device.exchange.device;
        device.exchange.device = [&](const Bytes& request) {
            if (badCommand) return DeviceReply{0, Bytes{0x13, request[0], request[1], request[2]}};
            return device.exchange.requests.size() <= 2 ? table(request) : test::Silent();
        };
        CNvCommands nv(device.exchange, 40);
        Reports reports;
        EXPECT_FALSE(BackupBrt(nv, dir.File("items.csv"), dir.File("old.brt"), reports.reporter()).Succeeded());
        const int stored = badCommand ? 0 : 2;
        EXPECT_EQ((Line{"Total NvCounts in CSV file =  4, " + std::to_string(stored) + " has backuped", 0}),
                  reports.lines.back());
        EXPECT_EQ(static_cast<size_t>(stored) + 1, reports.lines.size());
        // Refused items are asked once each; none read fails the backup all the same.
        EXPECT_EQ(badCommand ? 4u : 3u, device.exchange.requests.size()) << "no item after the lost one";
        EXPECT_EQ(previous, test::ReadBytes(dir.File("old.brt")));
        EXPECT_EQ((std::vector<std::string>{"items.csv", "old.brt"}), test::FileNamesIn(dir));
    }
}

// Items listed and none of them readable: an empty backup would replace a
// good one, so the backup fails and the old BRT file stays.
TEST(BackupBrt, NoListedItemReadFailsAndKeepsTheOldBrt) {
    ScratchDir dir;
    test::WriteText(dir.File("items.csv"), "h\na;30\nb;31\n");
    const Bytes previous = SeededBytes(40, 7);
    test::WriteBytes(dir.File("old.brt"), previous);
    TableDevice device;  // knows neither item: status 5
    CNvCommands nv(device.exchange);
    Reports reports;
    EXPECT_FALSE(BackupBrt(nv, dir.File("items.csv"), dir.File("old.brt"), reports.reporter()).Succeeded());
    EXPECT_EQ((Lines{{"Total NvCounts in CSV file =  2, 0 has backuped", 0}}), reports.lines);
    EXPECT_EQ(previous, test::ReadBytes(dir.File("old.brt")));
}

TEST(BackupBrt, MissingListFailsWithoutTouchingTheBrtFile) {
    ScratchDir dir;
    test::WriteBytes(dir.File("old.brt"), {1, 0, 0, 0});
    TableDevice device;
    CNvCommands nv(device.exchange);
    Reports reports;
    EXPECT_FALSE(BackupBrt(nv, dir.File("missing.csv"), dir.File("old.brt"), reports.reporter()).Succeeded());
    EXPECT_EQ((Lines{{"Open Csv file failed", -1}}), reports.lines);
    EXPECT_EQ((Bytes{1, 0, 0, 0}), test::ReadBytes(dir.File("old.brt")));
    EXPECT_TRUE(device.exchange.requests.empty());
}

TEST(BackupBrt, UnwritableBrtFailsAfterTheTotalsAndLeavesNothingBeside) {
    ScratchDir dir;
    test::WriteText(dir.File("items.csv"), "h\na;1\n");
    // A folder where the BRT file should go cannot be replaced by a file.
    std::filesystem::create_directory(dir.File("old.brt"));
    test::WriteBytes(dir.File("old.brt/inside"), {0, 0, 0, 0});
    TableDevice device;
    device.items[1] = {Item::Plain, SeededBytes(128, 1)};
    CNvCommands nv(device.exchange);
    Reports reports;
    EXPECT_FALSE(BackupBrt(nv, dir.File("items.csv"), dir.File("old.brt"), reports.reporter()).Succeeded());
    ASSERT_EQ(2u, reports.lines.size());
    EXPECT_EQ((Line{"Total NvCounts in CSV file =  1, 1 has backuped", 0}), reports.lines[1]);
    EXPECT_EQ((Bytes{0, 0, 0, 0}), test::ReadBytes(dir.File("old.brt/inside")));
    EXPECT_EQ((std::vector<std::string>{"items.csv", "old.brt"}), test::FileNamesIn(dir));

    EXPECT_FALSE(BackupBrt(nv, dir.File("items.csv"), dir.File("no/such/dir/out.brt"), nullptr).Succeeded());
}

TEST(RestoreBrt, ItemWritesUpTo128BytesAndChunksBeyond) {
    ScratchDir dir;
    test::WriteBytes(dir.File("in.brt"),
                     BrtOf({{65546, SeededBytes(128, 1)}, {550, SeededBytes(384, 2)}, {7, {}}, {8, {1, 2}}}));
    TableDevice device;
    CNvCommands nv(device.exchange);
    Reports reports;
    ASSERT_TRUE(RestoreBrt(nv, dir.File("in.brt"), reports.reporter()).Succeeded());
    ASSERT_EQ(6u, device.writes.size());
    EXPECT_EQ(131u, device.writes[0].size());
    EXPECT_EQ((Bytes{39, 10, 0}), Bytes(device.writes[0].begin(), device.writes[0].begin() + 3));
    EXPECT_EQ(SeededBytes(128, 1), Bytes(device.writes[0].begin() + 3, device.writes[0].end()));
    const Bytes long384 = SeededBytes(384, 2);
    for (uint8_t k = 0; k < 3; ++k) {
        const Bytes& chunk = device.writes[1 + k];
        ASSERT_EQ(134u, chunk.size());
        EXPECT_EQ(k, chunk[3]);
        const Bytes slice(long384.begin() + 128 * k, long384.begin() + 128 * (k + 1));
        EXPECT_EQ(slice, Bytes(chunk.begin() + 4, chunk.begin() + 132));
    }
    EXPECT_EQ(Bytes(128, 0), Bytes(device.writes[4].begin() + 3, device.writes[4].end()));
    EXPECT_EQ((Bytes{39, 8, 0, 1, 2, 0}), Bytes(device.writes[5].begin(), device.writes[5].begin() + 6));
    EXPECT_EQ((Lines{{"RestoreBrt Counts =  1", 0},
                     {"RestoreBrt Counts =  2", 0},
                     {"RestoreBrt Counts =  3", 0},
                     {"RestoreBrt Counts =  4", 0},
                     {"Total NvCounts in BRT file =  4, 4 has restored", 0}}),
              reports.lines);
}

TEST(RestoreBrt, RefusedRecordsAreSkippedAndALostOneEndsTheRestore) {
    ScratchDir dir;
    test::WriteBytes(dir.File("in.brt"),
                     BrtOf({{1, {1}}, {2, {2}}, {3, SeededBytes(256, 3)}, {4, SeededBytes(256, 4)}, {5, {5}}}));
    ScriptedExchange device;
    // Item 1 refused; item 2 first answered by a foreign frame, then done;
    // item 3's last chunk refused; item 4's last chunk lost after a good first.
    device.script = {NvReply(39, 1, {}, 8), {0, Bytes{0x13}},      NvReply(39, 2, {}, 0), NvReply(39, 3, {}, 0),
                     NvReply(39, 3, {}, 2), NvReply(39, 4, {}, 0), test::Silent(),        NvReply(39, 5, {}, 0)};
    CNvCommands nv(device);
    Reports reports;
    EXPECT_FALSE(RestoreBrt(nv, dir.File("in.brt"), reports.reporter()).Succeeded());
    EXPECT_EQ(7u, device.requests.size()) << "nothing is sent after the lost chunk";
    EXPECT_EQ(1, device.drains);
    EXPECT_EQ((Lines{{"RestoreBrt Counts =  1", 0}, {"Total NvCounts in BRT file =  5, 1 has restored", 0}}),
              reports.lines);
}

TEST(RestoreBrt, EmptyMissingAndDamagedFiles) {
    ScratchDir dir;
    TableDevice device;
    CNvCommands nv(device.exchange);
    {
        test::WriteBytes(dir.File("empty.brt"), {0, 0, 0, 0});
        Reports reports;
        ASSERT_TRUE(RestoreBrt(nv, dir.File("empty.brt"), reports.reporter()).Succeeded());
        EXPECT_EQ((Lines{{"Total NvCounts in BRT file =  0, 0 has restored", 0}}), reports.lines);
    }
    {
        Reports reports;
        EXPECT_FALSE(RestoreBrt(nv, dir.File("missing.brt"), reports.reporter()).Succeeded());
        EXPECT_EQ((Lines{{"Open Brt file failed", -1}}), reports.lines);
    }
    const Bytes whole = BrtOf({{1, {1, 2, 3}}, {2, {4, 5, 6}}});
    std::vector<Bytes> damaged;
    for (size_t cut = 0; cut < whole.size(); ++cut) damaged.emplace_back(whole.begin(), whole.begin() + cut);
    damaged.push_back(LeBuilder().I32(1).I32(5).I32(-4).Bytes());
    damaged.push_back(LeBuilder().I32(3).I32(5).Counted({1}).Bytes());
    for (const Bytes& bad : damaged) {
        test::WriteBytes(dir.File("bad.brt"), bad);
        Reports reports;
        EXPECT_FALSE(RestoreBrt(nv, dir.File("bad.brt"), reports.reporter()).Succeeded()) << bad.size();
        EXPECT_TRUE(reports.lines.empty());
    }
    EXPECT_TRUE(device.exchange.requests.empty()) << "nothing of a damaged file is written";
}

TEST(BackupRestore, RoundTripWritesBackExactlyWhatWasRead) {
    ScratchDir dir;
    test::WriteText(dir.File("items.csv"), "h\np;550\none;20\nthree;21\nnone;99\n");
    TableDevice device;
    device.items[550] = {Item::Plain, SeededBytes(128, 9)};
    device.items[20] = {Item::Indexed, {}, 1};
    device.items[21] = {Item::Indexed, {}, 3};
    CNvCommands nv(device.exchange);
    ASSERT_TRUE(BackupBrt(nv, dir.File("items.csv"), dir.File("rt.brt"), nullptr).Succeeded());
    ASSERT_TRUE(RestoreBrt(nv, dir.File("rt.brt"), nullptr).Succeeded());
    ASSERT_EQ(1u + 1 + 3, device.writes.size());
    EXPECT_EQ(SeededBytes(128, 9), Bytes(device.writes[0].begin() + 3, device.writes[0].end()));
    EXPECT_EQ(TableDevice::IndexData(20, 0), Bytes(device.writes[1].begin() + 3, device.writes[1].end()));
    for (uint8_t k = 0; k < 3; ++k) {
        // Each chunk carries the index's 127 value bytes followed by a zero.
        Bytes expected = TableDevice::IndexData(21, k);
        expected.erase(expected.begin());
        expected.push_back(0);
        const Bytes& chunk = device.writes[2 + k];
        EXPECT_EQ(k, chunk[3]);
        EXPECT_EQ(expected, Bytes(chunk.begin() + 4, chunk.begin() + 132)) << int(k);
    }
}

CNV_ItemHolder Numbered(int32_t number, const Bytes& value) {
    CNV_ItemHolder r;
    r.itemNumber = number;
    r.SetValue(value);
    return r;
}

CNV_ItemHolder Named(const std::string& name, const Bytes& value) {
    CNV_ItemHolder r;
    r.name = name;
    r.SetValue(value);
    return r;
}

std::vector<std::string> Describe(const std::vector<Bytes>& requests) {
    std::vector<std::string> out;
    for (const Bytes& r : requests) {
        if (r[0] == 39) {
            out.push_back("nv " + std::to_string(r[1] | (r[2] << 8)) + " len " + std::to_string(r.size()));
        } else {
            const int code = r[2] | (r[3] << 8);
            std::string text = "fs " + std::to_string(code);
            if (code == 2) text += " " + std::string(r.begin() + 12, r.end() - 1);
            if (code == 9) text += " " + std::string(r.begin() + 6, r.end() - 1);
            out.push_back(text);
        }
    }
    return out;
}

using Steps = std::vector<std::string>;

TEST(SendItemLists, StatusFiveIsWrittenTwiceOtherRefusalsOnce) {
    ScriptedExchange device;
    device.device = [](const Bytes& request) {
        const uint8_t item = request[1];
        return NvReply(39, item, {}, item == 5 ? 5 : item == 3 ? 3 : 0);
    };
    CNvCommands nv(device);
    CNVArray numbered;
    for (int n : {5, 3, 1, 1}) numbered.Add(Numbered(n, {static_cast<uint8_t>(n)}));
    CNVArray named;
    NvFailedItem failed;
    failed.text = "previous";
    EXPECT_TRUE(SendItemListsToDevice(nv, numbered, named, failed).Succeeded());
    EXPECT_EQ((Steps{"nv 5 len 131", "nv 5 len 131", "nv 3 len 131", "nv 1 len 131", "nv 1 len 131"}),
              Describe(device.requests));
    EXPECT_EQ(3, failed.id);
    EXPECT_EQ("", failed.text);
}

TEST(SendItemLists, FailedExchangeOrTwoForeignAnswersStopTheDownload) {
    for (bool foreign : {false, true}) {
        ScriptedExchange device;
        const DeviceReply bad = foreign ? DeviceReply{0, Bytes{0x13, 0, 0}} : test::Silent();
        device.script = {NvReply(39, 1, {}, 0), bad, bad};
        CNvCommands nv(device);
        CNVArray numbered;
        numbered.Add(Numbered(1, {}));
        numbered.Add(Numbered(2, {}));
        numbered.Add(Numbered(3, {}));
        CNVArray named;
        named.Add(Named("ARRAY#9", {}));
        NvFailedItem failed;
        EXPECT_EQ(Cause::StoppedAnswering, SendItemListsToDevice(nv, numbered, named, failed).cause);
        EXPECT_EQ(foreign ? 3u : 2u, device.requests.size());
        EXPECT_EQ(2, failed.id);
        EXPECT_EQ(foreign ? 2 : 0, device.drains);
    }
}

// A file opened and then not written may be left truncated on the device:
// the download goes on but its result says so. A lost exchange anywhere in
// a file's requests, or in the retry of an inactive item, stops it.
TEST(SendItemLists, FileLeftUnwrittenFailsTheResultAndLostFileRequestsStop) {
    for (int lostAt : {-1, 1, 3, 5}) {
        ScriptedExchange device;
        int requestNumber = 0;
        device.device = [&](const Bytes& request) {
            if (requestNumber++ == lostAt) return test::Silent();
            if (request[0] == 39) return NvReply(39, request[1], {}, request[1] == 7 ? 5 : 0);
            const uint16_t code = static_cast<uint16_t>(request[2] | (request[3] << 8));
            if (code == 2) return test::FsReply(2, {4});
            if (code == 5) return test::FsReply(5, {4, 0, 0, 28});  // no space left
            return test::FsReply(code, {0});
        };
        CNvCommands nv(device);
        CNVArray numbered;
        numbered.Add(Numbered(7, {}));  // inactive: written twice
        CNVArray named;
        named.Add(Named("cfg/a", {1}));
        named.Add(Named("", {}));
        named.Add(Named("ARRAY#8", {}));
        NvFailedItem failed;
        EXPECT_EQ(lostAt < 0 ? Cause::DeviceRefused : Cause::StoppedAnswering,
                  SendItemListsToDevice(nv, numbered, named, failed).cause)
            << lostAt;
        const Steps all{"nv 7 len 131", "nv 7 len 131", "fs 19", "fs 2 cfg/a", "fs 5", "nv 8 len 133"};
        const size_t sent = lostAt < 0 ? all.size() : static_cast<size_t>(lostAt) + 1;
        EXPECT_EQ(Steps(all.begin(), all.begin() + static_cast<long>(sent)), Describe(device.requests)) << lostAt;
        if (lostAt == -1 || lostAt == 3) {
            EXPECT_EQ("cfg/a", failed.text) << lostAt;
        }
    }
}

TEST(SendItemLists, ArrayEntriesAndFileEntries) {
    ScriptedExchange device;
    bool madeParent = false;
    device.device = [&madeParent](const Bytes& request) {
        if (request[0] == 39) return NvReply(39, 0x200 | request[1], {}, request[1] == 0x27 ? 5 : 0);
        const uint16_t code = static_cast<uint16_t>(request[2] | (request[3] << 8));
        switch (code) {
            case 19: return test::FsReply(19, {0});
            case 2:
                // Opens fail while the file's directory is missing.
                return madeParent ? test::FsReply(2, {4}) : test::FsReply(2, {0xFFFFFFFF, 2});
            case 9:
                madeParent = std::string(request.begin() + 6, request.end() - 1) == "cfg/radio";
                return test::FsReply(9, {0});
            case 5: return test::FsReply(5, {4, 0, 0, 0});
            case 3: return test::FsReply(3, {0});
            default: return test::FsReply(code, {0});
        }
    };
    CNvCommands nv(device);
    CNVArray numbered;
    CNVArray named;
    named.Add(Named("ARRAY#550#1", SeededBytes(128, 1)));
    named.Add(Named("/cfg/radio/table", {1, 2}));
    named.Add(Named("", {9}));
    named.Add(Named("#ARRAY#551", {}));  // answered with status 5: written twice
    NvFailedItem failed;
    EXPECT_TRUE(SendItemListsToDevice(nv, numbered, named, failed).Succeeded());
    Steps expected{"nv 550 len 133"};
    expected.push_back("fs 19");
    for (int i = 0; i < 5; ++i) expected.push_back("fs 2 /cfg/radio/table");
    expected.insert(expected.end(), {"fs 9 cfg", "fs 9 cfg/radio", "fs 19", "fs 2 /cfg/radio/table", "fs 5", "fs 3",
                                     "nv 551 len 133", "nv 551 len 133"});
    EXPECT_EQ(expected, Describe(device.requests));
    EXPECT_EQ(551, failed.id);
    EXPECT_EQ(SeededBytes(128, 1), Bytes(device.requests[0].begin() + 3, device.requests[0].begin() + 131));
}

TEST(SendItemLists, ArrayEntryLostStopsAndOversizedValuesAreRefusedHere) {
    ScriptedExchange device;
    device.device = [](const Bytes& request) {
        return request[1] == 0x22 ? test::Silent() : NvReply(39, request[1], {}, 0);
    };
    CNvCommands nv(device);
    CNVArray numbered;
    numbered.Add(Numbered(1, Bytes(129, 1)));  // one byte more than an item write holds
    numbered.Add(Numbered(2, Bytes(128, 1)));
    CNVArray named;
    named.Add(Named("ARRAY#3", Bytes(131, 1)));
    named.Add(Named("ARRAY", {}));  // no number: item 0
    named.Add(Named("ARRAY#34", {}));
    named.Add(Named("ARRAY#4", {}));
    NvFailedItem failed;
    EXPECT_EQ(Cause::StoppedAnswering, SendItemListsToDevice(nv, numbered, named, failed).cause);
    EXPECT_EQ((Steps{"nv 2 len 131", "nv 0 len 133", "nv 34 len 133"}), Describe(device.requests));
    EXPECT_EQ(34, failed.id);
}

TEST(SendItemLists, OversizedFileEntriesAreSkipped) {
    ScriptedExchange device;
    CNvCommands nv(device);
    CNVArray numbered;
    CNVArray named;
    named.Add(Named(std::string(260, 'p'), {}));
    named.Add(Named("", {}));
    named.Add(Named("big", Bytes(65536, 0)));
    named.Add(Named("", {}));
    NvFailedItem failed;
    EXPECT_TRUE(SendItemListsToDevice(nv, numbered, named, failed).Succeeded());
    EXPECT_TRUE(device.requests.empty());
}

}  // namespace
}  // namespace fennix
