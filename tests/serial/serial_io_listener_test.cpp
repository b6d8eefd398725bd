// The listener thread against a scripted device: detection, baud-rate cycling,
// data passes, hang-ups, writes and closing.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <set>
#include <thread>
#include <vector>

#include "serial/SerialIO.h"
#include "serial_io_channel.h"
#include "serial_io_device.h"

namespace fennix {
namespace {

using testsupport::Bytes;
using testsupport::Eventually;
using testsupport::PtyDevice;
using testsupport::RecordingChannel;

const Bytes kDsAnswer = {0x61, 0x74, 0x0D, 0x0D, 0x0A, 0x4F, 0x4B, 0x0D, 0x0A, 0x1C, 0xD5, 0x7E};
const Bytes kDiagAnswer = {0x14, 0x61, 0x74, 0x0D, 0x1C, 0xD5, 0x7D, 0x5E, 0x7E};
const Bytes kDlAnswer = {0x7E, 0x02, 0x6A, 0xD3, 0x7E};

class SerialIOListener : public ::testing::Test {
protected:
    void SetUp() override {
        if (!PtyDevice::Available()) GTEST_SKIP() << "needs a pseudo-terminal";
        ASSERT_TRUE(device_.ok());
    }

    // Opens the channel and waits for the listener to leave detection.
    void OpenAndDetect(const Bytes& answer, uint32_t mode) {
        device_.AnswerProbeWith(answer);
        ASSERT_EQ(ChannelResult::Ok, channel_.Open(device_.path().c_str(), 115200));
        ASSERT_TRUE(Eventually([&] { return channel_.GetPhoneMode() == mode; }, 5000))
            << "mode " << channel_.GetPhoneMode();
    }

