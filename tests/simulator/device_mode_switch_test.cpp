// The DIAG requests of the switch into download mode, the AT switch into
// DIAG, and the port vanishing and coming back.
#include <gtest/gtest.h>

#include <unistd.h>

#include <thread>

#include "DeviceTest.h"
#include "TestBytes.h"
#include "simulator/HostPort.h"
#include "simulator/SimulatorFixture.h"

namespace fennix::sim {
namespace {

using namespace std::chrono_literals;
using test::Bytes;
using test::Hex;
using test::ToHex;

// Reads a 16-bit value from a raw (still stuffed) reply the way the host
// does: count every byte except 0x7D; the value starts right after the
// `counted`-th counted byte.
uint16_t FieldAfterCounted(const Bytes& raw, size_t counted) {
    size_t n = 0;
    for (size_t i = 0; i + 2 <= raw.size(); ++i) {
        if (n == counted) return static_cast<uint16_t>(raw[i] | (raw[i + 1] << 8));
        if (raw[i] != 0x7D) ++n;
    }
    return 0xFFFF;
}

std::string TextAt(const Bytes& raw, size_t from, size_t to) {
    std::string text;
    for (size_t i = from; i <= to && i < raw.size(); ++i) text.push_back(static_cast<char>(raw[i]));
    return text;
}

bool IsSymlink(const std::string& path) {
    char target[256];
    return readlink(path.c_str(), target, sizeof target) > 0;
}

using ModeSwitchTest = test::DeviceTest;

TEST_F(ModeSwitchTest, BuildIdCarriesThePlatformIdAtBytes12To16) {
    Start(DiagDevice("t7413"));
    Bytes raw = Raw("7C 93 49 7E");
    ASSERT_GE(raw.size(), 17u) << ToHex(raw);
    EXPECT_EQ(0x7C, raw[0]);
    EXPECT_EQ("t7413", TextAt(raw, 12, 16));
    EXPECT_FALSE(CHostPort::Unframe(raw).empty()) << "reply fails its check";

    // Shorter platform texts continue with the build text; changes apply at once.
    Dev().WithState([](DeviceState& s) { s.options.platformId = "K7M"; });
    raw = Raw("7C 93 49 7E");
    EXPECT_EQ("K7MSI", TextAt(raw, 12, 16));
}

TEST_F(ModeSwitchTest, VersionCarriesTheVersionDirectoryAtBytes39To46) {
    DeviceOptions o = DiagDevice();
    o.versionDirectory = "PELZ5abc";
    Start(o);
    Bytes raw = Raw("00 78 F0 7E");
    ASSERT_GE(raw.size(), 47u) << ToHex(raw);
    EXPECT_EQ(0x00, raw[0]);
    EXPECT_EQ("PELZ5abc", TextAt(raw, 39, 46));
    EXPECT_FALSE(CHostPort::Unframe(raw).empty());
}

TEST_F(ModeSwitchTest, StatusFieldsSitWhereTheHostCountsEvenWithStuffedBytes) {
    DeviceOptions o = DiagDevice();
    o.esn = 0x7E7D7E7D;  // four stuffed bytes in front of the RF mode
    o.rfMode = 1;
    o.onlineState = 3;
    Start(o);
    Bytes raw = Raw("0C 14 3A 7E");
    ASSERT_EQ(0x0C, raw[0]);
    EXPECT_EQ(1, FieldAfterCounted(raw, 8)) << ToHex(raw);
    EXPECT_EQ(3, FieldAfterCounted(raw, 32)) << ToHex(raw);
    Bytes packet = CHostPort::Unframe(raw);
    ASSERT_EQ(60u, packet.size());
    EXPECT_EQ(Hex("0C 01 01 00 7D 7E 7D 7E 01 00"), Bytes(packet.begin(), packet.begin() + 10));
}

TEST_F(ModeSwitchTest, OfflineIsEchoedAndTheStatusSettlesAfterTheConfiguredPolls) {
    DeviceOptions o = DiagDevice();
    o.offlineAfterPolls = 2;
    Start(o);
    EXPECT_EQ(5, FieldAfterCounted(Raw("0C 14 3A 7E"), 32));  // online before the request
    EXPECT_EQ(ToHex(Hex("29 01 00 31 40 7E")), ToHex(Raw("29 01 00 31 40 7E")));
    std::vector<uint16_t> states;
    for (int i = 0; i < 4; ++i) states.push_back(FieldAfterCounted(Raw("0C 14 3A 7E"), 32));
    EXPECT_EQ((std::vector<uint16_t>{5, 5, 6, 6}), states);
}

TEST_F(ModeSwitchTest, OfflineNeverSettlesKeepsReportingOnline) {
    DeviceOptions o = DiagDevice();
    o.faults.offlineNeverSettles = true;
    Start(o);
    Raw("29 01 00 31 40 7E");
    for (int i = 0; i < 3; ++i) EXPECT_EQ(5, FieldAfterCounted(Raw("0C 14 3A 7E"), 32));
    EXPECT_TRUE(Dev().GetFaults().offlineNeverSettles);
}

TEST_F(ModeSwitchTest, QuietingRequestsAreEchoedAndRemembered) {
    Start(DiagDevice());
    EXPECT_EQ(ToHex(Hex("1F FF 00 5E F6 7E")), ToHex(Raw("1F FF 00 5E F6 7E")));
    EXPECT_EQ(ToHex(Hex("60 00 12 6A 7E")), ToHex(Raw("60 00 12 6A 7E")));
    EXPECT_EQ(ToHex(Hex("73 00 00 00 00 00 00 00 DA 81 7E")), ToHex(Raw("73 00 00 00 00 00 00 00 DA 81 7E")));
    bool all = false;
    Dev().WithState([&](DeviceState& s) { all = s.quietMessages && s.quietEvents && s.quietLogs; });
    EXPECT_TRUE(all);
}

TEST_F(ModeSwitchTest, UnknownDiagCommandIsRefusedAndStatusCanBeWithdrawn) {
    Start(DiagDevice());
    EXPECT_EQ(ToHex(Hex("13 99 F6 B9 7E")), ToHex(Raw("99 30 F9 7E")));
    // A handset without the status command refuses it: the host's reply check
    // then sees 0x13 in byte 0.
    Dev().RemoveHandler(DeviceMode::Diag, 0x0C);
    Bytes raw = Raw("0C 14 3A 7E");
    EXPECT_EQ(Hex("13 0C"), CHostPort::Unframe(raw));
}

TEST_F(ModeSwitchTest, DownloadSwitchOfGroup0DeviceVanishesAndReturnsInDownloadMode) {
    Start(DiagDevice("Q6250"));
    std::string path = Dev().Path();
    ASSERT_EQ(0, port_.Write(Hex("3A A1 6E 7E")));
    ASSERT_TRUE(Dev().WaitForPresent(false, 2000ms));
    EXPECT_TRUE(Dev().SlavePath().empty());
    EXPECT_FALSE(IsSymlink(path));
    EXPECT_EQ(0u, Dev().Recording().Count(EventKind::Answer)) << "the switch is not answered";
    // The host's old descriptor now fails like an unplugged USB port.
    EXPECT_TRUE(port_.ReadQuiet(50ms, 500ms).empty());
    EXPECT_NE(0, port_.LastError());
    EXPECT_NE(0, port_.Write(test::Probe()));

    ASSERT_TRUE(Dev().WaitForPresent(true, 2000ms));
    EXPECT_TRUE(IsSymlink(path));
    EXPECT_EQ(DeviceMode::Download, Dev().Mode());
    EXPECT_EQ(1u, Dev().BootCount());
    CHostPort again;
    ASSERT_EQ(0, again.Open(path));
    ASSERT_EQ(0, again.Write(test::Probe()));
    EXPECT_EQ(ToHex(Hex("7E 02 6A D3 7E")), ToHex(again.ReadCount(5, 2000ms)));
    EXPECT_FALSE(Dev().SlavePath().empty());

    auto t = Dev().Recording().Transitions();
    ASSERT_EQ(1u, t.size());
    EXPECT_EQ(DeviceMode::Diag, t[0].from);
    EXPECT_EQ(DeviceMode::Download, t[0].to);
    EXPECT_EQ(1u, Dev().Recording().Count(EventKind::Vanished));
    EXPECT_EQ(1u, Dev().Recording().Count(EventKind::Returned));
}

TEST_F(ModeSwitchTest, DownloadSwitchOfGroup1DeviceKeepsItsPort) {
    Start(DiagDevice("K7M"));
    std::string slave = Dev().SlavePath();
    ASSERT_EQ(0, port_.Write(Hex("3A A1 6E 7E")));
    ASSERT_TRUE(Dev().WaitForMode(DeviceMode::Download, 2000ms));
    ASSERT_EQ(0, port_.Write(test::Probe()));
    EXPECT_EQ(ToHex(Hex("7E 02 6A D3 7E")), ToHex(port_.ReadCount(5, 2000ms)));
    EXPECT_EQ(slave, Dev().SlavePath());
    EXPECT_EQ(0u, Dev().Recording().Count(EventKind::Vanished));
}

TEST_F(ModeSwitchTest, AtSwitchAnswersOkThenVanishesAndReturnsInDiag) {
    Start(AtDevice());
    std::string path = Dev().Path();
    ASSERT_EQ(0, port_.Write(std::string("at$qcdmg\r")));
    EXPECT_EQ(ToHex(test::Text("at$qcdmg\r\r\nOK\r\n")), ToHex(port_.ReadCount(15, 2000ms)));
    ASSERT_TRUE(Dev().WaitForPresent(false, 2000ms));
    ASSERT_TRUE(Dev().WaitForPresent(true, 2000ms));
    EXPECT_EQ(DeviceMode::Diag, Dev().Mode());

    CHostPort again;
    ASSERT_EQ(0, again.Open(path));
    ASSERT_EQ(0, again.Write(test::Probe()));
    EXPECT_EQ(ToHex(Hex("13 61 74 0D 62 09 7E 13 06 88 D5 7E")), ToHex(again.ReadCount(12, 2000ms)));
    EXPECT_EQ((std::vector<std::string>{"at$qcdmg"}), Dev().Recording().AtCommands());
}

TEST_F(ModeSwitchTest, AtSwitchWithoutVanishGoesOnInDiagOnTheSamePort) {
    DeviceOptions o = AtDevice();
    o.vanishOnDiagSwitch = VanishPolicy::Never;
    Start(o);
    // The switch and a DIAG request in one write: the bytes behind the
    // carriage return are already DIAG.
    ASSERT_EQ(0, port_.Write(test::Concat(test::Text("AT$QCDMG\r"), Hex("7C 93 49 7E"))));
    Bytes answer = port_.ReadFrames(1, false, 2000ms);
    Bytes ok = test::Text("AT$QCDMG\r\r\nOK\r\n");
    ASSERT_GT(answer.size(), ok.size());
    EXPECT_EQ(ToHex(ok), ToHex(Bytes(answer.begin(), answer.begin() + ok.size())));
    EXPECT_EQ(0x7C, answer[ok.size()]);
    EXPECT_EQ(DeviceMode::Diag, Dev().Mode());
}

TEST_F(ModeSwitchTest, ModeControlResetRebootsIntoDiagAndForgetsTheSession) {
    Start(DiagDevice());
    Raw("29 01 00 31 40 7E");
    Bytes reset = Raw("29 02 00 59 6A 7E");
    EXPECT_EQ(Hex("29 02 00"), CHostPort::Unframe(reset));
    ASSERT_TRUE(Dev().WaitForPresent(false, 2000ms));
    ASSERT_TRUE(Dev().WaitForPresent(true, 2000ms));
    bool offline = true;
    Dev().WithState([&](DeviceState& s) { offline = s.offlineRequested; });
    EXPECT_FALSE(offline);
    EXPECT_EQ(DeviceMode::Diag, Dev().Mode());
}

TEST_F(ModeSwitchTest, SlowHostStillReadsTheLastAnswerBeforeThePortGoes) {
    Start(DiagDevice());
    ASSERT_EQ(0, port_.Write(Hex("29 02 00 59 6A 7E")));  // reset: echoed, then the device leaves
    ASSERT_TRUE(Dev().Recording().WaitForCount(EventKind::Answer, 1, 2000ms));
    std::this_thread::sleep_for(300ms);  // well past the moment the device would leave
    EXPECT_TRUE(Dev().Present());
    EXPECT_EQ(Hex("29 02 00"), CHostPort::Unframe(port_.ReadFrames(1, false, 1000ms)));
    EXPECT_TRUE(Dev().WaitForPresent(false, 2000ms));

    // A host that closes the port without reading is not waited for.
    ASSERT_TRUE(Dev().WaitForPresent(true, 2000ms));
    CHostPort again;
    ASSERT_EQ(0, again.Open(Dev().Path()));
    ASSERT_TRUE(Dev().WaitForState([](const DeviceState& s) { return s.hostOpens == 1; }, 2000ms));
    ASSERT_EQ(0, again.Write(Hex("29 02 00 59 6A 7E")));
    ASSERT_TRUE(Dev().Recording().WaitForCount(EventKind::Answer, 2, 2000ms));
    again.Close();
    EXPECT_TRUE(Dev().WaitForPresent(false, 1000ms));
}

TEST_F(ModeSwitchTest, TestThreadCanUnplugReplugAndReboot) {
    Start(DiagDevice());
    std::string path = Dev().Path();
    Dev().Unplug();
    ASSERT_TRUE(Dev().WaitForPresent(false, 2000ms));
    // Stays away well past the vanish time.
    EXPECT_FALSE(Dev().WaitForPresent(true, 400ms));
    EXPECT_FALSE(IsSymlink(path));
    Dev().Replug();
    ASSERT_TRUE(Dev().WaitForPresent(true, 2000ms));
    EXPECT_TRUE(IsSymlink(path));

    Dev().Reboot(DeviceMode::Download);
    ASSERT_TRUE(Dev().WaitForState([](const DeviceState& s) { return s.bootCount == 2 && s.present; }, 3000ms));
    EXPECT_EQ(DeviceMode::Download, Dev().Mode());
    EXPECT_EQ(Dev().Path(), path);
}

}  // namespace
}  // namespace fennix::sim
