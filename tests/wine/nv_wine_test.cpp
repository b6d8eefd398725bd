// NV backup and restore of the Windows build, under Wine, against a virtual
// device behind a Wine COM port (see nv_wine_test.sh, which preloads the
// device's NV memory). The port comes in FENNIX_WINE_NV_PORT; files are made
// in the current folder.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "../nv/ReportLines.h"
#include "../nv/TestFiles.h"
#include "fennix/fennix.h"
#include "nv/BrtFile.h"

namespace fennix {
namespace {

using Bytes = std::vector<uint8_t>;
using test::Line;
using test::Lines;

std::string Port() {
    const char* port = std::getenv("FENNIX_WINE_NV_PORT");
    return port ? port : "";
}

class NvUnderWine : public ::testing::Test {
protected:
    Lines lines;
    FennixHandle session = nullptr;

    void SetUp() override {
        ASSERT_FALSE(Port().empty()) << "FENNIX_WINE_NV_PORT is not set";
        test::CollectingInto() = &lines;
        session = SetComPort(Port().c_str());
        ASSERT_NE(nullptr, session);
        SetCallBack(session, test::CollectLine);
    }
    void TearDown() override {
        Close(session);
        test::CollectingInto() = nullptr;
    }

    std::vector<CNV_ItemHolder> Backup(const std::string& brt) {
        test::WriteText("items.csv", "Name;Item\r\nplain;550\r\none;20\r\nthree;21\r\ninactive;30\r\n");
        SetCsvBrtFile(session, "items.csv", brt.c_str());
        EXPECT_EQ(1, StartBackupBrt(session));
        EXPECT_EQ((Line{"BackupBrt Success!!", 0}), lines.back());
        const Bytes bytes = test::ReadBytes(brt);
        const BrtContents contents = DecodeBrt(bytes.data(), bytes.size());
        EXPECT_TRUE(contents.complete);
        return contents.records;
    }
};

Bytes Field(std::initializer_list<uint8_t> head, size_t size) {
    Bytes bytes(head);
    bytes.resize(size, 0);
    return bytes;
}

TEST_F(NvUnderWine, BackupReadsPlainAndIndexedItems) {
    const auto records = Backup("first.brt");
    EXPECT_EQ((Line{"Total NvCounts in CSV file =  4, 3 has backuped", 0}), lines[lines.size() - 2]);
    ASSERT_EQ(3u, records.size());
    EXPECT_EQ(550, records[0].itemNumber);
    EXPECT_EQ(Field({1, 2, 3, 4, 5}, 128), records[0].Value());
    EXPECT_EQ(Field({0, 0xA1, 0xA2, 0xA3}, 128), records[1].Value());
    ASSERT_EQ(384, records[2].ValueLength());
    EXPECT_EQ(0xB1, records[2].Value()[0]);
    EXPECT_EQ(0xB2, records[2].Value()[128]);
    EXPECT_EQ(0xB3, records[2].Value()[256]);
}

TEST_F(NvUnderWine, RestoredValuesAreReadBackUnchanged) {
    std::vector<CNV_ItemHolder> wanted(2);
    wanted[0].itemNumber = 550;
    Bytes plain(128);
    for (size_t i = 0; i < plain.size(); ++i) plain[i] = static_cast<uint8_t>(0xF0 - i);
    wanted[0].SetValue(plain);
    wanted[1].itemNumber = 21;
    Bytes chunks(384);
    for (size_t i = 0; i < chunks.size(); ++i) chunks[i] = (i % 128 == 127) ? 0 : static_cast<uint8_t>(i * 7 + 1);
    wanted[1].SetValue(chunks);
    test::WriteBytes("wanted.brt", EncodeBrt(wanted));

    SetCsvBrtFile(session, nullptr, "wanted.brt");
    ASSERT_EQ(1, StartRestoreBrt(session));
    EXPECT_EQ((Line{"Total NvCounts in BRT file =  2, 2 has restored", 0}), lines[lines.size() - 2]);

    const auto records = Backup("again.brt");
    ASSERT_EQ(3u, records.size());
    EXPECT_EQ(wanted[0].Value(), records[0].Value());
    EXPECT_EQ(wanted[1].Value(), records[2].Value());
}

}  // namespace
}  // namespace fennix