    PtyDevice device_;
    RecordingChannel channel_;
};

TEST_F(SerialIOListener, ProbeAnswersSetTheModeAndNotify) {
    OpenAndDetect(kDlAnswer, kPhoneModeDL);
    EXPECT_TRUE(Eventually([&] { return channel_.Events().size() >= 2; }, 1000));
    EXPECT_EQ((std::vector<uint32_t>{kNotifyStart, kNotifyDL}), channel_.Events());
    // The probe went out as its ten bytes.
    Bytes received = device_.Received();
    ASSERT_GE(received.size(), 10u);
    EXPECT_EQ(Bytes(CSerialIO::kProbe, CSerialIO::kProbe + 10), Bytes(received.begin(), received.begin() + 10));
    // The answer itself is not kept.
    EXPECT_EQ(0u, channel_.UnreadBytes());
}

TEST_F(SerialIOListener, AtAndDiagAnswersAreRecognised) {
    OpenAndDetect(kDsAnswer, kPhoneModeAt);
    EXPECT_TRUE(Eventually([&] { return channel_.Count(kNotifyDS) == 1; }, 1000));
    ASSERT_EQ(ChannelResult::Ok, channel_.Close());

    // Back to detection on a restart; this device now speaks DIAG.
    device_.AnswerProbeWith(kDiagAnswer);
    ASSERT_EQ(ChannelResult::Ok, channel_.StartListener());
    EXPECT_TRUE(Eventually([&] { return channel_.GetPhoneMode() == kPhoneModeDIAG; }, 5000));
    EXPECT_TRUE(Eventually([&] { return channel_.Count(kNotifyDIAG) == 1; }, 1000));
}

TEST_F(SerialIOListener, DetectionAtTheRealTimings) {
    RecordingChannel channel(Timeouts::WithScale(1.0));
    device_.AnswerProbeWith({0x13, 0x61, 0x74, 0x0D, 0x62, 0x09, 0x7E, 0x13, 0x06, 0x88, 0xD5, 0x7E});
    ASSERT_EQ(ChannelResult::Ok, channel.Open(device_.path().c_str(), 115200));
    EXPECT_TRUE(Eventually([&] { return channel.GetPhoneMode() == kPhoneModeDIAG; }, 10000));
    EXPECT_EQ(115200u, channel.CurrentBaudRate());
    EXPECT_EQ(ChannelResult::Ok, channel.Close());
    EXPECT_EQ((std::vector<uint32_t>{kNotifyStart, kNotifyDIAG, kNotifyStop}), channel.Events());
}

TEST_F(SerialIOListener, BytesInAModeAreAppendedAndNotified) {
    OpenAndDetect(kDlAnswer, kPhoneModeDL);
    const Bytes data = {0x7E, 0x08, 0x01, 0x02, 0x7E};
    device_.Send(data);
    ASSERT_TRUE(Eventually([&] { return channel_.UnreadBytes() == data.size(); }, 2000));
    EXPECT_TRUE(Eventually([&] { return channel_.Count(kNotifyRead) >= 1; }, 1000));
    Bytes out(64);
    uint32_t got = 0;
    ASSERT_EQ(ChannelResult::Ok, channel_.Read(out.data(), 64, &got));
    out.resize(got);
    EXPECT_EQ(data, out);
}

TEST_F(SerialIOListener, SuppressedNotificationsStillAppend) {
    OpenAndDetect(kDlAnswer, kPhoneModeDL);
    channel_.SetNotificationsSuppressed(true);
    device_.Send({1, 2, 3});
    ASSERT_TRUE(Eventually([&] { return channel_.UnreadBytes() == 3; }, 2000));
    EXPECT_EQ(0u, channel_.Count(kNotifyRead));
    channel_.SetNotificationsSuppressed(false);
    device_.Send({4});
    EXPECT_TRUE(Eventually([&] { return channel_.Count(kNotifyRead) == 1; }, 2000));
}

TEST_F(SerialIOListener, SilentDeviceCyclesTheBaudRatesOnEveryReopen) {
    device_.AnswerProbeWith({});
    ASSERT_EQ(ChannelResult::Ok, channel_.Open(device_.path().c_str(), 115200));
    // Watch the rate the terminal is actually set to.
    std::vector<uint32_t> rates;
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (rates.size() < 5 && std::chrono::steady_clock::now() < end) {
        uint32_t rate = device_.Baud();
        if (rate > 1 && (rates.empty() || rates.back() != rate)) rates.push_back(rate);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_EQ(5u, rates.size());
    // The terminal starts at whatever it had; from the first reopen on the
    // rates follow the table round.
    size_t at = rates[0] == 115200 ? 0 : 1;
    EXPECT_EQ(115200u, rates[at]);
    EXPECT_EQ(230400u, rates[at + 1]);
    EXPECT_EQ(460800u, rates[at + 2]);
    EXPECT_EQ(115200u, rates[at + 3]);
    EXPECT_EQ(kPhoneModeUnknown, channel_.GetPhoneMode());
    // The rate is set at once; a probe is seen when the device's thread has
    // read it, which on a loaded machine may be a few reopens later.
    EXPECT_TRUE(Eventually([&] { return device_.ProbesReceived() >= 3; }, 5000)) << device_.ProbesReceived();
    EXPECT_EQ((std::vector<uint32_t>{kNotifyStart}), channel_.Events());
}

TEST_F(SerialIOListener, NearMissIsNotAtModeAndKeepsThePortOpen) {
    // The AT answer without its last byte: 11 bytes.
    Bytes nearMiss(kDsAnswer.begin(), kDsAnswer.end() - 1);
    device_.AnswerProbeWith(nearMiss);
    ASSERT_EQ(ChannelResult::Ok, channel_.Open(device_.path().c_str(), 115200));
    ASSERT_TRUE(Eventually([&] { return device_.ProbesReceived() >= 4; }, 5000));
    EXPECT_EQ(kPhoneModeUnknown, channel_.GetPhoneMode());
    // Answers read in detection are never appended.
    EXPECT_EQ(0u, channel_.UnreadBytes());
    EXPECT_EQ((std::vector<uint32_t>{kNotifyStart}), channel_.Events());
    // After the unrecognised answer the port stays open: no further reopen
    // moves the baud rate on.
    uint32_t index = channel_.BaudRateIndex();
    size_t probes = device_.ProbesReceived();
    ASSERT_TRUE(Eventually([&] { return device_.ProbesReceived() >= probes + 3; }, 5000));
    EXPECT_EQ(index, channel_.BaudRateIndex());
    EXPECT_TRUE(channel_.IsPortOpen());
}

TEST_F(SerialIOListener, HangUpReturnsToDetection) {
    OpenAndDetect(kDlAnswer, kPhoneModeDL);
    device_.Hangup();
    EXPECT_TRUE(Eventually([&] { return channel_.Count(kNotifyStart) == 2; }, 5000));
    EXPECT_EQ(kPhoneModeUnknown, channel_.GetPhoneMode());
    // The path is gone, so reopening fails and the port stays closed.
    EXPECT_TRUE(Eventually([&] { return !channel_.IsPortOpen(); }, 2000));
    EXPECT_FALSE(channel_.IsPortRegistered());
}

TEST_F(SerialIOListener, BlockedWritesNeverReachThePort) {
    OpenAndDetect(kDlAnswer, kPhoneModeDL);
    size_t before = device_.Received().size();
    channel_.SetWritesBlocked(true);
    const Bytes request = {0x7E, 0x06, 0x4E, 0x95, 0x7E};
    uint32_t written = 9;
    EXPECT_EQ(ChannelResult::NothingDone, channel_.Write(request.data(), 5, &written));
    EXPECT_EQ(0u, written);
    EXPECT_EQ(0u, channel_.WritesInFlight());
    channel_.SetWritesBlocked(false);
    EXPECT_EQ(ChannelResult::Ok, channel_.Write(request.data(), 5, &written));
    EXPECT_EQ(5u, written);
    ASSERT_TRUE(device_.WaitForReceived([&](const Bytes& r) { return r.size() >= before + 5; }, 2000));
    Bytes received = device_.Received();
    // Only the unblocked write arrived.
    EXPECT_EQ(request, Bytes(received.begin() + static_cast<long>(before), received.end()));
}

TEST_F(SerialIOListener, WriteWithoutAPortGivesSix) {
    uint8_t byte = 0;
    uint32_t written = 3;
    EXPECT_EQ(ChannelResult::NoPort, channel_.Write(&byte, 1, &written));
    EXPECT_EQ(0u, written);
    EXPECT_EQ(ChannelResult::NoPort, channel_.LastResult());
}

TEST_F(SerialIOListener, SecondOpenChangesNothing) {
    OpenAndDetect(kDlAnswer, kPhoneModeDL);
    const std::string path = channel_.DevicePath();
    EXPECT_EQ(ChannelResult::AlreadyOpen, channel_.Open("COM3", 115200));
    EXPECT_EQ(path, channel_.DevicePath());
    EXPECT_EQ(kPhoneModeDL, channel_.GetPhoneMode());
    EXPECT_TRUE(channel_.IsListenerRunning());
}

TEST_F(SerialIOListener, CloseAfterTheListenerClosedThePortGivesZero) {
    OpenAndDetect(kDlAnswer, kPhoneModeDL);
    // The listener closes the port as it ends, so Close finds it closed.
    EXPECT_EQ(ChannelResult::Ok, channel_.Close());
    EXPECT_FALSE(channel_.IsPortOpen());
    EXPECT_FALSE(channel_.IsListenerRunning());
    EXPECT_EQ(kNotifyStop, channel_.Events().back());
    EXPECT_EQ(kPhoneModeUnknown, channel_.GetPhoneMode());
    // Nothing left to stop or close.
    EXPECT_EQ(ChannelResult::Ok, channel_.Close());
}

TEST_F(SerialIOListener, CloseOfAPortOpenedWithoutListenerClosesItItself) {
    ASSERT_EQ(ChannelResult::Ok, channel_.NamePort(device_.path().c_str()));
    ASSERT_EQ(ChannelResult::Ok, channel_.InternalOpen());
    EXPECT_EQ(ChannelResult::AlreadyOpen, channel_.InternalOpen());
    EXPECT_EQ(ChannelResult::Closed, channel_.Close());
    EXPECT_FALSE(channel_.IsPortOpen());
}

TEST_F(SerialIOListener, StopWakesAListenerWaitingOnALongRead) {
    // Reads that would wait 50 s: the stop must not wait for them.
    Timeouts slow = Timeouts::WithScale(1.0);
    slow.portReadTimeout = 50000;
    RecordingChannel channel(slow);
    device_.AnswerProbeWith(kDlAnswer);
    ASSERT_EQ(ChannelResult::Ok, channel.Open(device_.path().c_str(), 115200));
    ASSERT_TRUE(Eventually([&] { return channel.GetPhoneMode() == kPhoneModeDL; }, 5000));
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ChannelResult::Ok, channel.Close());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
    EXPECT_FALSE(channel.IsListenerRunning());
}

TEST_F(SerialIOListener, ListenerStopFreesAFrameHandOver) {
    // A derived layer whose notification waits for a frame to be taken, as
    // the packet layer's does; only the stop releases it.
    struct WaitingChannel : RecordingChannel {
        WaitingChannel() {
            then_ = [this](uint32_t code) {
                if (code != kNotifyRead) return;
                waiting = true;
                ReadEvent().Wait(platform::kWaitForever);
            };
        }
        ~WaitingChannel() { StopListener(platform::kWaitForever); }
        std::atomic<bool> waiting{false};
    } channel;
    device_.AnswerProbeWith(kDlAnswer);
    ASSERT_EQ(ChannelResult::Ok, channel.Open(device_.path().c_str(), 115200));
    ASSERT_TRUE(Eventually([&] { return channel.GetPhoneMode() == kPhoneModeDL; }, 5000));
    device_.Send({0x7E, 0x02, 0x6A, 0xD3, 0x7E});
    ASSERT_TRUE(Eventually([&] { return channel.waiting.load(); }, 5000));
    EXPECT_EQ(ChannelResult::Ok, channel.Close());
    EXPECT_FALSE(channel.IsListenerRunning());
    EXPECT_EQ(kNotifyStop, channel.Events().back());
}

#if !defined(_WIN32)
// A port another program holds: the result is the channel's own, and the
// system's number for the refusal stays beside it.
TEST_F(SerialIOListener, RefusedOpenKeepsTheSystemErrorBesideTheResult) {
    platform::SerialPort holder;
    ASSERT_TRUE(holder.Open(device_.path()).IsOk());
    EXPECT_EQ(ChannelResult::SystemError, channel_.OpenNow(device_.path().c_str(), 115200));
    EXPECT_EQ(ChannelResult::SystemError, channel_.LastResult());
    EXPECT_EQ(EBUSY, channel_.LastSystemError());
    EXPECT_EQ(platform::PortOpenFailure::InUse, channel_.LastOpenFailure());
    EXPECT_FALSE(channel_.IsListenerRunning());
}

// A terminal whose far end reads nothing: a write that finds no room runs
// into its time limit, and the channel reports that as its own number.
TEST(SerialIOWrite, TimedOutWriteGivesTheChannelsNumber) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(0, grantpt(master));
    ASSERT_EQ(0, unlockpt(master));
    RecordingChannel channel;
    ASSERT_EQ(ChannelResult::Ok, channel.NamePort(ptsname(master)));
    ASSERT_EQ(ChannelResult::Ok, channel.InternalOpen());
    const int filler = open(channel.DevicePath(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(filler, 0);
    const Bytes block(1024, 0);
    for (int refused = 0; refused < 5;) {
        // Full means refused several times in a row: the terminal moves
        // bytes on to the far end in the background.
        if (write(filler, block.data(), block.size()) > 0) {
            refused = 0;
        } else {
            ++refused;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    close(filler);
    const Bytes request(100, 0x55);
    uint32_t written = 0;
    EXPECT_EQ(ChannelResult::TimedOut, channel.InternalWrite(request.data(), 100, &written));
    EXPECT_EQ(ChannelResult::TimedOut, channel.LastResult());
    EXPECT_LT(written, 100u);
    channel.InternalClose();
    close(master);
}
#endif

}  // namespace
}  // namespace fennix
