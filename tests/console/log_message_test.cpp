#include "console/LogMessage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "console/LogColour.h"
#include "console/SlotCallbacks.h"

namespace tarnwell {
namespace {

StampTime FixedClock() { return StampTime{7, 5, 42}; }

struct Delivery {
    void* window;
    int index;
    std::string text;
};
std::vector<Delivery> g_deliveries;
CLogMessage* g_deliveringLog = nullptr;

// Stands in for the list: records each request with the entry's text at the
// moment of the request.
void RecordDelivery(void* window, int index) {
    g_deliveries.push_back({window, index, g_deliveringLog->Entry(index).text});
}

class LogMessageTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_deliveries.clear();
        log.SetClock(&FixedClock);
        g_deliveringLog = &log;
    }
    std::string TempPath(const char* name) { return ::testing::TempDir() + name; }
    // The file is written in text mode: line ends are "\r\n" on Windows.
    static std::string ReadFile(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        std::string text = s.str();
        text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
        return text;
    }
    CLogMessage log;
    int listWindow = 0;
};

TEST_F(LogMessageTest, EntryCarriesTheUtcStampAndTheText) {
    log.AddLine("Hello Success!!");
    EXPECT_STREQ("[07:05:0042] Hello Success!!", log.Entry(0).text);
    EXPECT_EQ(1, log.NextEntryIndex());
    log.AddLine("");
    EXPECT_STREQ("[07:05:0042] ", log.Entry(1).text);
}

TEST_F(LogMessageTest, NullTextIsIgnored) {
    log.AttachList(&listWindow, &RecordDelivery);
    log.AddLine(nullptr);
    EXPECT_EQ(0, log.NextEntryIndex());
    EXPECT_TRUE(g_deliveries.empty());
    EXPECT_STREQ("", log.Entry(0).text);
}

TEST_F(LogMessageTest, EachLineIsHandedToTheListWithItsEntryIndex) {
    log.AttachList(&listWindow, &RecordDelivery);
    EXPECT_EQ(&listWindow, log.ListWindow());
    log.AddLine("one");
    log.AddLine("two");
    ASSERT_EQ(2u, g_deliveries.size());
    EXPECT_EQ(&listWindow, g_deliveries[0].window);
    EXPECT_EQ(0, g_deliveries[0].index);
    EXPECT_EQ("[07:05:0042] one", g_deliveries[0].text);
    EXPECT_EQ(1, g_deliveries[1].index);
    EXPECT_EQ("[07:05:0042] two", g_deliveries[1].text);

    log.DetachList();
    log.AddLine("three");
    EXPECT_EQ(2u, g_deliveries.size());
    EXPECT_STREQ("[07:05:0042] three", log.Entry(2).text);
}

TEST_F(LogMessageTest, TheTwentyFirstLineReusesEntryZeroAndNoLineIsLost) {
    log.AttachList(&listWindow, &RecordDelivery);
    for (int i = 0; i < 21; ++i) log.AddLine(("line " + std::to_string(i)).c_str());
    ASSERT_EQ(21u, g_deliveries.size());
    for (int i = 0; i < 21; ++i) {
        EXPECT_EQ(i % 20, g_deliveries[i].index);
        EXPECT_EQ("[07:05:0042] line " + std::to_string(i), g_deliveries[i].text);
    }
    EXPECT_STREQ("[07:05:0042] line 20", log.Entry(0).text);
    EXPECT_STREQ("[07:05:0042] line 19", log.Entry(19).text);
    EXPECT_EQ(1, log.NextEntryIndex());
}

TEST_F(LogMessageTest, LongTextIsCutTo498CharactersAfterTheStamp) {
    const std::string text(600, 'x');
    log.AddLine(text.c_str());
    const std::string entry = log.Entry(0).text;
    EXPECT_EQ(511u, entry.size());
    EXPECT_EQ("[07:05:0042] " + std::string(498, 'x'), entry);
}

TEST_F(LogMessageTest, FileGetsEveryLineAndIsEmptiedOnRequest) {
    const std::string path = TempPath("tarnwell_DownloadOne.txt");
    {
        std::ofstream old(path);
        old << "left over from before\n";
    }
    ASSERT_EQ(0, log.OpenLogFile(path.c_str()));
    EXPECT_TRUE(log.IsLogFileOpen());
    EXPECT_EQ("", ReadFile(path));  // replaced at open

    log.AddLine("first");
    log.AddLine(std::string(600, 'y').c_str());
    // Written through at once, readable while the slot still runs.
    const std::string content = ReadFile(path);
    EXPECT_EQ(0u, content.find("[07:05:0042] first"));
    EXPECT_NE(std::string::npos, content.find("[07:05:0042] " + std::string(498, 'y') + "\n"));
    EXPECT_EQ(std::string::npos, content.find(std::string(499, 'y')));

    log.EmptyLogFile();
    EXPECT_EQ("", ReadFile(path));
    log.AddLine("second run");
    EXPECT_EQ(0u, ReadFile(path).find("[07:05:0042] second run"));

    // A second open leaves the open file alone.
    EXPECT_EQ(0, log.OpenLogFile(TempPath("tarnwell_other.txt").c_str()));
    log.AddLine("still here");
    EXPECT_NE(std::string::npos, ReadFile(path).find("still here"));
    log.CloseLogFile();
    EXPECT_FALSE(log.IsLogFileOpen());
    std::remove(path.c_str());
}

