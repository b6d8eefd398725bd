// Eight devices at once, each driven by its own host thread through a whole
// switch from DIAG into download mode, with vanish and return.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <atomic>
#include <set>
#include <thread>

#include "TestBytes.h"
#include "simulator/HostPort.h"
#include "simulator/SimulatorFixture.h"

namespace fennix::sim {
namespace {

using namespace std::chrono_literals;
using test::Bytes;
using test::Hex;

// What the host does on one device; returns an empty text or what went wrong.
std::string DriveOneDevice(CVirtualDevice& dev, int index) {
    CHostPort port;
    if (port.Open(dev.Path()) != 0) return "open";
    for (int round = 0; round < 20; ++round) {
        Bytes id = port.Exchange(Hex("7C"), false);
        if (id.size() < 17 || id[0] != 0x7C) return "build id";
        std::string platform(id.begin() + 12, id.begin() + 17);
        if (platform != "DEV0" + std::to_string(index)) return "platform " + platform;
    }
    if (port.Exchange(Hex("29 01 00"), false) != Hex("29 01 00")) return "offline";
    if (port.Write(Hex("3A A1 6E 7E")) != 0) return "switch";
    if (!dev.WaitForPresent(false, 3000ms) || !dev.WaitForPresent(true, 3000ms)) return "vanish";
    CHostPort again;
    if (again.Open(dev.Path()) != 0) return "reopen";
    for (int i = 0; i < 20; ++i)
        if (again.Exchange(Hex("06"), true) != Hex("02")) return "nop";
    return "";
}

TEST(SimConcurrency, EightDevicesOnEightThreadsStayApart) {
    std::vector<std::unique_ptr<CScopedDevice>> devices;
    for (int i = 0; i < 8; ++i) {
        DeviceOptions o = DiagDevice("DEV0" + std::to_string(i));
        o.buildIdTail = "";
        devices.push_back(std::make_unique<CScopedDevice>(o));
        ASSERT_TRUE(devices.back()->Ok()) << devices.back()->Error();
    }
    std::set<std::string> paths;
    for (auto& d : devices) paths.insert(d->Path());
    EXPECT_EQ(8u, paths.size());

    std::vector<std::string> results(8);
    std::vector<std::thread> hosts;
    for (int i = 0; i < 8; ++i) hosts.emplace_back([&, i] { results[i] = DriveOneDevice(devices[i]->Device(), i); });
    for (auto& t : hosts) t.join();

    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ("", results[i]) << "device " << i << "\n" << (*devices[i])->Recording().Dump();
        CVirtualDevice& dev = devices[i]->Device();
        EXPECT_EQ(DeviceMode::Download, dev.Mode());
        EXPECT_EQ(20u, dev.Recording().CountRequests(DeviceMode::Diag, 0x7C));
        EXPECT_EQ(20u, dev.Recording().CountRequests(DeviceMode::Download, 0x06));
    }
}

TEST(SimConcurrency, StopWhileTheHostKeepsWritingEndsCleanly) {
    // The host floods the device and never reads; stopping must not hang on
    // the full port buffer.
    auto dev = std::make_unique<CScopedDevice>(DiagDevice());
    ASSERT_TRUE(dev->Ok());
    CHostPort port;
    ASSERT_EQ(0, port.Open(dev->Path()));
    std::atomic<bool> stop{false};
    std::thread host([&] {
        Bytes burst;
        for (int i = 0; i < 64; ++i) burst.insert(burst.end(), {0x7C, 0x93, 0x49, 0x7E});
        while (!stop && port.Write(burst) == 0) {
        }
    });
    ASSERT_TRUE((*dev)->Recording().WaitForRequests(DeviceMode::Diag, 0x7C, 2000, 10000ms));
    std::string path = dev->Path();
    (*dev)->Stop();
    EXPECT_FALSE((*dev)->Running());
    stop = true;
    host.join();
    EXPECT_TRUE((*dev)->Path().empty());
    struct stat st {};
    EXPECT_NE(0, lstat(path.c_str(), &st)) << "the stable path is removed";
}

}  // namespace
}  // namespace fennix::sim
