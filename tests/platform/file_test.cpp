#include "platform/File.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/Time.h"

namespace fennix::platform {
namespace {

std::string TempPath(const char* name) { return std::string(::testing::TempDir()) + name; }

TEST(PlatformFile, WritesReadsAndSeeks) {
    const std::string path = TempPath("fennix_file_roundtrip.bin");
    {
        File f;
        ASSERT_EQ(0, f.Open(path, OpenMode::WriteTruncate));
        ASSERT_TRUE(f.Write("hello world", 11));
    }
    File f;
    ASSERT_EQ(0, f.Open(path, OpenMode::Read));
    EXPECT_EQ(11, f.Size());
    EXPECT_EQ(6, f.Seek(6, Whence::Begin));
    char buffer[16] = {};
    EXPECT_EQ(5, f.Read(buffer, sizeof buffer));
    EXPECT_EQ(std::string("world"), buffer);
    EXPECT_EQ(0, f.Read(buffer, sizeof buffer));
    f.Close();
    EXPECT_EQ(0, RemoveFile(path));
    EXPECT_FALSE(FileExists(path));
}

TEST(PlatformFile, OpenOrCreateKeepsContentAndTruncateEmptiesIt) {
    const std::string path = TempPath("fennix_file_modes.bin");
    {
        File f;
        ASSERT_EQ(0, f.Open(path, OpenMode::ReadWriteTruncate));
        ASSERT_TRUE(f.Write("abc", 3));
    }
    {
        File f;
        ASSERT_EQ(0, f.Open(path, OpenMode::ReadWriteOpenOrCreate));
        EXPECT_EQ(3, f.Size());
        EXPECT_EQ(3, f.Seek(0, Whence::End));
        ASSERT_TRUE(f.Write("def", 3));
        EXPECT_EQ(6, f.Size());
    }
    {
        File f;
        ASSERT_EQ(0, f.Open(path, OpenMode::ReadWriteTruncate));
        EXPECT_EQ(0, f.Size());
    }
    RemoveFile(path);
}

TEST(PlatformFile, MissingFileGivesSystemError) {
    File f;
    EXPECT_NE(0, f.Open(TempPath("fennix_no_such_dir/none.bin"), OpenMode::Read));
    EXPECT_FALSE(f.IsOpen());
    EXPECT_EQ(-1, f.Read(nullptr, 0));
    EXPECT_FALSE(f.Write("x", 1));
}

TEST(PlatformFile, RenameOverMovesNewContentOverOld) {
    const std::string target = TempPath("fennix_replace_target.bin");
    const std::string fresh = TempPath("fennix_replace_fresh.bin");
    {
        File f;
        ASSERT_EQ(0, f.Open(target, OpenMode::WriteTruncate));
        ASSERT_TRUE(f.Write("old", 3));
    }
    {
        File f;
        ASSERT_EQ(0, f.Open(fresh, OpenMode::WriteTruncate));
        ASSERT_TRUE(f.Write("newer", 5));
    }
    ASSERT_EQ(0, RenameOver(fresh, target));
    EXPECT_FALSE(FileExists(fresh));
    File f;
    ASSERT_EQ(0, f.Open(target, OpenMode::Read));
    EXPECT_EQ(5, f.Size());
    f.Close();
    RemoveFile(target);
}

TEST(PlatformTime, LocalTimeFieldsAreInRangeAndMonotonicAdvances) {
    LocalTime t = NowLocal();
    EXPECT_GE(t.year, 2000);
    EXPECT_GE(t.month, 1);
    EXPECT_LE(t.month, 12);
    EXPECT_GE(t.millisecond, 0);
    EXPECT_LE(t.millisecond, 999);
    uint64_t before = MonotonicMs();
    SleepMs(50);
    EXPECT_GE(MonotonicMs() - before, 40u);
}

}  // namespace
}  // namespace fennix::platform