TEST_F(LogMessageTest, FileThatCannotBeCreatedReportsTheError) {
    const std::string path = TempPath("no_such_directory_for_tarnwell/DownloadOne.txt");
    EXPECT_NE(0, log.OpenLogFile(path.c_str()));
    EXPECT_FALSE(log.IsLogFileOpen());
    log.EmptyLogFile();  // nothing to empty, nothing to crash
    log.AddLine("list only");
    EXPECT_STREQ("[07:05:0042] list only", log.Entry(0).text);
}

TEST(UtcStamp, FieldsStayInRange) {
    for (int i = 0; i < 100; ++i) {
        const StampTime t = UtcStampNow();
        EXPECT_GE(t.minute, 0);
        EXPECT_LT(t.minute, 60);
        EXPECT_GE(t.second, 0);
        EXPECT_LT(t.second, 60);
        EXPECT_GE(t.millisecond, 0);
        EXPECT_LT(t.millisecond, 1000);
    }
    char entry[512];
    FormatLogEntry(entry, StampTime{59, 9, 999}, "x");
    EXPECT_STREQ("[59:09:0999] x", entry);
}

TEST(SlotCallbacks, EachSlotReachesOnlyItsOwnLog) {
    CLogMessage logs[kSlotCount];
    for (int slot = 0; slot < kSlotCount; ++slot) {
        logs[slot].SetClock(&FixedClock);
        BindSlotLog(slot, &logs[slot]);
    }
    for (int slot = 0; slot < kSlotCount; ++slot)
        for (int other = 0; other < slot; ++other) EXPECT_NE(SlotProgressCallback(slot), SlotProgressCallback(other));

    SlotProgressCallback(4)("Open ComPort Success!!", 0);
    SlotProgressCallback(4)("Hello Failed!!", -1);
    SlotProgressCallback(0)(nullptr, 0);
    for (int slot = 0; slot < kSlotCount; ++slot)
        EXPECT_EQ(slot == 4 ? 2 : 0, logs[slot].NextEntryIndex()) << "slot " << slot;
    EXPECT_STREQ("[07:05:0042] Hello Failed!!", logs[4].Entry(1).text);

    // A slot without a buffer drops the line.
    BindSlotLog(4, nullptr);
    SlotProgressCallback(4)("dropped", 0);
    EXPECT_EQ(2, logs[4].NextEntryIndex());
    for (int slot = 0; slot < kSlotCount; ++slot) BindSlotLog(slot, nullptr);
}

TEST(SlotCallbacks, EightSlotsLogAtTheSameTime) {
    CLogMessage logs[kSlotCount];
    for (int slot = 0; slot < kSlotCount; ++slot) BindSlotLog(slot, &logs[slot]);
    std::vector<std::thread> workers;
    for (int slot = 0; slot < kSlotCount; ++slot)
        workers.emplace_back([slot] {
            for (int i = 0; i < 45; ++i)
                SlotProgressCallback(slot)((" " + std::to_string(i) + " % completed.").c_str(), 0);
        });
    for (std::thread& t : workers) t.join();
    for (int slot = 0; slot < kSlotCount; ++slot) {
        EXPECT_EQ(45 % 20, logs[slot].NextEntryIndex());
        EXPECT_NE(nullptr, std::strstr(logs[slot].Entry(4).text, " 44 % completed."));
        BindSlotLog(slot, nullptr);
    }
}

TEST(ListColourRule, FailureTurnsRedAndSuccessGrey) {
    EXPECT_EQ(ListColour::Red, ColourAfterLine("[00:01:0002] Hello Failed!!"));
    EXPECT_EQ(ListColour::Grey, ColourAfterLine("[00:01:0002] Download Process Success!!"));
    EXPECT_EQ(ListColour::Unchanged, ColourAfterLine("[00:01:0002] Hello Success!!"));
    EXPECT_EQ(ListColour::Unchanged, ColourAfterLine("[00:01:0002] Open ComPort failed"));
    EXPECT_EQ(ListColour::Unchanged, ColourAfterLine(""));
    EXPECT_EQ(ListColour::Unchanged, ColourAfterLine(nullptr));
}

TEST(ListColourRule, WordsCountOnlyAfterTheFirstCharacter) {
    EXPECT_EQ(ListColour::Unchanged, ColourAfterLine("Failed!!"));
    EXPECT_EQ(ListColour::Red, ColourAfterLine("xFailed"));
    EXPECT_EQ(ListColour::Red, ColourAfterLine("Failed Failed"));
    EXPECT_EQ(ListColour::Unchanged, ColourAfterLine("Process Success"));
    EXPECT_EQ(ListColour::Grey, ColourAfterLine(" Process Success"));
}

TEST(ListColourRule, GreyWinsWhenBothWordsOccur) {
    EXPECT_EQ(ListColour::Grey, ColourAfterLine("[00:00:0000] Failed before Process Success"));
    EXPECT_EQ(ListColour::Grey, ColourAfterLine("[00:00:0000] Process Success then Failed"));
}

}  // namespace
}  // namespace tarnwell
