// The port watcher on links in folders, as the sockets' links come and go.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "PortWatcher.h"
#include "ToolProcess.h"

namespace fennix::station {
namespace {

namespace fs = std::filesystem;

TEST(PortWatcher, FollowsLinksInAFolderMadeLaterAndTheirTargets) {
    const fs::path dir = clitest::FreshTestDirOfThisTest("watcher-");
    const std::string link = (dir / "serial" / "by-path" / "socket-1").string();
    // The ttys in a folder of their own, as /dev is not the links' folder.
    fs::create_directories(dir / "dev");
    const std::string tty = (dir / "dev" / "tty1").string();
    PortWatcher watcher;
    watcher.WatchPath(link);
    ASSERT_EQ(watcher.Start(), "");
    const std::atomic<bool> never{false};
    auto soon = [] { return PortWatcher::Clock::now() + std::chrono::seconds(10); };
    EXPECT_FALSE(watcher.Present(link));

    // The folder of the links appears with the first device.
    std::ofstream(tty).put('x');
    fs::create_directories(dir / "serial" / "by-path");
    fs::create_symlink(tty, link);
    EXPECT_TRUE(watcher.WaitFor(link, true, soon(), never));
    // The device goes, its link stays behind: gone all the same.
    fs::remove(tty);
    EXPECT_FALSE(watcher.WaitFor(link, false, soon(), never));
    std::ofstream(tty).put('x');
    fs::remove(link);
    fs::create_symlink(tty, link);
    EXPECT_TRUE(watcher.WaitFor(link, true, soon(), never));
    watcher.Stop();
}

}  // namespace
}  // namespace fennix::station
