// The switches between the device's modes, end to end against the virtual
// device: AT command mode to DIAG and to download mode, DIAG to download mode
// for both platform groups, and the ways a switch fails.
#include <gtest/gtest.h>

#include <chrono>

#include "serial/ModeSwitchTables.h"
#include "serial_e2e_fixture.h"

namespace fennix {
namespace {

using sim::DeviceMode;
using sim::EventKind;
using Clock = std::chrono::steady_clock;
using testsupport::CountPortLines;

class SerialSwitch : public testsupport::SerialE2ETest {};

TEST_F(SerialSwitch, AtDeviceIsMovedIntoDiag) {
    Start(sim::AtDevice());
    ASSERT_EQ(PacketResult::Ok, Lib().IsDIAGConnected());
    EXPECT_EQ(kPhoneModeDIAG, Channel().GetPhoneMode());
    EXPECT_EQ(DeviceMode::Diag, Device().Mode());
    auto at = Device().Recording().AtCommands();
    EXPECT_NE(at.end(), std::find(at.begin(), at.end(), "at$qcdmg"));

    // The packet layer takes over: a status request is answered.
    uint8_t status = 0x0C;
    uint8_t reply[128] = {};
    EXPECT_EQ(60, Lib().DIAGTxRx(&status, 1, reply, sizeof reply, Times().replyWait).LengthOrCode());
    EXPECT_EQ(0x0C, reply[0]);
}

TEST_F(SerialSwitch, AtDeviceIsMovedIntoDownloadModeThroughDiag) {
    sim::DeviceOptions options = sim::AtDevice();
    options.platformId = "K7M00";
    StartWith(3);
    Start(options);
    ASSERT_EQ(PacketResult::Ok, Lib().IsDLConnected());
    EXPECT_EQ(kPhoneModeDL, Channel().GetPhoneMode());
    EXPECT_EQ(DeviceMode::Download, Device().Mode());
    EXPECT_EQ(1, Nop());

    const auto lines = FinishLog();
    EXPECT_EQ(1u, CountPortLines(lines, "<WRN>", "CSerCOMLibrary::IsDLConnected\tStart phone mode detection."));
    EXPECT_EQ(1u, CountPortLines(lines, "<WRN>", "CSerCOMLibrary::IsDLConnected\tDS to DL change completed."));
    EXPECT_EQ(1u, CountPortLines(lines, "<WRN>", "InternalChange2DL6280\tWrite DIAG command to change to DL mode."));
    EXPECT_EQ(1u, CountPortLines(lines, "<!ER>", "InternalChange2DL6280\tChange to DL successfully."));
}

TEST_F(SerialSwitch, DefaultPlatformGoesOfflineAndReopensThePort) {
    Start(sim::DiagDevice("Q6250"));
    ASSERT_EQ(PacketResult::Ok, Lib().IsDLConnected());
    EXPECT_EQ(kPhoneModeDL, Channel().GetPhoneMode());
    // Build ID, quieting, version, status, offline, status until offline, switch.
    EXPECT_EQ(std::vector<int>({0x7C, 0x1F, 0x60, 0x73, 0x00, 0x0C, 0x29, 0x0C, 0x3A}), SwitchCommands());
    EXPECT_GE(Device().BootCount(), 1u) << "the device re-enumerated";
    EXPECT_TRUE(Channel().ReopenOnDetection());
    EXPECT_FALSE(Channel().WritesBlocked());
    EXPECT_FALSE(Channel().NotificationsSuppressed());
    EXPECT_EQ(1, Nop());
}

TEST_F(SerialSwitch, GroupOnePlatformSwitchesInPlaceWithoutGoingOffline) {
    Start(sim::DiagDevice("T7413"));
    ASSERT_EQ(PacketResult::Ok, Lib().IsDLConnected());
    EXPECT_EQ(std::vector<int>({0x7C, 0x1F, 0x60, 0x73, 0x3A}), SwitchCommands());
    EXPECT_EQ(0u, Device().BootCount()) << "the port stayed";
    // From now on detection probes on the open port.
    EXPECT_FALSE(Channel().ReopenOnDetection());
    EXPECT_EQ(1, Nop());
}

// The acknowledgement of the switch request is dropped with the rest of the
// DIAG conversation: nothing of it is left posted or buffered for the packet
// layer, and the first download-mode exchange gets its own answer.
TEST_F(SerialSwitch, AcknowledgedSwitchInPlaceLeavesNothingBehind) {
    for (int run = 0; run < 3; ++run) {
        sim::DeviceOptions options = sim::DiagDevice("T7413");
        options.knobs["diag.ack-download-switch"] = 1;
        Start(options);
        ASSERT_EQ(PacketResult::Ok, Lib().IsDLConnected());
        EXPECT_EQ(0u, Link().PendingFrames());
        EXPECT_EQ(0u, Channel().UnreadBytes());
        EXPECT_EQ(1, Nop());
    }
}

TEST_F(SerialSwitch, UnsolicitedTrafficBeforeTheSwitchIsPutAside) {
    for (const char* platform : {"Q6250", "LUNW2"}) {
        sim::DeviceOptions options = sim::DiagDevice(platform);
        options.unsolicitedEveryMs = 300;
        Start(options);
        ASSERT_TRUE(WaitForMode(kPhoneModeDIAG));
        // A debug message arrives that nobody asked for and stays posted.
        auto end = Clock::now() + std::chrono::seconds(3);
        while (Link().PendingFrames() == 0 && Clock::now() < end)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ASSERT_EQ(1u, Link().PendingFrames());

        EXPECT_EQ(PacketResult::Ok, Lib().IsDLConnected()) << platform;
        EXPECT_EQ(1, Nop()) << platform;
        EXPECT_GE(Device().Recording().Count(EventKind::Unsolicited), 1u);
    }
}

TEST_F(SerialSwitch, ReenumeratingFirmwareGetsThePortReleasedAndAPause) {
    sim::DeviceOptions options = sim::DiagDevice("Q6250");
    options.versionDirectory = "pelz5a01";
    // Such a device switches only once the host has let go of the port.
    options.switchAfterHostCloses = true;
    // A longer factor than elsewhere, so that the pause stands out clearly
    // from the device's own time away from the bus.
    Start(options, 0.2);
    ASSERT_EQ(PacketResult::Ok, Lib().IsDLConnected());

    // Measure from the download switch to the first probe in download mode.
    Clock::time_point switched{}, probed{};
    for (const auto& event : Device().Recording().Events()) {
        if (event.kind != EventKind::Request) continue;
        if (event.mode == DeviceMode::Diag && event.Command() == 0x3A) switched = event.time;
        if (event.mode == DeviceMode::Download && switched != Clock::time_point{} && probed == Clock::time_point{})
            probed = event.time;
    }
    ASSERT_NE(Clock::time_point{}, switched);
    ASSERT_NE(Clock::time_point{}, probed);
    EXPECT_GE(testsupport::MsBetween(switched, probed), static_cast<long>(Times().portReleasePause));
    EXPECT_EQ(1, Nop());
}

TEST_F(SerialSwitch, OfflineThatNeverSettlesFailsTheSwitchWithItsCode) {
    sim::DeviceOptions options = sim::DiagDevice("Q6250");
    options.faults.offlineNeverSettles = true;
    StartWith(1);
    Start(options);
    EXPECT_EQ(PacketResult::DiagSwitchFailed, Lib().IsDLConnected());
    std::vector<int> commands = SwitchCommands();
    EXPECT_EQ(21, std::count(commands.begin(), commands.end(), 0x0C)) << "one status, then twenty polls";
    EXPECT_EQ(0, std::count(commands.begin(), commands.end(), 0x3A));
    // The device stays in DIAG and the packet layer may talk to it again.
    EXPECT_EQ(kPhoneModeDIAG, Channel().GetPhoneMode());
    EXPECT_FALSE(Channel().WritesBlocked());
    uint8_t status = 0x0C;
    uint8_t reply[128] = {};
    EXPECT_EQ(60, Lib().DIAGTxRx(&status, 1, reply, sizeof reply, Times().replyWait).LengthOrCode());

    const auto lines = FinishLog();
    EXPECT_EQ(20u, CountPortLines(lines, "<!ER>", "CSerialIO::ChangeToOffline\tCurrent RF mode is 0"));
    EXPECT_EQ(1u, CountPortLines(lines, "<!ER>", "InternalChange2DLDefault\tChange to offline fails."));
    EXPECT_EQ(1u, CountPortLines(lines, "<!ER>", "CSerCOMLibrary::IsDLConnected\tDIAG to DL failed."));
}

TEST_F(SerialSwitch, PortThatDoesNotComeBackIsTriedFourTimes) {
    sim::DeviceOptions options = sim::DiagDevice("Q6250");
    options.faults.stayVanished = true;
    Start(options);
    // The status poll that shows the device offline is the last thing it
    // says: then it drops off the bus for good.
    Device().SetRequestHook([](sim::CDeviceContext& ctx, const sim::Packet& packet) {
        if (packet.empty() || packet[0] != 0x0C || !ctx.State().offlineRequested) return false;
        std::vector<uint8_t> status(60, 0);
        status[0] = 0x0C;
        status[32] = static_cast<uint8_t>(ctx.State().options.offlineState);
        ctx.Reply(status);
        ctx.SwitchMode(DeviceMode::Diag, true);
        return true;
    });
    ASSERT_TRUE(WaitForMode(kPhoneModeDIAG));

    auto start = Clock::now();
    EXPECT_EQ(PacketResult::DiagSwitchFailed, Lib().IsDLConnected());
    const Timeouts& t = Times();
    const long pauses = static_cast<long>(t.reopenPause[0] + t.reopenPause[1] + t.reopenPause[2] + t.reopenPause[3]);
    EXPECT_GE(testsupport::MsBetween(start, Clock::now()), pauses + 4 * static_cast<long>(t.unregisteredPortPause));
    EXPECT_FALSE(Device().Present());
    // The session is left refusing requests: writes stay blocked.
    EXPECT_TRUE(Channel().WritesBlocked());
    uint8_t nop = 0x06;
    uint8_t reply[16] = {};
    EXPECT_EQ(kPacketWriteRefused, Link().TxRx(&nop, 1, reply, sizeof reply, 100).LengthOrCode());
}

TEST_F(SerialSwitch, AtSwitchThatIsNotAnsweredFailsBothEntries) {
    StartWith(3);
    for (bool download : {false, true}) {
        Start(sim::AtDevice());
        ASSERT_TRUE(WaitForMode(kPhoneModeAt));
        // The device hears the AT command but answers nothing any more.
        sim::Faults faults;
        faults.silent = true;
        Device().SetFaults(faults);
        EXPECT_EQ(PacketResult::DsSwitchFailed, download ? Lib().IsDLConnected() : Lib().IsDIAGConnected());
        auto at = Device().Recording().AtCommands();
        EXPECT_EQ(1, std::count(at.begin(), at.end(), "at$qcdmg"));
    }
    const auto lines = FinishLog();
    EXPECT_EQ(1u, CountPortLines(lines, "<!ER>", "CSerialIO::ChangeDS2DL\tChange DS to DIAG fails."));
    EXPECT_EQ(0u, CountPortLines(lines, "<WRN>", "CSerCOMLibrary::IsDLConnected\tDS to DL change completed."));
}

// One whole switch with the device's real timings.
TEST_F(SerialSwitch, DiagToDownloadAtRealTimings) {
    Start(sim::DiagDevice("Q6250"), 1.0);
    auto start = Clock::now();
    ASSERT_EQ(PacketResult::Ok, Lib().IsDLConnected());
    // Settle pause, quieting and two reopen settle pauses at least.
    EXPECT_GE(testsupport::MsBetween(start, Clock::now()), 2500);
    EXPECT_EQ(std::vector<int>({0x7C, 0x1F, 0x60, 0x73, 0x00, 0x0C, 0x29, 0x0C, 0x3A}), SwitchCommands());
    EXPECT_EQ(1, Nop());
}

}  // namespace
}  // namespace fennix
