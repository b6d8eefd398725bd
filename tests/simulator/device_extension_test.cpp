// The extension point: per-device handler changes, declining handlers, the
// request hook, extension state, knobs, and the default table.
#include <gtest/gtest.h>

#include "TestBytes.h"
#include "simulator/HostPort.h"
#include "simulator/SimulatorFixture.h"

namespace fennix::sim {
namespace {

using namespace std::chrono_literals;
using test::Bytes;
using test::Hex;

// An extension's own knob, registered like the device's.
const CKnobRegistration kProgrammerRunning({"programmer-running", KnobType::Flag, 0, 1, 0,
                                            "test: the programmer runs"});

struct CounterState {
    int seen = 0;
    uint32_t bootSeen = 0;
};

TEST(SimExtension, HandlersCanDeclineAndTheNextOneAnswers) {
    CScopedDevice dev(DownloadDevice());
    ASSERT_TRUE(dev.Ok());
    // Two handlers for one code, told apart by device state, the way the
    // programmer upload and the streaming protocol share command 0x07; code
    // 0x40 has no handler in the default table.
    dev->AddHandler(DeviceMode::Download, 0x40, [](CDeviceContext& ctx, const Packet&) {
        if (ctx.Knob("programmer-running")) return false;
        ctx.Reply({0x08, 0x01});
        return true;
    });
    dev->AddHandler(DeviceMode::Download, 0x40, [](CDeviceContext& ctx, const Packet& p) {
        ctx.Reply({0x08, p.size() > 1 ? p[1] : uint8_t(0)});
        return true;
    });
    CHostPort port;
    ASSERT_EQ(0, port.Open(dev.Path()));
    EXPECT_EQ(Hex("08 01"), port.Exchange(Hex("40"), true));
    dev->WithState([](DeviceState& s) { s.options.knobs["programmer-running"] = 1; });
    EXPECT_EQ(Hex("08 AA"), port.Exchange(Hex("40 AA"), true));
}

TEST(SimExtension, SetReplacesAndRemoveMakesTheDeviceRefuse) {
    CScopedDevice dev(DownloadDevice());
    ASSERT_TRUE(dev.Ok());
    CHostPort port;
    ASSERT_EQ(0, port.Open(dev.Path()));
    EXPECT_EQ(Hex("02"), port.Exchange(Hex("06"), true));
    dev->SetHandler(DeviceMode::Download, 0x06, [](CDeviceContext& ctx, const Packet&) {
        ctx.Reply({0x03, 0x00, 0x07});
        return true;
    });
    EXPECT_EQ(Hex("03 00 07"), port.Exchange(Hex("06"), true));
    dev->RemoveHandler(DeviceMode::Download, 0x06);
    EXPECT_EQ(Hex("03 00 06"), port.Exchange(Hex("06"), true));
    // Other devices keep the default table.
    CScopedDevice other(DownloadDevice());
    ASSERT_TRUE(other.Ok());
    CHostPort otherPort;
    ASSERT_EQ(0, otherPort.Open(other.Path()));
    EXPECT_EQ(Hex("02"), otherPort.Exchange(Hex("06"), true));
    EXPECT_EQ(1u, DefaultHandlers().HandlerCount(DeviceMode::Download, 0x06));
}

TEST(SimExtension, RequestHookRunsFirstAndKeepsExtensionState) {
    CScopedDevice dev(DiagDevice());
    ASSERT_TRUE(dev.Ok());
    // Swallow every second build-ID request; count them in extension state.
    dev->SetRequestHook([](CDeviceContext& ctx, const Packet& p) {
        if (p[0] != 0x7C) return false;
        auto& counter = ctx.State().Extension<CounterState>();
        return ++counter.seen % 2 == 0;
    });
    CHostPort port;
    ASSERT_EQ(0, port.Open(dev.Path()));
    EXPECT_EQ(0x7C, port.Exchange(Hex("7C"), false).at(0));
    EXPECT_TRUE(port.Exchange(Hex("7C"), false, 200ms).empty());
    EXPECT_EQ(0x7C, port.Exchange(Hex("7C"), false).at(0));
    EXPECT_EQ(0x00, port.Exchange(Hex("00"), false).at(0));
    int seen = 0;
    dev->WithState([&](DeviceState& s) { seen = s.Extension<CounterState>().seen; });
    EXPECT_EQ(3, seen);
}

TEST(SimExtension, HandlersCanRebootTheDeviceAfterTheirAnswer) {
    // A download-mode reset: acknowledged, then the device leaves the bus and
    // comes back in DIAG with a fresh session.
    CScopedDevice dev(DownloadDevice());
    ASSERT_TRUE(dev.Ok());
    dev->SetHandler(DeviceMode::Download, 0x0B, [](CDeviceContext& ctx, const Packet&) {
        ctx.Reply({0x0C});
        ctx.Note("resetting");
        ctx.Reboot(DeviceMode::Diag);
        return true;
    });
    CHostPort port;
    ASSERT_EQ(0, port.Open(dev.Path()));
    EXPECT_EQ(Hex("0C"), port.Exchange(Hex("0B"), true));
    ASSERT_TRUE(dev->WaitForState([](const DeviceState& s) { return s.present && s.bootCount == 1; }, 3000ms));
    EXPECT_EQ(DeviceMode::Diag, dev->Mode());
    CHostPort again;
    ASSERT_EQ(0, again.Open(dev.Path()));
    EXPECT_EQ(Hex("13 61 74 0D"), again.Exchange(Hex("61 74 0D"), false));

    auto events = dev->Recording().Events();
    std::vector<EventKind> kinds;
    for (const auto& e : events)
        if (e.kind != EventKind::Request && e.kind != EventKind::HostOpened && e.kind != EventKind::HostClosed)
            kinds.push_back(e.kind);
    std::vector<EventKind> expected{EventKind::Note,     EventKind::ModeChange, EventKind::Answer,
                                    EventKind::Vanished, EventKind::Returned,   EventKind::Answer};
    EXPECT_EQ(expected, kinds) << dev->Recording().Dump();
}

TEST(SimExtension, RecordingKeepsRequestsInOrderAndCanBeLimited) {
    DeviceOptions o = DiagDevice();
    o.recordBytesLimit = 4;
    CScopedDevice dev(o);
    ASSERT_TRUE(dev.Ok());
    CHostPort port;
    ASSERT_EQ(0, port.Open(dev.Path()));
    port.Exchange(Hex("7C"), false);
    port.Exchange(Hex("27 01 02 03 04 05 06"), false);
    port.Exchange(Hex("7C"), false);
    auto all = dev->Recording().Requests(DeviceMode::Diag);
    ASSERT_EQ(3u, all.size());
    EXPECT_EQ(Hex("27 01 02 03"), all[1]);
    EXPECT_EQ(2u, dev->Recording().Requests(DeviceMode::Diag, 0x7C).size());
    dev->Recording().Clear();
    EXPECT_EQ(0u, dev->Recording().CountRequests(DeviceMode::Diag));
}

}  // namespace
}  // namespace fennix::sim
