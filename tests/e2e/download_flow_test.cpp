// StartDownload end to end: the session on the real serial link against a
// virtual device, from each starting mode, with the device's faults.
#include <gtest/gtest.h>

#include <unistd.h>

#include "download_e2e_support.h"
#include "fennix/fennix.h"

namespace fennix::testsupport {
namespace {

using sim::DeviceMode;

const std::vector<std::string> kFullRunWithCheck = {"Start To Download Process...",
                                                    "Open ComPort Success!!",
                                                    "Change to DL Mode Success!!",
                                                    "Test Communication Success!!",
                                                    "Request Parameter !!",
                                                    "Open HEX File Success!!",
                                                    "Download HEX File Success!!",
                                                    "Hello Success!!",
                                                    "Send Security Success!!",
                                                    "Download Partition.mbn File Success!!",
                                                    "Download QCSBLHD File Success!!",
                                                    "Download QCSBL File Success!!",
                                                    "Download OEMSBLHD and OEMSBL File Success!!",
                                                    "Download AMSSHD and AMSS File Success!!",
                                                    "Download CEFS File Success!!",
                                                    "Reset !! Please Wait....",
                                                    "",
                                                    "Download Process Success!!"};

void ExpectFlashedAsTheFiles(DownloadRig& rig, const TestImageSet& images) {
    const sim::DownloadTarget flash = rig.Flash();
    const sim::FlashCheck check = sim::CompareWithSet(flash, images.Set());
    EXPECT_TRUE(check.identical) << check.detail;
    EXPECT_EQ((std::vector<int>{2, 3, 4, 5, 9}), flash.imageOrder);
    EXPECT_EQ(1, flash.securityMode);  // the set has no primary boot loader
    EXPECT_EQ(1u, flash.resets);
}

class FromEveryMode : public ::testing::TestWithParam<sim::DeviceOptions> {};

TEST_P(FromEveryMode, FlashesTheWholeSetAndSeesTheDeviceComeBack) {
    TestImageSet images;
    DownloadRig rig(GetParam());
    ASSERT_TRUE(rig.Ok());
    images.Apply(rig.Session());

    EXPECT_EQ(1, rig.Run());
    EXPECT_EQ(kFullRunWithCheck, TextsWithoutPercent(ThreadLines()));
    ExpectFlashedAsTheFiles(rig, images);
    // The reset rebooted the device into DIAG mode, where the loopback found it.
    EXPECT_EQ(DeviceMode::Diag, rig.Device().Mode());
    EXPECT_GE(rig.Device().BootCount(), 1u);
    EXPECT_EQ(1u, rig.Device().Recording().CountRequests(DeviceMode::Diag, 0x7B));
}

INSTANTIATE_TEST_SUITE_P(Download, FromEveryMode,
                         ::testing::Values(sim::AtDevice(), sim::DiagDevice("Q6250"), sim::DiagDevice("T7413"),
                                           sim::DownloadDevice()),
                         [](const ::testing::TestParamInfo<sim::DeviceOptions>& info) {
                             switch (info.index) {
                                 case 0: return std::string("AtMode");
                                 case 1: return std::string("DiagGroup0");
                                 case 2: return std::string("DiagGroup1");
                                 default: return std::string("DownloadMode");
                             }
                         });

TEST(DownloadE2E, SkipFlagEndsWithoutTheLoopback) {
    TestImageSet images;
    DownloadRig rig(sim::DownloadDevice());
    ASSERT_TRUE(rig.Ok());
    images.Apply(rig.Session());
    rig.Session().SetSkipCheck();
    EXPECT_EQ(1, rig.Run());
    const auto texts = TextsWithoutPercent(ThreadLines());
    ASSERT_GE(texts.size(), 3u);
    EXPECT_EQ("Skip Checking POWER_ON Status...!!", texts[texts.size() - 2]);
    EXPECT_EQ("Download Process Success!!", texts.back());
    EXPECT_EQ(0u, rig.Device().Recording().CountRequests(DeviceMode::Diag, 0x7B));
    ExpectFlashedAsTheFiles(rig, images);
}

TEST(DownloadE2E, PartitionOnlyWritesTheTableAndResets) {
    TestImageSet images;
    DownloadRig rig(sim::DownloadDevice());
    ASSERT_TRUE(rig.Ok());
    rig.Session().SetProgrammerPath(images.Set().programmer.c_str());
    rig.Session().SetImagePaths(images.Set().partition.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                nullptr, nullptr, nullptr);
    EXPECT_EQ(1, rig.Run());
    const sim::DownloadTarget flash = rig.Flash();
    EXPECT_EQ(sim::ReadWholeFile(images.Set().partition), flash.partitionTable);
    EXPECT_TRUE(flash.images.empty());
    EXPECT_EQ(1, flash.securityMode);
    EXPECT_EQ(images.Set().programmerData, flash.programmer);
    EXPECT_EQ(images.Set().programmerSegment, flash.goSegment);
    EXPECT_EQ("Download Process Success!!", ThreadLines().back().text);
}

TEST(DownloadE2E, EmptyPartitionPathStopsAfterTheSecurityMode) {
    TestImageSet images;
    DownloadRig rig(sim::DownloadDevice());
    ASSERT_TRUE(rig.Ok());
    images.Apply(rig.Session());
    rig.Session().SetImagePaths("", nullptr, nullptr, images.Set().qcsblhd.c_str(), nullptr, nullptr, nullptr, nullptr,
                                nullptr, nullptr);
    EXPECT_EQ(1, rig.Run());
    EXPECT_EQ("Send Security Success!!", ThreadLines().back().text);
    const sim::DownloadTarget flash = rig.Flash();
    EXPECT_FALSE(flash.partitionAccepted);
    EXPECT_TRUE(flash.images.empty());
    EXPECT_EQ(1u, flash.resets);
}

TEST(DownloadE2E, AmssFailureStopsBeforeCefs) {
    TestImageSet images;
    DownloadRig rig(sim::DownloadDevice(), [] {
        Timeouts t = DownloadTestTimes();
        t.streamWriteWait = 200;  // the device stays silent: no need to wait long
        return t;
    }());
    ASSERT_TRUE(rig.Ok());
    images.Apply(rig.Session());
    rig.SetKnob("dl.silent-image", 5);
    rig.SetKnob("dl.silent-after-blocks", 10);

    EXPECT_EQ(static_cast<int32_t>(kPacketTimeout), rig.Run());
    const auto& lines = ThreadLines();
    EXPECT_EQ("Download AMSSHD and AMSS File Failed!!", lines.back().text);
    EXPECT_EQ(-1, lines.back().status);
    EXPECT_EQ("  25 % completed.", lines[lines.size() - 2].text);  // 10 of 40 blocks
    EXPECT_FALSE(HasLine(lines, "Reset !! Please Wait...."));
    const sim::DownloadTarget flash = rig.Flash();
    EXPECT_EQ((std::vector<int>{2, 3, 4}), flash.imageOrder);
    EXPECT_EQ(0u, flash.images.count(9));
    EXPECT_EQ(0u, flash.resets);  // the reset went to the closed port
}

TEST(DownloadE2E, RefusedOemsblHasNoFailureLineOfItsOwn) {
    TestImageSet images;
    DownloadRig rig(sim::DownloadDevice());
    ASSERT_TRUE(rig.Ok());
    images.Apply(rig.Session());
    rig.SetKnob("dl.refuse-open", 4);
    EXPECT_EQ(-1, rig.Run());
    EXPECT_EQ("Download QCSBL File Success!!", ThreadLines().back().text);
    EXPECT_EQ((std::vector<int>{2, 3}), rig.Flash().imageOrder);
}

TEST(DownloadE2E, FailedResetGivesMinusTwo) {
    TestImageSet images;
    DownloadRig rig(sim::DownloadDevice());
    ASSERT_TRUE(rig.Ok());
    images.Apply(rig.Session());
    rig.SetKnob("dl.reset-fails", 1);
    EXPECT_EQ(-2, rig.Run());
    const auto texts = TextsWithoutPercent(ThreadLines());
    EXPECT_EQ("Reset !! Please Wait....", texts[texts.size() - 2]);
    EXPECT_EQ("Reset Failed....", texts.back());
    EXPECT_EQ(DeviceMode::Download, rig.Device().Mode());
    // Everything was written before the reset.
    EXPECT_TRUE(sim::CompareWithSet(rig.Flash(), images.Set()).identical);
}

TEST(DownloadE2E, DeviceThatNeverComesBackFailsThePowerOnCheck) {
    TestImageSet images;
    DownloadRig rig(sim::DownloadDevice());
    ASSERT_TRUE(rig.Ok());
    images.Apply(rig.Session());
    rig.SetKnob("dl.stay-away", 1);
    EXPECT_EQ(-1, rig.Run());
    const auto& lines = ThreadLines();
    EXPECT_EQ("Download Process Failed!!", lines.back().text);
    EXPECT_EQ(-1, lines.back().status);
    EXPECT_EQ("Reset !! Please Wait....", lines[lines.size() - 2].text);
    EXPECT_FALSE(rig.Device().Present());
    EXPECT_TRUE(sim::CompareWithSet(rig.Flash(), images.Set()).identical);
}

TEST(DownloadE2E, WrongEchoIsResentOnceAndTwoInARowFailTheImage) {
    {
        TestImageSet images;
        DownloadRig rig(sim::DownloadDevice());
        ASSERT_TRUE(rig.Ok());
        images.Apply(rig.Session());
        rig.Session().SetSkipCheck();
        rig.SetKnob("dl.wrong-echo-block", 3);
        EXPECT_EQ(1, rig.Run());
        const sim::DownloadTarget flash = rig.Flash();
        EXPECT_EQ(1u, flash.wrongEchoesSent);
        EXPECT_TRUE(sim::CompareWithSet(flash, images.Set()).identical);
    }
    {
        TestImageSet images;
        DownloadRig rig(sim::DownloadDevice());
        ASSERT_TRUE(rig.Ok());
        images.Apply(rig.Session());
        // Stream write 3 of the download is the QCSBL's third block; it and
        // its second try get a wrong address back.
        rig.SetKnob("dl.wrong-echo-block", 3);
        rig.SetKnob("dl.wrong-echo-count", 2);
        EXPECT_EQ(-1, rig.Run());
        EXPECT_EQ("Download QCSBL File Failed!!", ThreadLines().back().text);
        EXPECT_EQ(2u, rig.Flash().wrongEchoesSent);
    }
}

TEST(DownloadE2E, LostNopsGiveRetryLinesAndTheDownloadGoesOn) {
    TestImageSet images;
    DownloadRig rig(sim::DownloadDevice(), [] {
        Timeouts t = DownloadTestTimes();
        t.replyWait = 300;  // each lost NOP costs one reply wait
        return t;
    }());
    ASSERT_TRUE(rig.Ok());
    images.Apply(rig.Session());
    rig.Session().SetSkipCheck();
    // The first NOP is the mode probe's; the six after it go unanswered.
    rig.Device().SetRequestHook([](sim::CDeviceContext& ctx, const sim::Packet& p) {
        if (p[0] != 0x06) return false;
        const int seen = ++ctx.State().Extension<int>();
        return seen >= 2 && seen <= 7;
    });
    EXPECT_EQ(1, rig.Run());
    int retries = 0;
    for (const auto& l : ThreadLines()) retries += l.text == "Test Communication, Try again..";
    EXPECT_EQ(6, retries);
    EXPECT_TRUE(HasLine(ThreadLines(), "Test Communication Success!!"));
    EXPECT_EQ(11u, rig.Device().Recording().CountRequests(DeviceMode::Download, 0x06));  // probe + ten
}

TEST(DownloadE2E, ExportsDriveAWholeDownload) {
    TestImageSet images;
    sim::CScopedDevice device(sim::DownloadDevice());
    ASSERT_TRUE(device.Ok());
    ::setenv("FENNIX_TIME_SCALE", "0.2", 1);
    ThreadLines().clear();
    const auto& set = images.Set();
    FennixHandle session = SetComPort(device.Path().c_str());
    ::unsetenv("FENNIX_TIME_SCALE");
    ASSERT_NE(nullptr, session);
    EXPECT_EQ(0, SetCallBack(session, RecordThreadLine));
    EXPECT_EQ(0, SetSkipCheck(session));
    EXPECT_EQ(1, SetHexFile(session, set.programmer.c_str()));
    EXPECT_EQ(0, SetMbnFile(session, set.partition.c_str(), nullptr, nullptr, set.qcsblhd.c_str(), set.qcsbl.c_str(),
                            set.oemsblhd.c_str(), set.oemsbl.c_str(), set.amsshd.c_str(), set.amss.c_str(),
                            set.cefs.c_str()));
    EXPECT_EQ(1, StartDownload(session));
    EXPECT_EQ(0, Close(session));
    EXPECT_EQ("Download Process Success!!", ThreadLines().back().text);
    EXPECT_TRUE(sim::CompareWithSet(sim::SnapshotDownloadTarget(device.Device()), set).identical);
}

TEST(DownloadE2E, PortThatIsNotThereFailsTheOpen) {
    const Timeouts times = DownloadTestTimes();
    CQualCmd session(std::make_unique<CSerCOMLibrary>(times), times);
    session.SetCallback(RecordThreadLine);
    session.SetPortName("/nonexistent/ttyMSM9");
    ThreadLines().clear();
    EXPECT_EQ(-1, FlowResultCode(session.StartDownload()));
    EXPECT_EQ("Open ComPort Failed!!", ThreadLines().back().text);
    EXPECT_EQ(-1, ThreadLines().back().status);
}

}  // namespace
}  // namespace fennix::testsupport
