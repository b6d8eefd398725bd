// Reading a programmer file in Intel HEX form in 1017-byte blocks.
#include "download/HexFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace fennix {
namespace {

using Bytes = std::vector<uint8_t>;

std::string Record(uint8_t type, uint16_t address, const Bytes& data) {
    std::string text = ":";
    char digits[3];
    unsigned sum = static_cast<unsigned>(data.size()) + (address >> 8) + (address & 0xFF) + type;
    auto put = [&](unsigned byte) {
        std::snprintf(digits, sizeof digits, "%02X", byte & 0xFF);
        text += digits;
    };
    put(static_cast<unsigned>(data.size()));
    put(address >> 8);
    put(address & 0xFF);
    put(type);
    for (uint8_t b : data) {
        put(b);
        sum += b;
    }
    put(0x100 - (sum & 0xFF));
    return text + "\r\n";
}

const std::string kEndRecord = ":00000001FF\r\n";

Bytes HexData(size_t n, unsigned seed = 1) {
    Bytes data(n);
    for (size_t i = 0; i < n; ++i) data[i] = static_cast<uint8_t>(i * 7 + seed);
    return data;
}

// A programmer file: the segment record, then `data` in records of the given
// sizes (the last size repeats until the data runs out).
std::string Programmer(const Bytes& data, std::vector<size_t> sizes, bool endRecord = true) {
    std::string text = Record(0x04, 0, {0x00, 0x20});
    size_t at = 0, i = 0;
    while (at < data.size()) {
        size_t n = std::min(sizes[std::min(i++, sizes.size() - 1)], data.size() - at);
        text += Record(0x00, static_cast<uint16_t>(at), Bytes(data.begin() + at, data.begin() + at + n));
        at += n;
    }
    return endRecord ? text + kEndRecord : text;
}

class HexFileTest : public ::testing::Test {
protected:
    void TearDown() override { platform::RemoveFile(path_); }

    void Write(const std::string& text) {
        platform::File f;
        ASSERT_EQ(0, f.Open(path_, platform::OpenMode::WriteTruncate));
        ASSERT_TRUE(f.Write(text.data(), text.size()));
    }

    // Opens `text` and returns the sizes of the blocks up to the first one
    // shorter than 1017 bytes, as the uploader reads them.
    std::vector<uint32_t> Blocks(const std::string& text, Bytes* all = nullptr) {
        Write(text);
        CHexFile hex;
        EXPECT_EQ(1, hex.Open(path_));
        std::vector<uint32_t> sizes;
        for (;;) {
            Bytes block(CHexFile::kBlockSize, 0);
            uint32_t n = hex.ReadData(block.data());
            sizes.push_back(n);
            if (all != nullptr) all->insert(all->end(), block.begin(), block.begin() + n);
            if (n < CHexFile::kBlockSize || sizes.size() > 100) break;
        }
        return sizes;
    }

