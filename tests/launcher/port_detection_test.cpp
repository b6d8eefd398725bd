#include <gtest/gtest.h>

#include "FakeLauncherSystem.h"
#include "ModemLauncher.h"

namespace quillon {
namespace {

using test::FakeLauncherSystem;

class PortDetection : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(launcher.Start()); }

    FakeLauncherSystem system;
    CModemLauncher launcher{system};
};

TEST_F(PortDetection, DriverEntryWithTheModemsPortNameIsPresent) {
    system.PlugModem("COM7");
    EXPECT_TRUE(launcher.IsPortPresent());
    system.UnplugModem();
    EXPECT_FALSE(launcher.IsPortPresent());
}

TEST_F(PortDetection, ForeignEntryOfTheSameDriverDoesNotCount) {
    // Another handset on the Qualcomm driver has COM9; the modem's interface 2
    // was given COM7 at an earlier plug-in but is not there now.
    system.modemPortNames = {"COM7"};
    system.serialMap = {SerialMapEntry{"\\Device\\QCUSB_COM9_1", "COM9"}};
    EXPECT_FALSE(launcher.IsPortPresent());

    // No modem instance at all: no port of the driver counts.
    system.modemPortNames.clear();
    EXPECT_FALSE(launcher.IsPortPresent());
}

TEST_F(PortDetection, ModemsPortNameUnderAnotherDriverDoesNotCount) {
    system.modemPortNames = {"COM7"};
    system.serialMap = {SerialMapEntry{"\\Device\\Serial0", "COM7"},
                        SerialMapEntry{"\\Device\\ProlificSerial0", "COM7"}};
    EXPECT_FALSE(launcher.IsPortPresent());
}

TEST_F(PortDetection, NamesAndPortsCompareCaseSensitively) {
    system.modemPortNames = {"COM7"};
    system.serialMap = {SerialMapEntry{"\\device\\qcusb_COM7_1", "COM7"}};
    EXPECT_FALSE(launcher.IsPortPresent());
    system.serialMap = {SerialMapEntry{"\\Device\\QCUSB_COM7_1", "com7"}};
    EXPECT_FALSE(launcher.IsPortPresent());
    system.serialMap = {SerialMapEntry{"\\Device\\QCUSB_COM7_1", "COM70"}};
    EXPECT_FALSE(launcher.IsPortPresent());
}

TEST_F(PortDetection, FindsTheModemAmongOtherValuesAndInstances) {
    // Unreadable values and foreign ports before the modem's are skipped; the
    // modem's key may hold instances from earlier plug-ins in other sockets.
    system.modemPortNames = {"COM3", "COM12"};
    system.serialMap = {std::nullopt, SerialMapEntry{"\\Device\\Serial0", "COM1"},
                        SerialMapEntry{"\\Device\\QCUSB_COM11_0", "COM11"},
                        SerialMapEntry{"\\Device\\QCUSB_COM12_2", "COM12"}};
    EXPECT_TRUE(launcher.IsPortPresent());
}

TEST(PortDetectionStart, MissingSerialMapIsOpenedInALaterPass) {
    FakeLauncherSystem system;
    system.serialMapExists = false;
    system.PlugModem();
    CModemLauncher launcher(system);
    ASSERT_TRUE(launcher.Start());
    EXPECT_FALSE(launcher.SerialMapOpened());

    EXPECT_FALSE(launcher.IsPortPresent());
    EXPECT_FALSE(launcher.IsPortPresent());
    EXPECT_EQ(3, system.serialMapOpenAttempts);  // at start and in each pass since

    system.serialMapExists = true;
    EXPECT_FALSE(launcher.IsPortPresent());  // the pass that opens the key answers absent
    EXPECT_TRUE(launcher.SerialMapOpened());
    EXPECT_TRUE(launcher.IsPortPresent());
    EXPECT_EQ(4, system.serialMapOpenAttempts);
}

}  // namespace
}  // namespace quillon
