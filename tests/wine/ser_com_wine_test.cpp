// The packet layer and the mode switches of the Win32 build under Wine, against
// virtual devices that ser_com_wine_test.sh links in as COM ports. Each test
// names the device it needs through an environment variable and skips
// without it:
//   FENNIX_WINE_SWITCH_PORT    a DIAG device that re-enumerates on the switch
//   FENNIX_WINE_INPLACE_PORT   a DIAG device that switches in place (K7M)
//   FENNIX_WINE_AT_PORT        a device in AT command mode
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "serial/SerCOMLibrary.h"
#include "../serial/ser_com_peer.h"

namespace fennix {
namespace {

std::string PortFromEnvironment(const char* variable) {
    const char* value = std::getenv(variable);
    return value != nullptr ? value : "";
}

#define REQUIRE_PORT(name, variable)                        \
    const std::string name = PortFromEnvironment(variable); \
    if (name.empty()) GTEST_SKIP() << variable " names no port"

// A download-mode no-operation, acknowledged with 0x02.
void ExpectNopAcknowledged(CSerCOMLibrary& lib) {
    uint8_t nop = 0x06;
    uint8_t reply[16];
    std::fill(std::begin(reply), std::end(reply), 0xAA);
    ASSERT_EQ(1,
              lib.DLTxRx(&nop, 1, reply, sizeof reply, SerComTestPeer::Channel(lib).Times().replyWait).LengthOrCode());
    EXPECT_EQ(0x02, reply[0]);
    EXPECT_EQ(0, reply[1]);
}

TEST(SerComWine, DiagDeviceIsSwitchedToDownloadThroughAReopenedPort) {
    REQUIRE_PORT(port, "FENNIX_WINE_SWITCH_PORT");
    CSerCOMLibrary lib;
    ASSERT_EQ(PacketResult::Ok, lib.OpenComport("Target download", port.c_str()));
    ASSERT_EQ(PacketResult::Ok, lib.IsDLConnected())
        << "mode " << SerComTestPeer::Channel(lib).GetPhoneMode() << ", last error "
        << SerComTestPeer::Channel(lib).LastSystemError();
    EXPECT_EQ(kPhoneModeDL, SerComTestPeer::Channel(lib).GetPhoneMode());
    EXPECT_TRUE(SerComTestPeer::Channel(lib).ReopenOnDetection());
    ExpectNopAcknowledged(lib);
    lib.CloseCOMPort();
    EXPECT_FALSE(SerComTestPeer::Channel(lib).IsPortOpen());
}

TEST(SerComWine, GroupOneDeviceSwitchesOnTheOpenPort) {
    REQUIRE_PORT(port, "FENNIX_WINE_INPLACE_PORT");
    CSerCOMLibrary lib;
    ASSERT_EQ(PacketResult::Ok, lib.OpenComport("Target download", port.c_str()));
    ASSERT_EQ(PacketResult::Ok, lib.IsDLConnected())
        << "mode " << SerComTestPeer::Channel(lib).GetPhoneMode() << ", last error "
        << SerComTestPeer::Channel(lib).LastSystemError();
    EXPECT_FALSE(SerComTestPeer::Channel(lib).ReopenOnDetection());
    ExpectNopAcknowledged(lib);
}

// A port the system does not list fails the open at once. (A port held by
// another program cannot be shown here: Wine lets a second opener of a COM
// port in, where Windows refuses it with "access denied", read as in use.)
TEST(SerComWine, MissingPortFailsTheOpenAtOnce) {
    REQUIRE_PORT(port, "FENNIX_WINE_AT_PORT");
    CSerCOMLibrary missing;
    EXPECT_EQ(PacketResult::OpenFailed, missing.OpenComport("Target download", "COM29"));
    EXPECT_EQ(platform::PortOpenFailure::NoSuchPort, missing.OpenFailure());
    EXPECT_FALSE(SerComTestPeer::Channel(missing).IsListenerRunning());
}

TEST(SerComWine, AtDeviceIsMovedIntoDiagAndAnswersAStatusRequest) {
    REQUIRE_PORT(port, "FENNIX_WINE_AT_PORT");
    CSerCOMLibrary lib;
    ASSERT_EQ(PacketResult::Ok, lib.OpenComport("Target download", port.c_str()));
    ASSERT_EQ(PacketResult::Ok, lib.IsDIAGConnected())
        << "mode " << SerComTestPeer::Channel(lib).GetPhoneMode() << ", last error "
        << SerComTestPeer::Channel(lib).LastSystemError();
    uint8_t status = 0x0C;
    uint8_t reply[128] = {};
    ASSERT_GT(
        lib.DIAGTxRx(&status, 1, reply, sizeof reply, SerComTestPeer::Channel(lib).Times().replyWait).LengthOrCode(),
        33);
    EXPECT_EQ(0x0C, reply[0]);
    // Download mode was not asked for: the download entry refuses.
    uint8_t nop = 0x06;
    EXPECT_EQ(kPacketWrongMode, lib.DLTxRx(&nop, 1, reply, sizeof reply, 100).LengthOrCode());
}

}  // namespace
}  // namespace fennix
