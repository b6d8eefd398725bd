#include "simulator/StablePath.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

#include "simulator/SimulatorFixture.h"

namespace fennix::sim {
namespace {

class StablePathTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = std::string(::testing::TempDir()) + "fennix-sim-paths-XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(pattern.data()));
        dir_ = pattern;
    }
    void TearDown() override {
        for (const char* name : {"ttyMSM0", "ttyMSM1", "ttyMSM2", "COM5", "plain"}) unlink((dir_ + "/" + name).c_str());
        rmdir(dir_.c_str());
    }
    static bool Exists(const std::string& path) {
        struct stat st {};
        return lstat(path.c_str(), &st) == 0;
    }
    static std::string Target(const std::string& path) {
        char buffer[256] = {};
        ssize_t n = readlink(path.c_str(), buffer, sizeof buffer - 1);
        return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
    }
    std::string dir_;
};

TEST_F(StablePathTest, AutomaticNamesStayDistinctEvenWhileALinkIsRemoved) {
    CStablePath a, b, c;
    ASSERT_EQ(0, a.Claim(dir_, ""));
    ASSERT_EQ(0, a.Point("/dev/null"));
    ASSERT_EQ(0, b.Claim(dir_, ""));
    EXPECT_EQ(dir_ + "/ttyMSM0", a.Path());
    EXPECT_EQ(dir_ + "/ttyMSM1", b.Path());
    // a's port is away: its name must not go to the next device.
    a.Remove();
    EXPECT_FALSE(Exists(a.Path()));
    ASSERT_EQ(0, c.Claim(dir_, ""));
    EXPECT_EQ(dir_ + "/ttyMSM2", c.Path());
    // Released names are free again.
    b.Release();
    CStablePath d;
    ASSERT_EQ(0, d.Claim(dir_, ""));
    EXPECT_EQ(dir_ + "/ttyMSM1", d.Path());
}

TEST_F(StablePathTest, PointReplacesTheTargetAndExplicitNamesAreExclusive) {
    CStablePath a;
    ASSERT_EQ(0, a.Claim(dir_, "COM5"));
    ASSERT_EQ(0, a.Point("/dev/null"));
    EXPECT_EQ("/dev/null", Target(dir_ + "/COM5"));
    ASSERT_EQ(0, a.Point("/dev/zero"));
    EXPECT_EQ("/dev/zero", Target(dir_ + "/COM5"));
    EXPECT_FALSE(Exists(dir_ + "/COM5.new"));

    CStablePath b;
    EXPECT_EQ(EEXIST, b.Claim(dir_, "COM5"));
    std::ofstream(dir_ + "/plain") << "x";
    EXPECT_EQ(EEXIST, b.Claim(dir_, "plain"));  // never replaces a regular file
    a.Release();
    EXPECT_FALSE(Exists(dir_ + "/COM5"));
}

TEST_F(StablePathTest, LinkLeftBehindByACrashedRunIsTakenOver) {
    ASSERT_EQ(0, symlink("/dev/pts/does-not-exist", (dir_ + "/ttyMSM0").c_str()));
    CStablePath a;
    ASSERT_EQ(0, a.Claim(dir_, ""));
    EXPECT_EQ(dir_ + "/ttyMSM0", a.Path());
    // A live link belongs to someone else.
    ASSERT_EQ(0, symlink("/dev/null", (dir_ + "/COM5").c_str()));
    CStablePath b;
    EXPECT_EQ(EEXIST, b.Claim(dir_, "COM5"));
}

TEST_F(StablePathTest, PrivateDirectoryIsRemovedWithTheDevice) {
    std::string path;
    {
        CScopedDevice dev(DiagDevice());
        ASSERT_TRUE(dev.Ok());
        path = dev.Path();
        EXPECT_EQ(0u, Target(path).rfind("/dev/pts/", 0)) << Target(path);
    }
    EXPECT_FALSE(Exists(path));
    EXPECT_FALSE(Exists(path.substr(0, path.rfind('/'))));
}

TEST_F(StablePathTest, DeviceStartFailsCleanlyWhenItsNameIsTaken) {
    DeviceOptions o = DiagDevice();
    o.directory = dir_;
    o.name = "COM5";
    CScopedDevice first(o);
    ASSERT_TRUE(first.Ok());
    CScopedDevice second(o);
    EXPECT_EQ(EEXIST, second.Error());
    EXPECT_FALSE(second->Running());
    EXPECT_EQ(EALREADY, first->Start());
    // Stop and start again on the same name.
    first->Stop();
    EXPECT_FALSE(Exists(dir_ + "/COM5"));
    ASSERT_EQ(0, first->Start());
    EXPECT_EQ(dir_ + "/COM5", first.Path());
}

}  // namespace
}  // namespace fennix::sim
