// What the device sees of the host's port handling: opens and closes, a
// switch that waits for the host to close the port, and unsolicited DIAG
// traffic until the quieting requests.
#include <gtest/gtest.h>

#include <set>

#include "TestBytes.h"
#include "simulator/HostPort.h"
#include "simulator/SimulatorFixture.h"

namespace fennix::sim {
namespace {

using namespace std::chrono_literals;
using test::Bytes;
using test::Hex;
using test::ToHex;

TEST(SimHostPort, OpensAndClosesOfThePortAreCounted) {
    CScopedDevice dev(DiagDevice());
    ASSERT_TRUE(dev.Ok());
    EXPECT_EQ(0u, dev->Recording().Count(EventKind::HostOpened));
    // The host's detection passes: open, probe, close, again and again.
    for (int pass = 1; pass <= 3; ++pass) {
        CHostPort port;
        ASSERT_EQ(0, port.Open(dev.Path()));
        ASSERT_TRUE(dev->WaitForState([](const DeviceState& s) { return s.hostOpens == 1; }, 2000ms)) << pass;
        port.Close();
        ASSERT_TRUE(dev->WaitForState([](const DeviceState& s) { return s.hostOpens == 0; }, 2000ms)) << pass;
    }
    uint32_t total = 0;
    dev->WithState([&](DeviceState& s) { total = s.hostOpenTotal; });
    EXPECT_EQ(3u, total);
    EXPECT_EQ(3u, dev->Recording().Count(EventKind::HostOpened));
    EXPECT_EQ(3u, dev->Recording().Count(EventKind::HostClosed));
}

TEST(SimHostPort, DownloadSwitchCanWaitUntilTheHostClosesThePort) {
    DeviceOptions o = DiagDevice("Q6250");
    o.switchAfterHostCloses = true;
    CScopedDevice dev(o);
    ASSERT_TRUE(dev.Ok());
    CHostPort port;
    ASSERT_EQ(0, port.Open(dev.Path()));
    ASSERT_EQ(0, port.Write(Hex("3A A1 6E 7E")));
    ASSERT_TRUE(dev->Recording().WaitForRequests(DeviceMode::Diag, 0x3A, 1, 2000ms));
    // Still DIAG and still answering while the host keeps the port open.
    EXPECT_FALSE(dev->WaitForMode(DeviceMode::Download, 300ms));
    EXPECT_EQ(0x7C, port.Exchange(Hex("7C"), false).at(0));
    port.Close();
    ASSERT_TRUE(dev->WaitForMode(DeviceMode::Download, 2000ms));
    ASSERT_TRUE(dev->WaitForState([](const DeviceState& s) { return s.present && s.bootCount == 1; }, 2000ms));
    CHostPort again;
    ASSERT_EQ(0, again.Open(dev.Path()));
    EXPECT_EQ(Hex("02"), again.Exchange(Hex("06"), true));
}

TEST(SimHostPort, UnsolicitedTrafficFlowsUntilAllThreeKindsAreQuieted) {
    DeviceOptions o = DiagDevice();
    o.unsolicitedEveryMs = 20;
    CScopedDevice dev(o);
    ASSERT_TRUE(dev.Ok());
    // Nothing while the port is closed.
    EXPECT_FALSE(dev->Recording().WaitForCount(EventKind::Unsolicited, 1, 200ms));

    CHostPort port;
    ASSERT_EQ(0, port.Open(dev.Path()));
    ASSERT_TRUE(dev->Recording().WaitForCount(EventKind::Unsolicited, 6, 3000ms));
    Bytes traffic = port.ReadQuiet(60ms, 500ms);
    ASSERT_FALSE(traffic.empty());
    // Every piece is a good DIAG frame of one of the three kinds.
    std::set<uint8_t> kinds;
    for (const auto& e : dev->Recording().Events()) {
        if (e.kind != EventKind::Unsolicited) continue;
        Bytes packet = CHostPort::Unframe(e.bytes);
        ASSERT_FALSE(packet.empty()) << ToHex(e.bytes);
        kinds.insert(packet[0]);
    }
    EXPECT_EQ((std::set<uint8_t>{0x10, 0x60, 0x79}), kinds);

    for (const char* frame : {"1F FF 00 5E F6 7E", "60 00 12 6A 7E", "73 00 00 00 00 00 00 00 DA 81 7E"})
        ASSERT_EQ(0, port.Write(Hex(frame)));
    ASSERT_TRUE(dev->WaitForState([](const DeviceState& s) { return s.quietLogs; }, 2000ms));
    port.ReadQuiet(100ms, 1000ms);
    size_t before = dev->Recording().Count(EventKind::Unsolicited);
    // Quiet from now on: the host reads nothing more.
    EXPECT_TRUE(port.ReadQuiet(200ms, 300ms).empty());
    EXPECT_EQ(before, dev->Recording().Count(EventKind::Unsolicited));
}

}  // namespace
}  // namespace fennix::sim
