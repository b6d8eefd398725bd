#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "FakeLauncherSystem.h"
#include "ModemLauncher.h"

namespace quillon {
namespace {

using test::DiskPath;
using test::FakeLauncherSystem;
using test::ModemDiskPath;
using test::StopLoop;

const std::string kManager = "C:\\Program Files\\HSPA modem\\Manager.exe";

class PassLogic : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(launcher.Start()); }

    void RunPasses(int count) {
        for (int i = 0; i < count; ++i) launcher.RunPass();
    }
    size_t Launches() const { return system.started.size(); }

    FakeLauncherSystem system;
    CModemLauncher launcher{system};
};

TEST_F(PassLogic, StorageModeIsSwitchedEverySecondUntilThePortAppears) {
    system.diskInterfaces = {DiskPath(ModemDiskPath())};
    RunPasses(3);
    EXPECT_EQ(3, system.modeSwitchesSent);
    EXPECT_EQ((std::vector<uint32_t>{1000, 1000, 1000}), system.pauses);
    EXPECT_EQ(0u, Launches());

    // The modem has switched: its disk is gone and its port is listed.
    system.diskInterfaces.clear();
    system.PlugModem();
    const uint64_t found = system.nowMs;
    launcher.RunPass();
    ASSERT_EQ(1u, Launches());
    EXPECT_EQ(kManager, system.started[0].first);
    EXPECT_EQ(found + 10000, system.started[0].second);  // 10 s after the pass that found the port
    EXPECT_EQ(3, system.diskListsMade);                  // the launching pass makes no switch attempt
    EXPECT_TRUE(launcher.Launched());

    // Served: later passes look for the disk again but start nothing.
    RunPasses(5);
    EXPECT_EQ(1u, Launches());
    EXPECT_EQ(8, system.diskListsMade);
    EXPECT_EQ(3, system.modeSwitchesSent);
}

TEST_F(PassLogic, NoLaunchWhileTheManagerWindowExists) {
    system.managerWindow = true;  // the manager was started by hand
    system.PlugModem();
    RunPasses(20);
    EXPECT_EQ(0u, Launches());
    EXPECT_FALSE(launcher.Launched());
    EXPECT_EQ(20, system.diskListsMade);  // each pass makes a switch attempt instead
    EXPECT_EQ(std::vector<uint32_t>(20, 1000), system.pauses);

    // The manager was closed: the port is still unserved, so it is started.
    system.managerWindow = false;
    launcher.RunPass();
    EXPECT_EQ(1u, Launches());
}

TEST_F(PassLogic, UnplugAndReplugLaunchesOnceMore) {
    system.PlugModem();
    launcher.RunPass();
    system.managerWindow = true;
    RunPasses(3);
    ASSERT_EQ(1u, Launches());

    // Unplugged while the manager runs: the first pass without the port clears
    // the flag, but the open manager window still holds back a launch.
    system.UnplugModem();
    launcher.RunPass();
    EXPECT_FALSE(launcher.Launched());
    system.PlugModem();
    RunPasses(3);
    EXPECT_EQ(1u, Launches());

    // The user closes the manager: the replugged modem gets it started again,
    // once.
    system.managerWindow = false;
    RunPasses(4);
    EXPECT_EQ(2u, Launches());

    // A plain unplug and replug with no manager window: once more.
    system.UnplugModem();
    RunPasses(2);
    system.PlugModem();
    RunPasses(4);
    EXPECT_EQ(3u, Launches());
}

TEST(PassLogicStart, MissingInstallPathKeyStartsNothingButCountsAsLaunched) {
    FakeLauncherSystem system;
    system.installPath = InstallPathResult{InstallPathStatus::KeyMissing, ""};
    CModemLauncher launcher(system);
    ASSERT_TRUE(launcher.Start());
    EXPECT_EQ("", launcher.InstallPath());

    system.PlugModem();
    launcher.RunPass();
    EXPECT_TRUE(system.started.empty());
    EXPECT_TRUE(launcher.Launched());
    EXPECT_EQ((std::vector<uint32_t>{10000, 1000}), system.pauses);
}

TEST(PassLogicStart, UnreadableInstallPathEndsTheProgramWithZero) {
    FakeLauncherSystem system;
    system.installPath = InstallPathResult{InstallPathStatus::ValueUnreadable, ""};
    system.PlugModem();
    EXPECT_EQ(0, RunLauncher(system));
    // It ends at once: no pass ran.
    EXPECT_EQ(0, system.windowSearches);
    EXPECT_TRUE(system.pauses.empty());
    EXPECT_TRUE(system.started.empty());
}

TEST(PassLogicStart, ProgramRunsPassAfterPassUntilKilled) {
    FakeLauncherSystem system;
    system.PlugModem();
    system.pausesBeforeStop = 12;
    EXPECT_THROW(RunLauncher(system), StopLoop);
    // The launching pass pauses twice (10 s, 1 s), the ten passes after it
    // once each; the twelfth pass is cut short at its pause.
    EXPECT_EQ(12, system.windowSearches);
    ASSERT_EQ(1u, system.started.size());
    EXPECT_EQ("C:\\Program Files\\HSPA modem\\Manager.exe", system.started[0].first);
    EXPECT_EQ(12u, system.pauses.size());
}

}  // namespace
}  // namespace quillon