    std::string path_ = ::testing::TempDir() + "fennix_programmer.hex";
};

TEST(HexByte, DigitsOfEitherCaseAndOthersAsZero) {
    EXPECT_EQ(0x3A, CHexFile::HexByte("3A"));
    EXPECT_EQ(0x3A, CHexFile::HexByte("3a"));
    EXPECT_EQ(0xFF, CHexFile::HexByte("fF"));
    EXPECT_EQ(0x09, CHexFile::HexByte("09"));
    EXPECT_EQ(0x01, CHexFile::HexByte("g1"));
    EXPECT_EQ(0x50, CHexFile::HexByte("5:"));
}

TEST_F(HexFileTest, OpenReadsTheStartSegment) {
    Write(":020000041A2bB7\r\n" + kEndRecord);
    CHexFile hex;
    ASSERT_EQ(1, hex.Open(path_));
    EXPECT_EQ(0x1A, hex.StartSegmentHigh());
    EXPECT_EQ(0x2B, hex.StartSegmentLow());
}

TEST_F(HexFileTest, OpenFailsOnMissingOrShortFiles) {
    CHexFile hex;
    int error = 0;
    EXPECT_EQ(0, hex.Open(path_ + ".missing", platform::Share::ReadWrite, &error));
    EXPECT_NE(0, error);
    Write(":02000004123");  // 12 characters
    EXPECT_EQ(0, hex.Open(path_));
    EXPECT_FALSE(hex.IsOpen());
    Write(":0200000412345");  // 14 characters
    EXPECT_EQ(0, hex.Open(path_));
    Write(":02000004123456");  // 15 are enough
    EXPECT_EQ(1, hex.Open(path_));
    EXPECT_EQ(0x12, hex.StartSegmentHigh());
    EXPECT_EQ(0x34, hex.StartSegmentLow());
}

TEST_F(HexFileTest, BlocksSplitARecordAtTheBoundary) {
    const Bytes data = HexData(2000);
    Bytes all;
    EXPECT_EQ((std::vector<uint32_t>{1017, 983}), Blocks(Programmer(data, {32}), &all));
    // 31 whole records and 25 bytes of the 32nd fill the first block.
    EXPECT_EQ(data, all);
}

TEST_F(HexFileTest, DataEndingAtTheBoundaryGivesAnEmptyLastBlock) {
    const Bytes data = HexData(1017);
    Bytes all;
    EXPECT_EQ((std::vector<uint32_t>{1017, 0}), Blocks(Programmer(data, {32}), &all));
    EXPECT_EQ(data, all);
}

TEST_F(HexFileTest, ShortRecordEndsItsBlock) {
    const Bytes data = HexData(32 + 8 + 64);
    Write(Programmer(data, {32, 8, 32}));
    CHexFile hex;
    ASSERT_EQ(1, hex.Open(path_));
    Bytes block(CHexFile::kBlockSize);
    ASSERT_EQ(40u, hex.ReadData(block.data()));
    EXPECT_EQ(Bytes(data.begin(), data.begin() + 40), Bytes(block.begin(), block.begin() + 40));
    ASSERT_EQ(64u, hex.ReadData(block.data()));
    EXPECT_EQ(Bytes(data.begin() + 40, data.end()), Bytes(block.begin(), block.begin() + 64));
    EXPECT_EQ(0u, hex.ReadData(block.data()));
}

TEST_F(HexFileTest, AddressRecordsAreSkipped) {
    const Bytes data = HexData(64);
    const std::string first = Record(0x04, 0, {0x00, 0x20});
    const std::string address = Record(0x04, 0, {0x00, 0x21});
    const std::string r1 = Record(0x00, 0, Bytes(data.begin(), data.begin() + 32));
    const std::string r2 = Record(0x00, 32, Bytes(data.begin() + 32, data.end()));
    Bytes all;
    // Among data records an address record does not end the block ...
    EXPECT_EQ((std::vector<uint32_t>{64}), Blocks(first + r1 + address + r2 + kEndRecord, &all));
    EXPECT_EQ(data, all);
    // ... but right after the first record, with no data record taken yet, it does.
    Write(first + address + r1 + r2 + kEndRecord);
    CHexFile hex;
    ASSERT_EQ(1, hex.Open(path_));
    Bytes block(CHexFile::kBlockSize);
    EXPECT_EQ(0u, hex.ReadData(block.data()));
    EXPECT_EQ(64u, hex.ReadData(block.data()));
    EXPECT_EQ(data, Bytes(block.begin(), block.begin() + 64));
}

TEST_F(HexFileTest, LowerCaseDigitsGiveTheSameBytes) {
    const Bytes data = HexData(300, 0xA5);
    std::string text = Programmer(data, {16});
    for (char& c : text)
        if (c >= 'A' && c <= 'F') c = static_cast<char>(c - 'A' + 'a');
    Bytes all;
    EXPECT_EQ((std::vector<uint32_t>{300}), Blocks(text, &all));
    EXPECT_EQ(data, all);
}

TEST_F(HexFileTest, MissingEndRecordStillDeliversTheGatheredBytes) {
    const Bytes data = HexData(96);
    Bytes all;
    EXPECT_EQ((std::vector<uint32_t>{96}), Blocks(Programmer(data, {32}, false), &all));
    EXPECT_EQ(data, all);
}

TEST_F(HexFileTest, RecordsLongerThanFortyFiveBytesAreReadWhole) {
    const Bytes data = HexData(2100, 3);
    Bytes all;
    // 15 records of 64 bytes and 57 bytes of the 16th fill the first block.
    EXPECT_EQ((std::vector<uint32_t>{1017, 1017, 66}), Blocks(Programmer(data, {64}), &all));
    EXPECT_EQ(data, all);
    all.clear();
    EXPECT_EQ((std::vector<uint32_t>{1017, 1017, 66}), Blocks(Programmer(data, {255}), &all));
    EXPECT_EQ(data, all);
}

TEST_F(HexFileTest, OpeningAgainStartsFromTheFirstBlock) {
    const Bytes data = HexData(2000);
    Write(Programmer(data, {32}));
    CHexFile hex;
    Bytes block(CHexFile::kBlockSize);
    ASSERT_EQ(1, hex.Open(path_));
    ASSERT_EQ(1017u, hex.ReadData(block.data()));
    hex.Close();
    // The first open stopped inside a record; none of that carries over.
    ASSERT_EQ(1, hex.Open(path_));
    ASSERT_EQ(1017u, hex.ReadData(block.data()));
    EXPECT_EQ(Bytes(data.begin(), data.begin() + 1017), block);
}

std::string WithoutCarriageReturns(std::string text) {
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    return text;
}

TEST_F(HexFileTest, LineFeedEndingsGiveTheSameBlocksAsCarriageReturnLineFeed) {
    const Bytes data = HexData(2000);
    for (const std::string& text :
         {WithoutCarriageReturns(Programmer(data, {32})), WithoutCarriageReturns(Programmer(data, {16})) + "\n\n"}) {
        Bytes all;
        EXPECT_EQ((std::vector<uint32_t>{1017, 983}), Blocks(text, &all));
        EXPECT_EQ(data, all);
    }
}

// The fault of `text` as Open finds it.
std::string FaultOf(const std::string& path, const std::string& text) {
    platform::File f;
    f.Open(path, platform::OpenMode::WriteTruncate);
    f.Write(text.data(), text.size());
    f.Close();
    CHexFile hex;
    EXPECT_EQ(1, hex.Open(path));
    return hex.Fault();
}

TEST_F(HexFileTest, ALineThatIsNotARecordIsNamedAsTheFault) {
    const Bytes data = HexData(96);
    const std::string first = Record(0x04, 0, {0x00, 0x20});
    const std::string r1 = Record(0x00, 0, Bytes(data.begin(), data.begin() + 32));
    const std::string r2 = Record(0x00, 32, Bytes(data.begin() + 32, data.begin() + 64));
    const std::string r3 = Record(0x00, 64, Bytes(data.begin() + 64, data.end()));
    EXPECT_EQ("", FaultOf(path_, first + r1 + r2 + r3 + kEndRecord));
    EXPECT_EQ("", FaultOf(path_, WithoutCarriageReturns(first + r1 + r2 + r3 + kEndRecord)));

    std::string wrongSum = r2;
    wrongSum[20] = wrongSum[20] == '0' ? '1' : '0';
    std::string notHex = r2;
    notHex[20] = 'G';
    const std::string spoilt[] = {
        r2.substr(1),                      // no colon
        r2.substr(0, 20) + r2.substr(21),  // odd number of digits
        notHex,
        wrongSum,
        ":21" + r2.substr(3),      // count does not match the line
        r2.substr(0, 9) + "\r\n",  // cut short
        "\r\n" + r2,               // an empty line
    };
    for (const std::string& line : spoilt) {
        const std::string fault = FaultOf(path_, first + r1 + line + r3 + kEndRecord);
        EXPECT_EQ("line 3: ", fault.substr(0, 8)) << line << fault;
    }
    // A first record that is not the start segment's.
    EXPECT_EQ("line 1: ", FaultOf(path_, r1 + r2 + kEndRecord).substr(0, 8));
    // Nothing after the end record is read.
    EXPECT_EQ("", FaultOf(path_, first + r1 + kEndRecord + "garbage\r\n"));
}

TEST_F(HexFileTest, DataTheBlocksDoNotCarryIsNamed) {
    const Bytes data = HexData(32 + 8 + 64);
    const auto notDelivered = [&](const std::string& text) {
        Write(text);
        CHexFile hex;
        EXPECT_EQ(1, hex.Open(path_));
        Bytes block(CHexFile::kBlockSize);
        while (hex.ReadData(block.data()) == CHexFile::kBlockSize) continue;  // as the uploader reads
        return hex.DataNotDelivered();
    };
    EXPECT_EQ("", notDelivered(Programmer(HexData(2000), {32})));
    EXPECT_EQ("", notDelivered(Programmer(HexData(96), {32}, false)));
    // A short record in the middle ends the upload before the rest.
    EXPECT_NE("", notDelivered(Programmer(data, {32, 8, 32})));
    // A data record of two bytes is skipped as if it were an address record.
    EXPECT_NE("", notDelivered(Programmer(HexData(66), {32, 2, 32})));
}

}  // namespace
}  // namespace fennix
