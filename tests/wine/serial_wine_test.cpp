// The Win32 serial channel under Wine against virtual devices that
// serial_wine_test.sh links in as COM ports (tools/wine-com). Each test names
// the device it needs through an environment variable and skips without it:
//   FENNIX_WINE_DL_PORT, FENNIX_WINE_DIAG_PORT, FENNIX_WINE_AT_PORT   devices in
//       download, DIAG and AT mode, registered as Qualcomm ports
//   FENNIX_WINE_HIGH_PORT   a download-mode device on a port numbered 10 or more
//   FENNIX_WINE_UNLISTED_PORT   a linked port missing from SERIALCOMM
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "fennix/fennix.h"
#include "serial/SerialIO.h"
#include "serial/Timeouts.h"

namespace fennix {
namespace {

using Bytes = std::vector<uint8_t>;

std::string PortFromEnvironment(const char* variable) {
    const char* value = std::getenv(variable);
    return value != nullptr ? value : "";
}

#define REQUIRE_PORT(name, variable)                        \
    const std::string name = PortFromEnvironment(variable); \
    if (name.empty()) GTEST_SKIP() << variable " names no port"

template <class Condition>
bool Eventually(Condition condition, int ms) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// The notifications first, so that the channel can be given them.
class ChannelEvents : public IChannelListener {
public:
    void OnChannelEvent(uint32_t code) override {
        std::lock_guard<std::mutex> hold(lock_);
        events_.push_back(code);
    }
    std::vector<uint32_t> Events() {
        std::lock_guard<std::mutex> hold(lock_);
        return events_;
    }

private:
    std::mutex lock_;
    std::vector<uint32_t> events_;
};

class Channel : public ChannelEvents, public CSerialIO {
public:
    Channel() : CSerialIO(Timeouts::FromEnvironment(), this) {}
    ~Channel() { StopListener(platform::kWaitForever); }
};

constexpr int kDetectMs = 20000;

TEST(SerialWine, DownloadDeviceIsDetectedAndAnswersThroughOverlappedIo) {
    REQUIRE_PORT(port, "FENNIX_WINE_DL_PORT");
    Channel channel;
    ASSERT_EQ(ChannelResult::Ok, channel.Open(port.c_str(), 115200));
    ASSERT_TRUE(Eventually([&] { return channel.GetPhoneMode() == kPhoneModeDL; }, kDetectMs))
        << "mode " << channel.GetPhoneMode() << ", last error " << channel.LastSystemError();
    EXPECT_EQ((std::vector<uint32_t>{kNotifyStart, kNotifyDL}), channel.Events());
    // A NOP in download form, acknowledged by the device.
    const Bytes nop = {0x7E, 0x06, 0x4E, 0x95, 0x7E};
    uint32_t written = 0;
    ASSERT_EQ(ChannelResult::Ok, channel.Write(nop.data(), 5, &written));
    EXPECT_EQ(5u, written);
    ASSERT_TRUE(Eventually([&] { return channel.UnreadBytes() >= 5; }, 5000));
    Bytes reply(64);
    uint32_t got = 0;
    ASSERT_EQ(ChannelResult::Ok, channel.Read(reply.data(), 64, &got));
    reply.resize(got);
    EXPECT_EQ((Bytes{0x7E, 0x02, 0x6A, 0xD3, 0x7E}), reply);
    EXPECT_EQ(ChannelResult::Ok, channel.Close());
    EXPECT_EQ(kNotifyStop, channel.Events().back());
    // And again on the same channel.
    ASSERT_EQ(ChannelResult::Ok, channel.Open(port.c_str(), 115200));
    EXPECT_TRUE(Eventually([&] { return channel.GetPhoneMode() == kPhoneModeDL; }, kDetectMs));
}

TEST(SerialWine, DiagDeviceIsDetectedAndAnswersARawRequest) {
    REQUIRE_PORT(port, "FENNIX_WINE_DIAG_PORT");
    Channel channel;
    ASSERT_EQ(ChannelResult::Ok, channel.Open(port.c_str(), 115200));
    ASSERT_TRUE(Eventually([&] { return channel.GetPhoneMode() == kPhoneModeDIAG; }, kDetectMs))
        << "mode " << channel.GetPhoneMode() << ", last error " << channel.LastSystemError();
    // The build ID request as the mode switches send it.
    channel.SetNotificationsSuppressed(true);
    const Bytes buildId = {0x7C, 0x93, 0x49, 0x7E};
    uint32_t written = 0;
    ASSERT_EQ(ChannelResult::Ok, channel.InternalWrite(buildId.data(), 4, &written));
    EXPECT_EQ(4u, written);
    Bytes reply(100);
    uint32_t got = 0;
    ASSERT_EQ(ChannelResult::Ok, channel.WaitandReadBuffer(reply.data(), 100, &got));
    ASSERT_GT(got, 17u);
    EXPECT_EQ(0x7C, reply[0]);
    EXPECT_EQ(0x7E, reply[got - 1]);
}

TEST(SerialWine, AtDeviceIsDetected) {
    REQUIRE_PORT(port, "FENNIX_WINE_AT_PORT");
    Channel channel;
    ASSERT_EQ(ChannelResult::Ok, channel.Open(port.c_str(), 115200));
    EXPECT_TRUE(Eventually([&] { return channel.GetPhoneMode() == kPhoneModeAt; }, kDetectMs))
        << "mode " << channel.GetPhoneMode() << ", last error " << channel.LastSystemError();
}

TEST(SerialWine, PortsFromTenOnOpenThroughTheDevicePath) {
    REQUIRE_PORT(port, "FENNIX_WINE_HIGH_PORT");
    Channel channel;
    ASSERT_EQ(ChannelResult::Ok, channel.Open(port.c_str(), 115200));
    EXPECT_EQ("\\\\.\\" + port, channel.DevicePath());
    EXPECT_EQ(port, channel.PortName());
    EXPECT_TRUE(Eventually([&] { return channel.GetPhoneMode() == kPhoneModeDL; }, kDetectMs))
        << "mode " << channel.GetPhoneMode() << ", last error " << channel.LastSystemError();
}

TEST(SerialWine, APortMissingFromTheTableIsNeverOpened) {
    REQUIRE_PORT(port, "FENNIX_WINE_UNLISTED_PORT");
    Channel channel;
    ASSERT_EQ(ChannelResult::Ok, channel.Open(port.c_str(), 115200));
    EXPECT_FALSE(channel.IsPortRegistered());
    std::this_thread::sleep_for(std::chrono::milliseconds(channel.Times().unregisteredPortPause * 3));
    EXPECT_FALSE(channel.IsPortOpen());
    EXPECT_EQ(kPhoneModeUnknown, channel.GetPhoneMode());
    EXPECT_EQ(ChannelResult::Ok, channel.Close());
}

TEST(SerialWine, PortListHoldsTheQualcommPortsOnly) {
    REQUIRE_PORT(dl, "FENNIX_WINE_DL_PORT");
    std::vector<char> buffer(256, 'x');
    ASSERT_EQ(0, GetComportList(buffer.data()));
    std::string list = ";" + std::string(buffer.data()) + ";";
    for (const char* variable :
         {"FENNIX_WINE_DL_PORT", "FENNIX_WINE_DIAG_PORT", "FENNIX_WINE_AT_PORT", "FENNIX_WINE_HIGH_PORT"}) {
        std::string port = PortFromEnvironment(variable);
        if (!port.empty()) {
            EXPECT_NE(std::string::npos, list.find(";" + port + ";")) << list;
        }
    }
    std::string unlisted = PortFromEnvironment("FENNIX_WINE_UNLISTED_PORT");
    if (!unlisted.empty()) {
        EXPECT_EQ(std::string::npos, list.find(";" + unlisted + ";")) << list;
    }
}

}  // namespace
}  // namespace fennix
