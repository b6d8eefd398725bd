// Devices plugged into one socket one after another: each appears at the same
// link on a fresh pty, leaves when unplugged or when the host is done with it,
// and keeps the socket through its own resets.
#include <gtest/gtest.h>

#include <unistd.h>

#include "DeviceTest.h"
#include "simulator/DeviceRow.h"
#include "simulator/FaultInjection.h"
#include "simulator/HostPort.h"
#include "simulator/SimulatorFixture.h"

namespace fennix::sim {
namespace {

using namespace std::chrono_literals;
using test::Bytes;
using test::Hex;
using test::PathExists;
using test::ReadNvItem;

TEST(DeviceRow, DevicesTakeTheSocketInTurn) {
    std::string dir = std::string(::testing::TempDir()) + "device-row-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(dir.data()));
    DeviceRowOptions row;
    row.directory = dir;
    row.name = "socket1";
    row.appearAfterMs = 500;
    row.gapMs = 300;
    row.leaveAfterIdleMs = 300;
    row.devices = {DiagDevice(), DiagDevice(), DiagDevice()};
    row.devices[1].identityPlace = 1;
    row.devices[2].identityPlace = 2;
    // The second is pulled out at its second NV read.
    FaultPoint unplug;
    unplug.fault = InjectedFault::Vanish;
    unplug.mode = static_cast<int>(DeviceMode::Diag);
    unplug.command = 0x26;
    unplug.nth = 2;
    ASSERT_TRUE(SetFaultPoint(row.devices[1], unplug).Ok());
    // The third waits long for its host: the reopen after its reset is no hurry.
    row.devices[2].leaveAfterIdleMs = 60000;

    CDeviceRow socket(row);
    ASSERT_EQ(0, socket.Start());
    const std::string path = dir + "/socket1";
    EXPECT_EQ(path, socket.Path());
    EXPECT_FALSE(PathExists(path));
    EXPECT_EQ(0u, socket.Served());
    EXPECT_EQ(nullptr, socket.Current());

    // The first is served, and taken out once the host has closed its port.
    ASSERT_TRUE(socket.WaitForServed(1, 5000ms));
    EXPECT_EQ(&socket.Device(0), socket.Current());
    Bytes firstImei;
    {
        CHostPort port;
        ASSERT_EQ(0, port.Open(path));
        firstImei = ReadNvItem(port, 550);
        ASSERT_FALSE(firstImei.empty());
    }
    ASSERT_TRUE(socket.WaitForLeft(0, 5000ms));
    EXPECT_EQ(1u, socket.Device(0).Recording().CountRequests(DeviceMode::Diag, 0x26));

    // The second is another device, unplugged while the host holds its port.
    ASSERT_TRUE(socket.WaitForServed(2, 5000ms));
    CHostPort second;
    ASSERT_EQ(0, second.Open(path));
    Bytes secondImei = ReadNvItem(second, 550);
    ASSERT_FALSE(secondImei.empty());
    EXPECT_NE(firstImei, secondImei);
    EXPECT_TRUE(ReadNvItem(second, 550).empty());
    ASSERT_TRUE(socket.WaitForLeft(1, 5000ms));
    EXPECT_FALSE(socket.Device(1).Present());

    // The third's reset takes it off the bus and back at the same link: it
    // stays the device in the socket.
    ASSERT_TRUE(socket.WaitForServed(3, 5000ms));
    CVirtualDevice& third = socket.Device(2);
    {
        CHostPort port;
        ASSERT_EQ(0, port.Open(path));
        ASSERT_EQ(Hex("29 02 00"), port.Exchange(Hex("29 02 00"), false));
    }
    ASSERT_TRUE(third.WaitForState([](const DeviceState& s) { return s.present && s.bootCount == 1; }, 5000ms));
    EXPECT_EQ(&third, socket.Current());
    EXPECT_FALSE(socket.Left(2));
    EXPECT_EQ(3u, socket.Served());
    char target[256] = {};
    ASSERT_GT(readlink(path.c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(third.SlavePath(), target);
    {
        CHostPort port;
        ASSERT_EQ(0, port.Open(path));
        EXPECT_EQ(60u, port.Exchange({0x0C}, false).size());
    }

    socket.Stop();
    EXPECT_FALSE(PathExists(path));
    EXPECT_FALSE(socket.Left(2));
    rmdir(dir.c_str());
}

}  // namespace
}  // namespace fennix::sim
