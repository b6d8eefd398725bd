#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <filesystem>
#include <thread>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "ScriptedExchange.h"
#include "TestFiles.h"
#include "files/FileBytes.h"
#include "nv/BrtFile.h"
#include "nv/CsvItemList.h"
#include "nv/DuckFile.h"
#include "nv/FieldText.h"
#include "nv/ItemListDownload.h"

namespace fennix {
namespace {

using test::Bytes;
using test::LeBuilder;
using test::ScratchDir;
using test::SeededBytes;

TEST(FieldText, DecimalFieldReadsLikeHandWrittenNumbers) {
    EXPECT_EQ(550, ParseDecimalField("550"));
    EXPECT_EQ(26, ParseDecimalField(" 26abc"));
    EXPECT_EQ(26, ParseDecimalField("\t\r\n 26"));
    EXPECT_EQ(0, ParseDecimalField("0x1A"));
    EXPECT_EQ(-5, ParseDecimalField("-5"));
    EXPECT_EQ(7, ParseDecimalField("+7;"));
    EXPECT_EQ(0, ParseDecimalField(""));
    EXPECT_EQ(0, ParseDecimalField("abc"));
    EXPECT_EQ(0, ParseDecimalField("- 5"));
    EXPECT_EQ(65546, ParseDecimalField("65546"));
    EXPECT_EQ(INT32_MAX, ParseDecimalField("2147483647"));
    EXPECT_EQ(INT32_MIN, ParseDecimalField("-2147483648"));
    EXPECT_EQ(INT32_MAX, ParseDecimalField("99999999999999999999999"));
    EXPECT_EQ(INT32_MIN, ParseDecimalField("-99999999999999999999999"));
}

TEST(FieldText, RunsOfSeparatorsCountAsOne) {
    EXPECT_EQ((std::vector<std::string>{"a", "b"}), SplitFields(";;a;;b;", ';'));
    EXPECT_TRUE(SplitFields(";;;", ';').empty());
    EXPECT_TRUE(SplitFields("", ';').empty());
    const auto fields = SplitFieldsAt("/cfg//radio", '/');
    ASSERT_EQ(2u, fields.size());
    EXPECT_EQ(1u, fields[0].offset);
    EXPECT_EQ(6u, fields[1].offset);
}

std::vector<std::pair<std::string, int32_t>> Items(const std::string& csv) {
    std::vector<std::pair<std::string, int32_t>> out;
    for (const CsvItem& item : ParseCsvItemList(csv)) out.emplace_back(item.name, item.itemNumber);
    return out;
}

using ItemList = std::vector<std::pair<std::string, int32_t>>;

TEST(CsvItemList, HeaderIsIgnoredAndFieldsFollowTheSeparatorRules) {
    EXPECT_TRUE(Items("Name;Number\n").empty());
    EXPECT_TRUE(Items("Name;Number").empty());
    EXPECT_TRUE(Items("").empty());
    EXPECT_EQ((ItemList{{"esn", 550}}), Items("h\nesn;550;whatever;x\n"));
    EXPECT_EQ((ItemList{{"esn", 550}}), Items("h\n;;esn;;550\n"));
    EXPECT_EQ((ItemList{{"only", 0}, {"semi", 0}}), Items("h\nonly\nsemi;\n"));
    EXPECT_EQ((ItemList{{"hex", 0}, {"blank", 26}}), Items("h\nhex;0x1A\nblank; 26abc\n"));
    EXPECT_EQ((ItemList{{"big", 65546}}), Items("h\nbig;65546"));
}

TEST(CsvItemList, LineEndsAndSkippedLines) {
    EXPECT_EQ((ItemList{{"a", 1}, {"b", 2}, {"c", 3}}), Items("h\r\na;1\r\nb;2\nc;3"));
    EXPECT_EQ((ItemList{{"a", 1}, {"b", 2}}), Items("h\n\n;;;\na;1\n\r\n;\nb;2\n\n"));
    // A header of CR LF alone is still a header.
    EXPECT_EQ((ItemList{{"a", 1}}), Items("\r\na;1\r\n"));
    EXPECT_EQ((ItemList{{"a", 1}, {"a", 1}}), Items("h\na;1\na;1\n"));
}

TEST(BrtFile, LayoutByteForByte) {
    std::vector<CNV_ItemHolder> records(3);
    records[0].itemNumber = 65546;
    records[0].SetValue(Bytes{1, 2});
    records[1].itemNumber = -3;
    records[1].SetValue(Bytes{});
    records[2].itemNumber = 7;  // no value: written as length 0
    const Bytes expected = LeBuilder().I32(3).I32(65546).Counted({1, 2}).I32(-3).I32(0).I32(7).I32(0).Bytes();
    EXPECT_EQ(expected, EncodeBrt(records));
    EXPECT_EQ((Bytes{0, 0, 0, 0}), EncodeBrt({}));
}

TEST(BrtFile, DecodeReadsWhatEncodeWrote) {
    std::vector<CNV_ItemHolder> records(2);
    records[0].itemNumber = 550;
    records[0].SetValue(SeededBytes(384, 1));
    records[1].itemNumber = 65546;
    records[1].SetValue(SeededBytes(128, 2));
    Bytes bytes = EncodeBrt(records);
    bytes.push_back(0xEE);  // bytes after the last record are not read
    const BrtContents contents = DecodeBrt(bytes.data(), bytes.size());
    ASSERT_TRUE(contents.complete);
    EXPECT_EQ(2, contents.count);
    ASSERT_EQ(2u, contents.records.size());
    EXPECT_EQ(550, contents.records[0].itemNumber);
    EXPECT_EQ(SeededBytes(384, 1), contents.records[0].Value());
    EXPECT_EQ(65546, contents.records[1].itemNumber);
    EXPECT_EQ(SeededBytes(128, 2), contents.records[1].Value());
}

TEST(BrtFile, DamagedFilesKeepOnlyWholeRecords) {
    std::vector<CNV_ItemHolder> records(2);
    records[0].itemNumber = 1;
    records[0].SetValue(SeededBytes(10, 1));
    records[1].itemNumber = 2;
    records[1].SetValue(SeededBytes(10, 2));
    const Bytes whole = EncodeBrt(records);
    const size_t firstEnd = 4 + 8 + 10;
    for (size_t cut = 0; cut < whole.size(); ++cut) {
        const BrtContents contents = DecodeBrt(whole.data(), cut);
        EXPECT_FALSE(contents.complete) << cut;
        EXPECT_EQ(cut >= firstEnd ? 1u : 0u, contents.records.size()) << cut;
    }
    const Bytes negativeLength = LeBuilder().I32(1).I32(5).I32(-1).Bytes();
    EXPECT_FALSE(DecodeBrt(negativeLength.data(), negativeLength.size()).complete);
    const Bytes negativeCount = LeBuilder().I32(-1).Bytes();
    EXPECT_FALSE(DecodeBrt(negativeCount.data(), negativeCount.size()).complete);
    const Bytes promisesMore = LeBuilder().I32(INT32_MAX).I32(5).Counted({9}).Bytes();
    const BrtContents partial = DecodeBrt(promisesMore.data(), promisesMore.size());
    EXPECT_FALSE(partial.complete);
    EXPECT_EQ(1u, partial.records.size());
    const Bytes hugeLength = LeBuilder().I32(1).I32(5).I32(INT32_MAX).Raw({1, 2, 3}).Bytes();
    EXPECT_FALSE(DecodeBrt(hugeLength.data(), hugeLength.size()).complete);
}

TEST(DuckFile, ArrayNames) {
    EXPECT_TRUE(IsArrayName("ARRAY#550#1"));
    EXPECT_TRUE(IsArrayName("#ARRAY#550"));
    EXPECT_TRUE(IsArrayName("##ARRAY"));
    EXPECT_FALSE(IsArrayName("ARRAYX#550"));
    EXPECT_FALSE(IsArrayName("array#550"));
    EXPECT_FALSE(IsArrayName("/nv/ARRAY#1"));
    EXPECT_EQ(550, ArrayItemNumber("ARRAY#550#1"));
    EXPECT_EQ(550, ArrayItemNumber("#ARRAY##550"));
    EXPECT_EQ(0, ArrayItemNumber("ARRAY"));
    EXPECT_EQ(26, ArrayItemNumber("ARRAY# 26x"));
}

TEST(DuckFile, RecordsGoToTheirLists) {
    const Bytes file = LeBuilder()
                           .I32(550)
                           .Counted(SeededBytes(128, 1))
                           .I32(-1)
                           .CountedText("ARRAY#550#1")
                           .Counted(SeededBytes(130, 2))
                           .I32(-1)
                           .CountedText("/cfg/radio")
                           .Counted(SeededBytes(1100, 3))
                           .Counted({7, 7})
                           .I32(-1)
                           .CountedText("ARRAYX#1")
                           .Counted({1})
                           .Counted({})
                           .I32(550)
                           .Counted({})
                           .Bytes();
    CNVArray numbered;
    CNVArray named;
    ASSERT_TRUE(DecodeDuck(file.data(), file.size(), numbered, named));
    ASSERT_EQ(2, numbered.Count());
    EXPECT_EQ(550, numbered.At(0).itemNumber);
    EXPECT_EQ(SeededBytes(128, 1), numbered.At(0).Value());
    EXPECT_EQ(0, numbered.At(1).ValueLength());
    ASSERT_EQ(5, named.Count());
    EXPECT_EQ("ARRAY#550#1", named.At(0).name);
    EXPECT_EQ(-1, named.At(0).itemNumber);
    EXPECT_EQ(SeededBytes(130, 2), named.At(0).Value());
    EXPECT_EQ("/cfg/radio", named.At(1).name);
    EXPECT_EQ(SeededBytes(1100, 3), named.At(1).Value());
    EXPECT_EQ("", named.At(2).name);
    EXPECT_EQ(-1, named.At(2).itemNumber);
    EXPECT_EQ((Bytes{7, 7}), named.At(2).Value());
    EXPECT_EQ("ARRAYX#1", named.At(3).name);
    EXPECT_EQ(0, named.At(4).ValueLength());
}

TEST(DuckFile, NulEndsTheNameButNotTheRecord) {
    const Bytes file =
        LeBuilder().I32(-1).I32(8).Raw({'A', 'R', 'R', 'A', 'Y', '#', '5', 0}).Counted({1}).I32(3).Counted({2}).Bytes();
    CNVArray numbered;
    CNVArray named;
    ASSERT_TRUE(DecodeDuck(file.data(), file.size(), numbered, named));
    ASSERT_EQ(1, named.Count());
    EXPECT_EQ("ARRAY#5", named.At(0).name);
    ASSERT_EQ(1, numbered.Count());
    EXPECT_EQ(3, numbered.At(0).itemNumber);
}

TEST(DuckFile, DamagedFileLeavesBothListsEmpty) {
    const Bytes whole =
        LeBuilder().I32(1).Counted({1, 2}).I32(-1).CountedText("/a/b").Counted({3}).Counted({4}).Bytes();
    CNVArray numbered;
    CNVArray named;
    for (size_t cut = 1; cut < whole.size(); ++cut) {
        if (cut == 10) continue;  // the first record ends here: a whole file
        EXPECT_FALSE(DecodeDuck(whole.data(), cut, numbered, named)) << cut;
        EXPECT_EQ(0, numbered.Count()) << cut;
        EXPECT_EQ(0, named.Count()) << cut;
    }
    EXPECT_TRUE(DecodeDuck(whole.data(), 10, numbered, named));
    EXPECT_EQ(1, numbered.Count());
    for (const Bytes& bad : {LeBuilder().I32(1).I32(-2).Bytes(), LeBuilder().I32(-1).I32(-1).Bytes(),
                             LeBuilder().I32(-1).CountedText("ARRAY#1").I32(-5).Bytes(),
                             LeBuilder().I32(-1).CountedText("f").Counted({}).I32(INT32_MIN).Bytes()}) {
        EXPECT_FALSE(DecodeDuck(bad.data(), bad.size(), numbered, named));
        EXPECT_EQ(0, numbered.Count() + named.Count());
    }
}

TEST(DuckFile, LoadReplacesTheListsAndReportsUnreadableFiles) {
    ScratchDir dir;
    CNVArray numbered;
    CNVArray named;
    test::WriteBytes(dir.File("a.duck"), LeBuilder().I32(1).Counted({1}).I32(2).Counted({2}).Bytes());
    test::WriteBytes(dir.File("b.duck"), LeBuilder().I32(3).Counted({3}).Bytes());
    test::WriteBytes(dir.File("empty.duck"), {});
    ASSERT_TRUE(LoadDuckFile(dir.File("a.duck"), numbered, named).Succeeded());
    EXPECT_EQ(2, numbered.Count());
    ASSERT_TRUE(LoadDuckFile(dir.File("b.duck"), numbered, named).Succeeded());
    ASSERT_EQ(1, numbered.Count());
    EXPECT_EQ(3, numbered.At(0).itemNumber);
    EXPECT_EQ(Cause::FileMissing, LoadDuckFile(dir.File("missing.duck"), numbered, named).cause);
    EXPECT_EQ(0, numbered.Count());
    EXPECT_TRUE(LoadDuckFile(dir.File("empty.duck"), numbered, named).Succeeded());
    EXPECT_EQ(0, numbered.Count() + named.Count());
    test::WriteBytes(dir.File("cut.duck"), LeBuilder().I32(1).I32(5).Bytes());
    EXPECT_EQ(Cause::FileDamaged, LoadDuckFile(dir.File("cut.duck"), numbered, named).cause);
}

TEST(ParentDirectories, TopDownWithoutLeadingSlash) {
    using List = std::vector<std::string>;
    EXPECT_EQ((List{"cfg", "cfg/radio"}), ParentDirectories("/cfg/radio/table"));
    EXPECT_EQ((List{"cfg", "cfg/radio"}), ParentDirectories("cfg//radio/table"));
    EXPECT_EQ((List{"dir"}), ParentDirectories("dir/"));
    EXPECT_TRUE(ParentDirectories("table").empty());
    EXPECT_TRUE(ParentDirectories("/table").empty());
    EXPECT_TRUE(ParentDirectories("///").empty());
    EXPECT_TRUE(ParentDirectories("").empty());
}

TEST(FileBytes, ReplaceKeepsTheOldFileUntilTheNewOneIsComplete) {
    ScratchDir dir;
    const std::string path = dir.File("backup.brt");
    // A folder cannot be replaced by a file: it must survive, and the file
    // written beside it must be gone.
    std::filesystem::create_directory(path);
    EXPECT_FALSE(ReplaceFileBytes(path, {9, 9}));
    EXPECT_TRUE(std::filesystem::is_directory(path));
    EXPECT_EQ((std::vector<std::string>{"backup.brt"}), test::FileNamesIn(dir));
    std::filesystem::remove(path);

    test::WriteBytes(path, {1, 2, 3});
    EXPECT_TRUE(ReplaceFileBytes(path, {4, 5}));
    EXPECT_EQ((Bytes{4, 5}), test::ReadBytes(path));
    EXPECT_EQ((std::vector<std::string>{"backup.brt"}), test::FileNamesIn(dir));
    EXPECT_TRUE(ReplaceFileBytes(path, {}));
    EXPECT_TRUE(test::ReadBytes(path).empty());

    EXPECT_FALSE(ReplaceFileBytes(dir.File("no/such/dir.brt"), {1}));
    Bytes read;
    EXPECT_FALSE(ReadFileBytes(dir.File("missing"), read));
}

// The one whole-file reader: every byte of a file longer than any read block,
// and with a limit (the HEX reader's, the partition table's) it stops soon
// after the limit instead of reading a huge file whole.
TEST(FileBytes, ReadsWholeFilesAndStopsBeyondALimit) {
    ScratchDir dir;
    const std::string path = dir.File("large.bin");
    Bytes content(300000);
    for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<uint8_t>(i * 7 + i / 256);
    test::WriteBytes(path, content);

    Bytes read{1, 2, 3};
    ASSERT_TRUE(ReadFileBytes(path, read, kFileBytesMax, platform::Share::ReadWrite));
    EXPECT_EQ(content, read);

    platform::File file;
    ASSERT_EQ(0, file.Open(path, platform::OpenMode::Read));
    ASSERT_TRUE(ReadToEnd(file, read, 100));
    EXPECT_GT(read.size(), 100u);
    EXPECT_LT(read.size(), content.size());
    EXPECT_TRUE(std::equal(read.begin(), read.end(), content.begin()));
}

// A FIFO would hold the reader in open() or read() for ever and a device like
// /dev/zero would be read until memory runs out: only regular files within
// the limit are read, a link to one as well.
TEST(FileBytes, ReadsOnlyRegularFilesWithinTheLimit) {
    ScratchDir dir;
    const std::string path = dir.File("items.csv");
    test::WriteBytes(path, Bytes(1000, 'x'));
    Bytes read{1};
    EXPECT_FALSE(ReadFileBytes(path, read, 999));
    EXPECT_TRUE(read.empty());
    ASSERT_TRUE(ReadFileBytes(path, read, 1000));
    EXPECT_EQ(1000u, read.size());
#ifndef _WIN32
    std::filesystem::create_symlink(path, dir.File("link.csv"));
    EXPECT_TRUE(ReadFileBytes(dir.File("link.csv"), read, 1000));
    ASSERT_EQ(0, mkfifo(dir.File("fifo").c_str(), 0600));
    EXPECT_FALSE(ReadFileBytes(dir.File("fifo"), read));
    EXPECT_FALSE(ReadFileBytes("/dev/zero", read));
    EXPECT_TRUE(read.empty());
    platform::File file;
    EXPECT_NE(0, file.Open(dir.File("fifo"), platform::OpenMode::Read));
#endif
}

// Writers of one path at once each land a whole file of their own.
TEST(FileBytes, ConcurrentReplacementsLandOneWholeFile) {
    ScratchDir dir;
    const std::string path = dir.File("shared.brt");
    constexpr int kWriters = 4;
    std::vector<Bytes> contents;
    for (int w = 0; w < kWriters; ++w) contents.push_back(Bytes(1 << 20, static_cast<uint8_t>('a' + w)));
    for (int round = 0; round < 3; ++round) {
        std::vector<std::thread> writers;
        std::atomic<int> succeeded{0};
        for (int w = 0; w < kWriters; ++w)
            writers.emplace_back([&, w] { succeeded += ReplaceFileBytes(path, contents[w]) ? 1 : 0; });
        for (std::thread& t : writers) t.join();
        EXPECT_EQ(kWriters, succeeded.load());
        const Bytes landed = test::ReadBytes(path);
        EXPECT_NE(contents.end(), std::find(contents.begin(), contents.end(), landed)) << "mixed or cut file";
        EXPECT_EQ((std::vector<std::string>{"shared.brt"}), test::FileNamesIn(dir));
    }
}

}  // namespace
}  // namespace fennix
