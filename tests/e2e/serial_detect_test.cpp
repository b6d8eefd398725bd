// Waiting for the device's mode end to end: devices already in the wanted mode
// or in the wrong one, devices that never answer the probe, and closing a
// port the listener had to give up.
#include <gtest/gtest.h>

#include <chrono>

#include "serial_e2e_fixture.h"
#include "simulator/FaultInjection.h"

namespace fennix {
namespace {

using sim::DeviceMode;
using Clock = std::chrono::steady_clock;
using testsupport::CountPortLines;

class SerialDetect : public testsupport::SerialE2ETest {};

TEST_F(SerialDetect, DiagDeviceIsTakenAsItIs) {
    Start(sim::DiagDevice());
    ASSERT_EQ(PacketResult::Ok, Lib().IsDIAGConnected());
    EXPECT_EQ(kPhoneModeDIAG, Channel().GetPhoneMode());
    EXPECT_TRUE(testsupport::SerialE2ETest::SwitchCommands().empty()) << "nothing but the probe was sent";
}

TEST_F(SerialDetect, DownloadDeviceSatisfiesDownloadAndRefusesDiag) {
    StartWith(1);
    Start(sim::DownloadDevice());
    ASSERT_EQ(PacketResult::Ok, Lib().IsDLConnected());
    EXPECT_EQ(PacketResult::ModeIsDL, Lib().IsDIAGConnected());
    // Nothing but probes reached the device: every download packet is a NOP.
    const auto& recording = Device().Recording();
    EXPECT_EQ(recording.CountRequests(DeviceMode::Download), recording.CountRequests(DeviceMode::Download, 0x06));
    EXPECT_EQ(1, Nop());

    const auto lines = FinishLog();
    EXPECT_EQ(1u, CountPortLines(lines, "<!ER>", "CSerCOMLibrary::IsDLConnected\tDL detected."));
    EXPECT_EQ(1u,
              CountPortLines(lines, "<!ER>",
                             "CSerCOMLibrary::IsDIAGConnected\tMobile current mode is DL, can not change to DIAG."));
}

// A device that never answers: detection gives up after its 120 polls. The
// engine runs faster than elsewhere here, since the polls are all it does.
TEST_F(SerialDetect, SilentDeviceIsNeverDetected) {
    sim::DeviceOptions options = sim::DiagDevice();
    options.faults.silent = true;
    StartWith(1);
    Start(options, 0.01);

    auto start = Clock::now();
    EXPECT_EQ(PacketResult::ModeUnknown, Lib().IsDIAGConnected());
    EXPECT_GE(testsupport::MsBetween(start, Clock::now()), 120L * Times().diagDetectionPoll);

    start = Clock::now();
    EXPECT_EQ(PacketResult::ModeUnknown, Lib().IsDLConnected());
    EXPECT_GE(testsupport::MsBetween(start, Clock::now()), 120L * Times().dlDetectionPoll);
    EXPECT_EQ(kPhoneModeUnknown, Channel().GetPhoneMode());
    EXPECT_GT(Device().Recording().CountRequests(DeviceMode::Diag), 0u) << "the probes did reach the device";

    const auto lines = FinishLog();
    for (const char* function : {"CSerCOMLibrary::IsDIAGConnected\t", "CSerCOMLibrary::IsDLConnected\t"}) {
        EXPECT_EQ(120u, CountPortLines(lines, "<!ER>",
                                       std::string(function) + "Can not determine phone mode, so wait a moment."));
        EXPECT_EQ(1u, CountPortLines(lines, "<!ER>", std::string(function) + "Phone mode detection failed."));
    }
}

TEST_F(SerialDetect, CloseAfterTheListenerLostThePortReportsNothingClosed) {
    Start(sim::DiagDevice());
    ASSERT_TRUE(WaitForMode(kPhoneModeDIAG));
    ASSERT_TRUE(Channel().IsPortOpen());
    Device().Unplug();
    // The listener sees the port fail, returns to detection and cannot open
    // it again: the port is closed by the listener.
    auto end = Clock::now() + std::chrono::seconds(5);
    while (Channel().IsPortOpen() && Clock::now() < end) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    ASSERT_FALSE(Channel().IsPortOpen());
    EXPECT_EQ(kPhoneModeUnknown, Channel().GetPhoneMode());

    EXPECT_EQ(ChannelResult::Ok, Lib().CloseCOMPort());
    EXPECT_FALSE(Channel().IsListenerRunning());
}

// A session that ends with a frame nobody takes (the answer behind a stray
// frame the exchange took) closes at once, not after the listener's whole stop
// limit: the stop must release the listener's wait for a taker even when its
// signal merged with the take of the frame before.
TEST_F(SerialDetect, CloseWithAFrameNobodyTakesIsPrompt) {
    for (int round = 0; round < 8; ++round) {
        sim::DeviceOptions options = sim::DiagDevice();
        sim::FaultPoint stray;
        stray.fault = sim::InjectedFault::StrayFrame;
        stray.mode = static_cast<int>(DeviceMode::Diag);
        stray.command = 0x0C;
        sim::SetFaultPoint(options, stray);
        Start(std::move(options));
        ASSERT_EQ(PacketResult::Ok, Lib().IsDIAGConnected());
        uint8_t status = 0x0C;
        uint8_t reply[512] = {};
        ASSERT_GT(Lib().DIAGTxRx(&status, 1, reply, sizeof reply, Times().replyWait).LengthOrCode(), 0);
        EXPECT_NE(0x0C, reply[0]) << "the stray frame comes first";
        const auto start = Clock::now();
        Lib().CloseCOMPort();
        EXPECT_LT(testsupport::MsBetween(start, Clock::now()), 1000) << "round " << round;
        EXPECT_FALSE(Channel().IsListenerRunning());
    }
}

TEST_F(SerialDetect, DeviceThatComesBackIsFoundAgain) {
    Start(sim::DiagDevice());
    ASSERT_TRUE(WaitForMode(kPhoneModeDIAG));
    Device().Reboot(DeviceMode::Download);
    // The failing read sends the listener back to detection.
    ASSERT_TRUE(WaitForMode(kPhoneModeUnknown));
    ASSERT_EQ(PacketResult::Ok, Lib().IsDLConnected());
    EXPECT_EQ(1, Nop());
}

}  // namespace
}  // namespace fennix
