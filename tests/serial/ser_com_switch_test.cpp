// The DIAG conversations of the mode switches against a scripted device: the
// raw requests on the wire, how the raw answers are read, and what the
// switches make of missing, wrong or stale answers.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <thread>
#include <string>

#include "serial/HandOverWait.h"
#include "serial/ModeSwitchTables.h"
#include "ser_com_fixture.h"

namespace fennix {
namespace {

using testsupport::Bytes;
using testsupport::DiagFrame;
using testsupport::Eventually;

const Bytes kBuildId(std::begin(kBuildIdRequest), std::end(kBuildIdRequest));
const Bytes kVersion(std::begin(kVersionRequest), std::end(kVersionRequest));
const Bytes kStatus(std::begin(kStatusRequest), std::end(kStatusRequest));
const Bytes kOffline(std::begin(kOfflineRequest), std::end(kOfflineRequest));

// A packet of `size` filler bytes that starts with `command` and holds `text`
// at `offset`.
Bytes PacketWithText(uint8_t command, size_t size, size_t offset, const std::string& text) {
    Bytes packet(size, 0x31);
    packet[0] = command;
    std::memcpy(packet.data() + offset, text.data(), text.size());
    return packet;
}

Bytes BuildIdReply(const std::string& platform) { return DiagFrame(PacketWithText(0x7C, 40, 12, platform)); }
Bytes VersionReply(const std::string& directory) { return DiagFrame(PacketWithText(0x00, 60, 39, directory)); }

Bytes StatusPacket(uint16_t rfMode, uint16_t state) {
    Bytes packet(40, 0x22);
    packet[0] = 0x0C;
    packet[8] = static_cast<uint8_t>(rfMode);
    packet[9] = static_cast<uint8_t>(rfMode >> 8);
    packet[32] = static_cast<uint8_t>(state);
    packet[33] = static_cast<uint8_t>(state >> 8);
    return packet;
}

class SerComSwitch : public testsupport::SerComTest {
protected:
    void SetUp() override {
        SerComTest::SetUp();
        if (IsSkipped()) return;
        OpenIn(kPhoneModeDIAG);
    }
    // The switches keep the packet layer out while they talk to the device
    // raw; the parts that do not do so themselves run inside that.
    void KeepPacketLayerOut() {
        Channel().SetWritesBlocked(true);
        Channel().SetNotificationsSuppressed(true);
    }
    void ExpectPacketLayerReleased() {
        EXPECT_FALSE(Channel().WritesBlocked());
        EXPECT_FALSE(Channel().NotificationsSuppressed());
    }
    size_t CountOnWire(const Bytes& wire, const Bytes& request) {
        size_t n = 0;
        for (auto it = wire.begin(); (it = std::search(it, wire.end(), request.begin(), request.end())) != wire.end();
             it += static_cast<long>(request.size()))
            ++n;
        return n;
    }
};

TEST(ModeSwitchTables, PlatformGroupOneIsAnyOfItsNamesInsideTheId) {
    EXPECT_EQ(PlatformGroup::Group6280, PlatformGroupOf("K7M01"));
    EXPECT_EQ(PlatformGroup::Group6280, PlatformGroupOf("T7413"));
    EXPECT_EQ(PlatformGroup::Group6280, PlatformGroupOf("XPEXD4"));
    EXPECT_EQ(PlatformGroup::Group6280, PlatformGroupOf("LUNW2"));
    EXPECT_EQ(PlatformGroup::Default, PlatformGroupOf("Q6250"));
    EXPECT_EQ(PlatformGroup::Default, PlatformGroupOf("T741"));
    EXPECT_EQ(PlatformGroup::Default, PlatformGroupOf(""));
}

TEST(ModeSwitchTables, MobileModeRowsAreTriedInOrder) {
    EXPECT_EQ(MobileMode::Reenumerates, MobileModeOf("pelomir1"));
    EXPECT_EQ(MobileMode::Reenumerates, MobileModeOf("xpelq7ex"));
    EXPECT_EQ(MobileMode::Reenumerates, MobileModeOf("pelq7f"));
    EXPECT_EQ(MobileMode::Reenumerates, MobileModeOf("aapelz5b"));
    EXPECT_EQ(MobileMode::Gvd, MobileModeOf("xxgvdxxx"));
    EXPECT_EQ(MobileMode::Dvr, MobileModeOf("dvr4162a"));
    // Both a row-1 name and "gvd": the earlier row decides.
    EXPECT_EQ(MobileMode::Reenumerates, MobileModeOf("gvdpelz5"));
    EXPECT_EQ(MobileMode::Gvd, MobileModeOf("gvdr4162"));
    EXPECT_EQ(MobileMode::Unknown, MobileModeOf("PELZ5"));  // the caller lower-cases first
    EXPECT_EQ(MobileMode::Unknown, MobileModeOf(""));
}

TEST(ModeSwitchTables, StatusFieldsAreFoundByCountingBytesOtherThanTheEscape) {
    Bytes raw = StatusPacket(1, 2);
    uint16_t rf = 0xFFFF, state = 0xFFFF;
    ASSERT_TRUE(LocateStatusFields(raw.data(), raw.size(), &rf, &state));
    EXPECT_EQ(1, rf);
    EXPECT_EQ(2, state);

    // An escape among the first bytes shifts both fields one byte along.
    Bytes shifted = raw;
    shifted.insert(shifted.begin() + 3, 0x7D);
    ASSERT_TRUE(LocateStatusFields(shifted.data(), shifted.size(), &rf, &state));
    EXPECT_EQ(1, rf);
    EXPECT_EQ(2, state);
    // The fields themselves are taken as they stand: an escape right where
    // the RF mode starts is part of its value.
    Bytes escapedField = raw;
    escapedField[8] = 0x7D;
    ASSERT_TRUE(LocateStatusFields(escapedField.data(), escapedField.size(), &rf, &state));
    EXPECT_EQ(0x7D, rf);

    EXPECT_FALSE(LocateStatusFields(raw.data(), 33, &rf, &state));
    EXPECT_TRUE(IsOfflineStatus(0, 6));
    EXPECT_TRUE(IsOfflineStatus(1, 2));
    EXPECT_FALSE(IsOfflineStatus(0, 5));
    EXPECT_FALSE(IsOfflineStatus(1, 6));
}

TEST_F(SerComSwitch, PlatformIdIsUpperCasedBeforeItIsMatched) {
    Answer(kBuildId, BuildIdReply("t7413"));
    EXPECT_EQ(PlatformGroup::Group6280, Switcher().GetPlatformID());
    EXPECT_EQ(kBuildId, WireSinceMark());
    ExpectPacketLayerReleased();

    Answer(kBuildId, BuildIdReply("Q6250"));
    EXPECT_EQ(PlatformGroup::Default, Switcher().GetPlatformID());
    ExpectPacketLayerReleased();
}

TEST_F(SerComSwitch, PlatformIdWithoutAUsableReplyIsGroupThree) {
    Answer(kBuildId, DiagFrame(PacketWithText(0x13, 40, 12, "K7M00")));
    EXPECT_EQ(PlatformGroup::Unknown, Switcher().GetPlatformID());
    ExpectPacketLayerReleased();

    Answer(kBuildId, Bytes{});  // silence
    EXPECT_EQ(PlatformGroup::Unknown, Switcher().GetPlatformID());
    ExpectPacketLayerReleased();
}

TEST_F(SerComSwitch, BytesThatCameBeforeTheRequestAreNotItsAnswer) {
    // Unsolicited traffic that looks like a build ID reply arrives while the
    // packet layer is kept out, and stays in the read buffer.
    Channel().SetNotificationsSuppressed(true);
    Device().Send(BuildIdReply("K7M00"));
    ASSERT_TRUE(Eventually([&] { return Channel().UnreadBytes() > 0; }, 3000));
    // The device does not answer the request itself.
    EXPECT_EQ(PlatformGroup::Unknown, Switcher().GetPlatformID());

    // Again, behind what is still unread from the first time.
    const uint32_t unread = Channel().UnreadBytes();
    Channel().SetNotificationsSuppressed(true);
    Device().Send(BuildIdReply("K7M00"));
    ASSERT_TRUE(Eventually([&] { return Channel().UnreadBytes() > unread; }, 3000));
    Answer(kBuildId, BuildIdReply("Q6250"));
    EXPECT_EQ(PlatformGroup::Default, Switcher().GetPlatformID()) << "the answer behind the stale bytes decides";
}

TEST_F(SerComSwitch, FramesLeftPostedDoNotKeepTheSwitchFromReading) {
    // A reply that came too late, and unsolicited traffic of two frames in one
    // read: the listener waits for a taker that never comes.
    uint8_t request = 0x4B;
    uint8_t reply[16] = {};
    EXPECT_EQ(kPacketTimeout, Lib().DIAGTxRx(&request, 1, reply, sizeof reply, 50).LengthOrCode());
    Device().Send(testsupport::Concat(DiagFrame({0x4B, 0x01}),
                                      testsupport::Concat(DiagFrame({0x60, 0x02}), DiagFrame({0x79, 0x03}))));
    ASSERT_TRUE(Eventually([&] { return Link().PendingFrames() == 1; }, 3000));

    Answer(kBuildId, BuildIdReply("K7M00"));
    EXPECT_EQ(PlatformGroup::Group6280, Switcher().GetPlatformID());
    EXPECT_EQ(0u, Link().PendingFrames());
    ExpectPacketLayerReleased();

    // The packet layer works as before afterwards.
    Answer({0x0C, 0x14, 0x3A, 0x7E}, DiagFrame({0x0C, 0x04}));
    uint8_t status = 0x0C;
    ASSERT_EQ(2, Lib().DIAGTxRx(&status, 1, reply, sizeof reply, 2000).LengthOrCode());
    EXPECT_EQ(0x04, reply[1]);
}

TEST_F(SerComSwitch, MobileModeComesFromTheLowerCasedVersionDirectory) {
    KeepPacketLayerOut();
    Answer(kVersion, VersionReply("PELZ5abc"));
    EXPECT_EQ(MobileMode::Reenumerates, Switcher().GetMobileMode());
    EXPECT_EQ(kVersion, WireSinceMark());
    Answer(kVersion, VersionReply("xxGVDxxx"));
    EXPECT_EQ(MobileMode::Gvd, Switcher().GetMobileMode());
    Answer(kVersion, VersionReply("DVR4162x"));
    EXPECT_EQ(MobileMode::Dvr, Switcher().GetMobileMode());
    Answer(kVersion, VersionReply("abcdefgh"));
    EXPECT_EQ(MobileMode::Unknown, Switcher().GetMobileMode());
    Answer(kVersion, DiagFrame(PacketWithText(0x13, 60, 39, "pelz5xxx")));
    EXPECT_EQ(MobileMode::Unknown, Switcher().GetMobileMode());
    Answer(kVersion, Bytes{});
    EXPECT_EQ(MobileMode::Unknown, Switcher().GetMobileMode());
}

TEST_F(SerComSwitch, DeviceWithoutStatusIsTakenToNeedNoOfflineStep) {
    KeepPacketLayerOut();
    Answer(kStatus, DiagFrame({0x13, 0x0C}));
    EXPECT_TRUE(Switcher().ChangeToOffline());
    EXPECT_EQ(kStatus, WireSinceMark()) << "no offline request may follow";
}

TEST_F(SerComSwitch, OfflineEchoMustMatchInEveryByte) {
    KeepPacketLayerOut();
    Answer(kStatus, DiagFrame(StatusPacket(0, 6)));
    for (size_t i = 0; i < kOffline.size(); ++i) {
        Bytes echo = kOffline;
        echo[i] ^= 0x01;
        Answer(kOffline, echo);
        EXPECT_FALSE(Switcher().ChangeToOffline()) << "byte " << i;
    }
    Answer(kOffline, kOffline);
    EXPECT_TRUE(Switcher().ChangeToOffline());
}

TEST_F(SerComSwitch, OfflineWaitsForTheStatusToSettle) {
    KeepPacketLayerOut();
    // The third poll after the offline request reports RF mode 1, state 2.
    // (The handler runs on the device's thread and may outlive this body.)
    auto polls = std::make_shared<std::atomic<int>>(0);
    testsupport::PtyDevice* device = &Device();
    device->OnReceive([device, polls](const Bytes& chunk) {
        if (chunk == kOffline) {
            device->Send(kOffline);
        } else if (chunk == kStatus) {
            int n = ++*polls;
            device->Send(DiagFrame(n >= 4 ? StatusPacket(1, 2) : StatusPacket(0, 5)));
        }
    });
    EXPECT_TRUE(Switcher().ChangeToOffline());
    EXPECT_EQ(4, polls->load());
    Bytes wire = WireSinceMark();
    EXPECT_EQ(1u, CountOnWire(wire, kOffline));
    EXPECT_EQ(4u, CountOnWire(wire, kStatus));
}

TEST_F(SerComSwitch, OfflineGivesUpAfterTwentyStatusPolls) {
    KeepPacketLayerOut();
    Answer(kStatus, DiagFrame(StatusPacket(0, 5)));
    Answer(kOffline, kOffline);
    EXPECT_FALSE(Switcher().ChangeToOffline());
    Bytes wire = WireSinceMark();
    EXPECT_EQ(1u, CountOnWire(wire, kOffline));
    EXPECT_EQ(21u, CountOnWire(wire, kStatus)) << "one status before the offline request, twenty after";
}

TEST_F(SerComSwitch, OfflineFailsWhenAnAnswerIsMissingOrWrong) {
    KeepPacketLayerOut();
    Answer(kStatus, Bytes{});
    EXPECT_FALSE(Switcher().ChangeToOffline());

    // The status answers until the offline request, then turns into garbage.
    auto offline = std::make_shared<std::atomic<bool>>(false);
    testsupport::PtyDevice* device = &Device();
    device->OnReceive([device, offline](const Bytes& chunk) {
        if (chunk == kOffline) {
            *offline = true;
            device->Send(kOffline);
        } else if (chunk == kStatus) {
            device->Send(*offline ? DiagFrame({0x13, 0x0C}) : DiagFrame(StatusPacket(0, 5)));
        }
    });
    EXPECT_FALSE(Switcher().ChangeToOffline());
    EXPECT_TRUE(offline->load());
}

TEST_F(SerComSwitch, QuietingSendsItsThreeRequestsAndDrainsTheBuffer) {
    KeepPacketLayerOut();
    const Bytes messages(std::begin(kQuietMessagesRequest), std::end(kQuietMessagesRequest));
    const Bytes events(std::begin(kQuietEventsRequest), std::end(kQuietEventsRequest));
    const Bytes logs(std::begin(kQuietLogsRequest), std::end(kQuietLogsRequest));
    // Each answer drags some unsolicited traffic behind it.
    Answer(messages, testsupport::Concat(DiagFrame({0x1F, 0x00}), Bytes(300, 0x55)));
    Answer(events, DiagFrame({0x60, 0x00}));
    Answer(logs, testsupport::Concat(DiagFrame({0x73, 0x00}), Bytes(150, 0x66)));
    Switcher().QuietDevice();
    EXPECT_EQ(testsupport::Concat(testsupport::Concat(messages, events), logs), WireSinceMark());
    EXPECT_EQ(0u, Channel().UnreadBytes());
}

TEST_F(SerComSwitch, QuietingEndsEvenIfTheDeviceNeverFallsSilent) {
    KeepPacketLayerOut();
    std::atomic<bool> chatter{true};
    std::thread talker([&] {
        while (chatter) {
            Device().Send(Bytes(20, 0x42));
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });
    Switcher().QuietDevice();
    chatter = false;
    talker.join();
    SUCCEED() << "QuietDevice returned while the device kept talking";
    EXPECT_GT(Device().Received().size(), 0u);
}

TEST_F(SerComSwitch, DownloadSwitchWithoutAPlatformReportsItsFailureCode) {
    Answer(kBuildId, Bytes{});
    EXPECT_FALSE(Switcher().ChangeDIAG2DL());
    EXPECT_EQ(PacketResult::DiagSwitchFailed, Lib().IsDLConnected());
    ExpectPacketLayerReleased();
    EXPECT_EQ(kPhoneModeDIAG, Channel().GetPhoneMode());
}

// A packet layer in DIAG mode whose time table a fixture changes first.
class SerComDiagWithTimes : public testsupport::SerComTest {
protected:
    void SetUp() override {
        SerComTest::SetUp();
        if (IsSkipped()) return;
        Timeouts times = Times();
        Adjust(times);
        RebuildWith(times);
        OpenIn(kPhoneModeDIAG);
    }
    virtual void Adjust(Timeouts& times) = 0;
};

// With nothing left to parse after a frame, the listener waits for its taker
// on the port. A long port read time shows whether anything has to wait that
// out.
class SerComTakerOnThePort : public SerComDiagWithTimes {
protected:
    static constexpr uint32_t kLongPortRead = 4000;
    void Adjust(Timeouts& times) override { times.portReadTimeout = kLongPortRead; }
};

TEST_F(SerComTakerOnThePort, ASwitchRightAfterAnExchangeDoesNotWaitForThePort) {
    Answer({0x0C, 0x14, 0x3A, 0x7E}, DiagFrame({0x0C, 0x04}));
    uint8_t status = 0x0C;
    uint8_t reply[16] = {};
    ASSERT_EQ(2, Lib().DIAGTxRx(&status, 1, reply, sizeof reply, 2000).LengthOrCode());

    Answer(kBuildId, BuildIdReply("T7413"));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(PlatformGroup::Group6280, Switcher().GetPlatformID());
    EXPECT_LT(testsupport::ElapsedMs(start), static_cast<long>(kLongPortRead) / 2);
    EXPECT_EQ(0u, Link().PendingFrames());
}

TEST_F(SerComTakerOnThePort, BytesBeforeTheTakeWaitForItAndExchangesFollowOneAnother) {
    // Back-to-back exchanges, each reply read on its own: the taken frame
    // lets the listener go on as soon as the next reply is there.
    for (uint8_t i = 1; i <= 20; ++i) {
        const uint8_t request = 0x0C;
        Answer({0x0C, 0x14, 0x3A, 0x7E}, DiagFrame({0x0C, i}));
        uint8_t reply[16] = {};
        const auto start = std::chrono::steady_clock::now();
        ASSERT_EQ(2, Lib().DIAGTxRx(&request, 1, reply, sizeof reply, 3000).LengthOrCode());
        EXPECT_EQ(i, reply[1]);
        EXPECT_LT(testsupport::ElapsedMs(start), static_cast<long>(kLongPortRead) / 2);
    }

    // Nobody takes the first frame for a while; the second arrives meanwhile
    // in a read of its own. Neither is lost, and they come in order.
    uint8_t silent = 0x4B;
    uint8_t reply[16] = {};
    EXPECT_EQ(kPacketTimeout, Lib().DIAGTxRx(&silent, 1, reply, sizeof reply, 30).LengthOrCode());
    Device().Send(DiagFrame({0x4B, 0x01}));
    ASSERT_TRUE(Eventually([&] { return Link().PendingFrames() == 1; }, 3000));
    Device().Send(DiagFrame({0x4B, 0x02}));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(1u, Link().PendingFrames());
    uint32_t count = 0;
    uint8_t drained[64] = {};
    EXPECT_EQ(2, Lib().ReadReturnPacket(drained, sizeof drained, &count, 1).LengthOrCode());
    EXPECT_EQ(Bytes({0x4B, 0x01}), Bytes(drained, drained + 2));
    ASSERT_TRUE(Eventually([&] { return Link().PendingFrames() == 1; }, 3000));
    EXPECT_EQ(2, Lib().ReadReturnPacket(drained, sizeof drained, &count, 1).LengthOrCode());
    EXPECT_EQ(Bytes({0x4B, 0x02}), Bytes(drained, drained + 2));
}

TEST_F(SerComTakerOnThePort, CloseEndsAListenerWaitingOnThePort) {
    Answer({0x0C, 0x14, 0x3A, 0x7E}, DiagFrame({0x0C, 0x04}));
    uint8_t status = 0x0C;
    uint8_t reply[16] = {};
    ASSERT_EQ(2, Lib().DIAGTxRx(&status, 1, reply, sizeof reply, 2000).LengthOrCode());
    const auto start = std::chrono::steady_clock::now();
    Lib().CloseCOMPort();
    EXPECT_LT(testsupport::ElapsedMs(start), static_cast<long>(kLongPortRead) / 2);
    EXPECT_FALSE(Channel().IsListenerRunning());
}

// Only exchanges that expect a quick answer count against polling.
class SerComExchangeCount : public SerComDiagWithTimes {
protected:
    static constexpr uint32_t kStreamWriteWait = 2000;
    void Adjust(Timeouts& times) override { times.streamWriteWait = kStreamWriteWait; }
    // The count seen while an unanswered exchange with `waitMs` is under way.
    uint32_t CountDuring(uint32_t waitMs) {
        uint32_t seen = 99;
        std::thread exchange([&] {
            uint8_t request = 0x4B;
            uint8_t reply[16] = {};
            EXPECT_EQ(kPacketTimeout, Lib().DIAGTxRx(&request, 1, reply, sizeof reply, waitMs).LengthOrCode());
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        seen = CHandOverWait::ExchangesUnderWay();
        exchange.join();
        return seen;
    }
};

TEST_F(SerComExchangeCount, AnExchangeCountsOnlyWhileItExpectsAQuickAnswer) {
    EXPECT_EQ(1u, CountDuring(kStreamWriteWait));
    EXPECT_EQ(0u, CountDuring(kStreamWriteWait + 1));
    EXPECT_EQ(0u, CHandOverWait::ExchangesUnderWay());
}

}  // namespace
}  // namespace fennix
