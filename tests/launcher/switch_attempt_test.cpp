#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "FakeLauncherSystem.h"
#include "ModemLauncher.h"

namespace quillon {
namespace {

using test::DiskPath;
using test::DiskStep;
using test::FakeLauncherSystem;
using test::kNoMoreItems;
using test::ModemDiskPath;
using Kind = DiskInterfaceStep::Kind;

const std::string kNoDiskLine = "SetupDiEnumDeviceInterfaces failed: error text 259\r\n";

// A device path of exactly `length` characters that contains the modem's mark.
std::string ModemDiskPathOfLength(size_t length) {
    std::string path = "\\\\?\\usbstor#disk&ven_k7m&prod_mmc_storage&rev_2.31#";
    path.append(length - path.size(), 'x');
    return path;
}

class SwitchAttempt : public ::testing::Test {
protected:
    FakeLauncherSystem system;
    CModemLauncher launcher{system};
};

TEST_F(SwitchAttempt, OpensTheModemDiskSendsTheRequestAndReleasesTheDisk) {
    system.diskInterfaces = {
        DiskPath("\\\\?\\ide#diskst3500418as#5&2a0f1d&0&0.0.0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}"),
        DiskPath(ModemDiskPath())};
    for (int pass = 0; pass < 5; ++pass) launcher.MakeSwitchAttempt();

    EXPECT_EQ(std::vector<std::string>(5, ModemDiskPath()), system.openedDisks);
    EXPECT_EQ(5, system.modeSwitchesSent);
    // Every attempt gives its disk handle and its interface list back.
    EXPECT_EQ(0, system.openDiskHandles);
    EXPECT_EQ(0, system.liveDiskLists);
    EXPECT_EQ(std::vector<std::string>(5, "Opened the device successfully.\n"), system.output);
}

TEST_F(SwitchAttempt, TakesTheFirstMatchingPathInTheListsOrder) {
    const std::string second = ModemDiskPath() + "-second";
    system.diskInterfaces = {DiskPath("\\\\?\\USBSTOR#DISK&VEN_K7M&PROD_MMC_STORAGE#1"),  // case differs
                             DiskPath(ModemDiskPath()), DiskPath(second)};
    launcher.MakeSwitchAttempt();
    EXPECT_EQ(std::vector<std::string>{ModemDiskPath()}, system.openedDisks);
}

TEST_F(SwitchAttempt, PathsOf256CharactersOrMoreAreNeverTaken) {
    system.diskInterfaces = {DiskPath(ModemDiskPathOfLength(256)), DiskPath(ModemDiskPathOfLength(1000))};
    launcher.MakeSwitchAttempt();
    EXPECT_TRUE(system.openedDisks.empty());
    EXPECT_EQ(0, system.modeSwitchesSent);
    EXPECT_EQ(std::vector<std::string>{kNoDiskLine}, system.output);

    // The longest path that fits with its terminator is taken.
    system.output.clear();
    system.diskInterfaces.push_back(DiskPath(ModemDiskPathOfLength(255)));
    launcher.MakeSwitchAttempt();
    EXPECT_EQ(std::vector<std::string>{ModemDiskPathOfLength(255)}, system.openedDisks);
    EXPECT_EQ(std::vector<std::string>{"Opened the device successfully.\n"}, system.output);
}

TEST_F(SwitchAttempt, NoMatchingDiskReportsTheListsEndWithThePlatformText) {
    system.diskInterfaces = {DiskPath("\\\\?\\scsi#disk&ven_vbox&prod_harddisk#4&2617aeae&0&000000#")};
    launcher.MakeSwitchAttempt();
    EXPECT_EQ(std::vector<std::string>{kNoDiskLine}, system.output);

    // An enumeration that fails for another reason reports that reason.
    system.output.clear();
    system.diskListEndError = 1784;
    launcher.MakeSwitchAttempt();
    EXPECT_EQ(std::vector<std::string>{"SetupDiEnumDeviceInterfaces failed: error text 1784\r\n"}, system.output);
    EXPECT_TRUE(system.openedDisks.empty());
}

TEST_F(SwitchAttempt, RefusedListIsReportedAndNothingIsOpened) {
    system.diskListRefused = true;
    system.diskInterfaces = {DiskPath(ModemDiskPath())};
    launcher.MakeSwitchAttempt();
    EXPECT_EQ(std::vector<std::string>{"SetupDiGetClassDevs failed!\n"}, system.output);
    EXPECT_TRUE(system.openedDisks.empty());
}

TEST_F(SwitchAttempt, AnInterfaceWithoutDetailsIsReportedAndSkipped) {
    system.diskInterfaces = {DiskStep(Kind::OutOfMemory), DiskStep(Kind::DetailFailed, 13), DiskPath(ModemDiskPath())};
    launcher.MakeSwitchAttempt();
    EXPECT_EQ((std::vector<std::string>{"Failed to allocate memory.\n",
                                        "Error in SetupDiGetDeviceInterfaceDetail: error text 13\r\n\n",
                                        "Opened the device successfully.\n"}),
              system.output);
    EXPECT_EQ(1, system.modeSwitchesSent);
}

TEST_F(SwitchAttempt, DiskThatCannotBeOpenedGetsNoRequest) {
    system.diskInterfaces = {DiskPath(ModemDiskPath())};
    system.openError = 5;
    launcher.MakeSwitchAttempt();
    EXPECT_EQ(std::vector<std::string>{"Failed to open the device, error - 5"}, system.output);
    EXPECT_EQ(0, system.modeSwitchesSent);

    // Error numbers print as signed decimals.
    system.output.clear();
    system.openError = 0x80070005;
    launcher.MakeSwitchAttempt();
    EXPECT_EQ(std::vector<std::string>{"Failed to open the device, error - -2147024891"}, system.output);
}

TEST(ModemDiskPath, NeedsTheMarkAndFitsIn256Characters) {
    EXPECT_TRUE(IsModemDiskPath("usbstor#disk&ven_k7m&prod_mmc_storage"));
    EXPECT_TRUE(IsModemDiskPath(ModemDiskPath()));
    EXPECT_FALSE(IsModemDiskPath("usbstor#disk&ven_k7m&prod_mmc_storag"));
    EXPECT_FALSE(IsModemDiskPath("usbstor#disk&ven_k7n&prod_mmc_storage"));
    EXPECT_TRUE(IsModemDiskPath(ModemDiskPathOfLength(255)));
    EXPECT_FALSE(IsModemDiskPath(ModemDiskPathOfLength(256)));
}

}  // namespace
}  // namespace quillon
