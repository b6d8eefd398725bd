// A session whose switch into download mode failed (the device dropped off the
// bus at the wrong moment) runs its next flows as a fresh session would: a
// backup, a restore and a download on the same session, for both platform
// groups.
#include <gtest/gtest.h>

#include <chrono>

#include "../nv/TestFiles.h"
#include "download_e2e_support.h"
#include "nv/BrtFile.h"
#include "session/NvSession.h"
#include "simulator/NvMemory.h"

namespace fennix::testsupport {
namespace {

using sim::DeviceMode;
using Bytes = std::vector<uint8_t>;

struct DroppedOnce {
    bool dropped = false;
};

// The device answers `trigger` and then drops off the bus, once: group 1 at
// its second quieting request (so the switch request cannot be written), group 0
// at the status poll that shows it offline (so the port cannot be reopened).
void DropOffTheBusOnce(sim::CVirtualDevice& device, uint8_t trigger) {
    device.SetRequestHook([trigger](sim::CDeviceContext& ctx, const sim::Packet& p) {
        if (p.empty() || p[0] != trigger) return false;
        if (trigger == 0x0C && !ctx.State().offlineRequested) return false;
        bool& dropped = ctx.State().Extension<DroppedOnce>().dropped;
        if (dropped) return false;
        dropped = true;
        if (trigger == 0x0C) {
            Bytes status(60, 0);
            status[0] = 0x0C;
            status[32] = static_cast<uint8_t>(ctx.State().options.offlineState);
            ctx.Reply(status);
        } else {
            ctx.Reply(p);
        }
        ctx.SwitchMode(DeviceMode::Diag, true);
        return true;
    });
}

struct GroupCase {
    const char* platform;
    uint8_t trigger;
};

class AfterFailedSwitch : public ::testing::TestWithParam<GroupCase> {};

TEST_P(AfterFailedSwitch, BackupRestoreAndDownloadWorkOnTheSameSession) {
    sim::DeviceOptions options = sim::DiagDevice(GetParam().platform);
    // Longer than the four reopen attempts of group 0 (about a second here).
    options.vanishMs = 2500;
    TestImageSet images;
    DownloadRig rig(options);
    ASSERT_TRUE(rig.Ok());
    const Bytes stored(128, 0x5A);
    rig.Device().WithState(
        [&](sim::DeviceState& s) { s.Extension<sim::CNvMemory>().items[550] = sim::SimNvItem::Plain(stored); });
    DropOffTheBusOnce(rig.Device(), GetParam().trigger);
    CQualCmd& session = rig.Session();
    images.Apply(session);

    EXPECT_EQ(kPacketDiagSwitchFailed, rig.Run());
    EXPECT_EQ("Change to DL Mode Failed!!", ThreadLines().back().text);
    ASSERT_TRUE(rig.Device().WaitForPresent(true, std::chrono::seconds(10)));
    // The download's own switch may re-enumerate the device: quickly now.
    rig.Device().WithState([](sim::DeviceState& s) { s.options.vanishMs = 100; });

    test::ScratchDir dir;
    test::WriteText(dir.File("items.csv"), "Name;Item\nplain;550\n");
    session.SetCsvBrtPaths(dir.File("items.csv").c_str(), dir.File("nv.brt").c_str());
    ThreadLines().clear();
    EXPECT_EQ(1, FlowResultCode(RunBackupBrt(session)));
    const Bytes brtBytes = test::ReadBytes(dir.File("nv.brt"));
    const BrtContents brt = DecodeBrt(brtBytes.data(), brtBytes.size());
    ASSERT_EQ(1u, brt.records.size()) << "the backup reached the device";
    EXPECT_EQ(stored, brt.records[0].Value());

    const Bytes restored(128, 0x33);
    test::WriteBytes(dir.File("nv.brt"), test::LeBuilder().I32(1).I32(551).Counted(restored).Bytes());
    ThreadLines().clear();
    EXPECT_EQ(1, FlowResultCode(RunRestoreBrt(session)));
    rig.Device().WithState(
        [&](sim::DeviceState& s) { EXPECT_EQ(restored, s.Extension<sim::CNvMemory>().DataOf(551)); });

    EXPECT_EQ(1, rig.Run());
    EXPECT_EQ("Download Process Success!!", ThreadLines().back().text);
    EXPECT_TRUE(sim::CompareWithSet(rig.Flash(), images.Set()).identical);
}

INSTANTIATE_TEST_SUITE_P(BothGroups, AfterFailedSwitch,
                         ::testing::Values(GroupCase{"Q6250", 0x0C}, GroupCase{"T7413", 0x60}),
                         [](const ::testing::TestParamInfo<GroupCase>& info) {
                             return info.index == 0 ? std::string("Group0") : std::string("Group1");
                         });

}  // namespace
}  // namespace fennix::testsupport
