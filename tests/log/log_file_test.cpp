// Opening and closing the daily log: settings, banners, append or fresh file.
#include <string>
#include <vector>

#include "log_test_fixture.h"

namespace fennix::testsupport {
namespace {

using Messages = std::vector<std::string>;

TEST_F(LogFileTest, BannersOpenAndCloseTheFileAtLevelZero) {
    StartWith(1);
    EXPECT_TRUE(platform::FileExists(path_));
    EXPECT_EQ(0, EndLog());
    const auto lines = ReadLines();
    ASSERT_EQ(4u, lines.size());
    for (const auto& line : lines) EXPECT_EQ("<NML>", line.tag);
    EXPECT_EQ((Messages{kAsterisks, "*... Start ...", "*...End....", kAsterisks}), ReadMessages());
    const std::string raw = ReadRaw();
    EXPECT_EQ("\r\n", raw.substr(raw.size() - 2));
}

TEST_F(LogFileTest, ThresholdDecidesWhichLevelsReachTheFile) {
    for (int threshold : {0, 1, 3, 5}) {
        SCOPED_TRACE(threshold);
        StartWith(static_cast<uint32_t>(threshold));
        for (int level = 0; level <= 5; ++level)
            EXPECT_EQ(level <= threshold ? 1 : 0, LogLine(level, "line of level %d", level)) << level;
        EndLog();
        Messages expected{kAsterisks, "*... Start ..."};
        for (int level = 0; level <= threshold; ++level) expected.push_back("line of level " + std::to_string(level));
        expected.insert(expected.end(), {"*...End....", kAsterisks});
        EXPECT_EQ(expected, ReadMessages());
    }
}

TEST_F(LogFileTest, AbsentLevelKeepsTheThresholdLastRead) {
    // First opening of a process: absent means the default 1 (set here explicitly
    // because earlier tests of this process may have read other values).
    StartWith(1);
    EndLog();
    RemoveLogLevel();
    StartLog();
    EXPECT_EQ(1, LogLine(kLogError, "error"));
    EXPECT_EQ(0, LogLine(kLogWarning, "warning"));
    EXPECT_EQ(0, LogLine(kLogDebug, "debug"));
    EndLog();
    EXPECT_EQ((Messages{kAsterisks, "*... Start ...", "error", "*...End....", kAsterisks}), ReadMessages());

    StartWith(5);
    EndLog();
    RemoveLogLevel();
    StartLog();
    EXPECT_EQ(1, LogLine(kLogDebug, "debug after 5"));
}

TEST_F(LogFileTest, LevelMinusOneSwitchesLoggingOff) {
    StartWith(0xFFFFFFFFu);
    EXPECT_FALSE(platform::FileExists(path_));
    const uint8_t bytes[] = {1, 2};
    EXPECT_EQ(0, LogLine(kLogNormal, "x"));
    EXPECT_EQ(0, LogFuncLine(kLogNormal, "F", "x"));
    EXPECT_EQ(0, LogPortLine(kLogNormal, "COM5", "F", "x"));
    EXPECT_EQ(0, LogSystemError("COM5", "F", 2));
    EXPECT_EQ(0, LogHexDump(kLogNormal, bytes, 2));
    EXPECT_EQ(0, LogPortHexDump(kLogNormal, "COM5", "F", bytes, 2));
    EXPECT_EQ(0, EndLog());
    EXPECT_FALSE(platform::FileExists(path_));
}

TEST_F(LogFileTest, MissingSettingsMeanNoLog) {
    ClearLogSettings();
    EXPECT_EQ(0, StartLog());
    EXPECT_EQ(0, LogLine(kLogNormal, "nowhere"));
    EndLog();
    EXPECT_FALSE(platform::FileExists(path_));
}

TEST_F(LogFileTest, WritersReturnZeroAfterEndLog) {
    StartWith(5);
    EndLog();
    EXPECT_EQ(0, LogLine(kLogNormal, "late"));
    EXPECT_EQ(0, LogSystemError("COM5", "F", 2));
    EndLog();  // a second close writes nothing more
    EXPECT_EQ(4u, ReadLines().size());
}

TEST_F(LogFileTest, FreshOptionEmptiesTheDaysFile) {
    StartWith(1, 0);
    LogLine(kLogError, "first run");
    EndLog();
    StartWith(1, 0);
    LogLine(kLogError, "second run");
    EndLog();
    EXPECT_EQ((Messages{kAsterisks, "*... Start ...", "second run", "*...End....", kAsterisks}), ReadMessages());
}

TEST_F(LogFileTest, AppendOptionContinuesTheDaysFile) {
    StartWith(1, 1);
    LogLine(kLogError, "first run");
    EndLog();
    StartWith(1, 1);
    LogLine(kLogError, "second run");
    EndLog();
    EXPECT_EQ((Messages{kAsterisks, "*... Start ...", "first run", "*...End....", kAsterisks, kAsterisks,
                        "*... Start ...", "second run", "*...End....", kAsterisks}),
              ReadMessages());
}

TEST_F(LogFileTest, SecondStartLogFinishesTheEarlierFile) {
    // Appending shares the file for reading only: a handle left open by the
    // first StartLog would make the second one fail on Windows.
    StartWith(1, 1);
    LogLine(kLogError, "before");
    StartLog();
    EXPECT_EQ(1, LogLine(kLogError, "after"));
    EndLog();
    EXPECT_EQ((Messages{kAsterisks, "*... Start ...", "before", "*...End....", kAsterisks, kAsterisks, "*... Start ...",
                        "after", "*...End....", kAsterisks}),
              ReadMessages());
}

TEST_F(LogFileTest, OpenLogCanBeReadByOthers) {
    for (uint32_t append : {0u, 1u}) {
        StartWith(1, append);
        platform::File reader;
        ASSERT_EQ(0, reader.Open(path_, platform::OpenMode::Read, platform::Share::ReadWrite)) << append;
        char head[5] = {};
        EXPECT_EQ(5, reader.Read(head, 5));
        EXPECT_EQ("<NML>", std::string(head, 5));
        EndLog();
    }
}

TEST_F(LogFileTest, FileNameMustFitInOneHundredBytes) {
    const std::string base = ::testing::TempDir();
    ASSERT_LT(base.size(), 80u);
    // "yyyymmdd.log" adds 12 characters; 99 characters and the terminator fit.
    const std::string fits = base + std::string(87 - base.size(), 'f');
    const std::string tooLong = base + std::string(88 - base.size(), 'g');
    ASSERT_EQ(99u, PathFor(fits).size());

    SetLogApp(tooLong);
    StartWith(1);
    EXPECT_EQ(0, LogLine(kLogError, "too long"));
    EndLog();
    EXPECT_FALSE(platform::FileExists(PathFor(tooLong)));

    SetLogApp(fits);
    StartWith(1);
    EXPECT_EQ(1, LogLine(kLogError, "fits"));
    EndLog();
    EXPECT_TRUE(platform::FileExists(PathFor(fits)));
    platform::RemoveFile(PathFor(fits));
}

}  // namespace
}  // namespace fennix::testsupport
