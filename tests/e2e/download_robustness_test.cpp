// Downloads against a virtual device whose programmer file or answers are not
// the tidy ones: LF line ends and spoilt records in the HEX file, a stream
// write answered after its wait ran out.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <utility>

#include "download_e2e_support.h"

namespace fennix::testsupport {
namespace {

void WriteText(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

TEST(DownloadE2E, ProgrammerWithLineFeedsUploadsAndASpoiltOneWritesNothing) {
    TestImageSet images;
    const auto& set = images.Set();
    std::string text = sim::IntelHexText(set.programmerSegment, set.programmerData);
    const std::string lineFeeds = images.Set().directory + "/lf.hex";
    const std::string spoilt = images.Set().directory + "/spoilt.hex";
    std::string lf = text;
    lf.erase(std::remove(lf.begin(), lf.end(), '\r'), lf.end());
    WriteText(lineFeeds, lf);
    text.erase(text.size() / 2, 1);  // one digit gone in the middle record
    WriteText(spoilt, text);
    {
        DownloadRig rig(sim::DownloadDevice());
        ASSERT_TRUE(rig.Ok());
        images.Apply(rig.Session());
        rig.Session().SetSkipCheck();
        rig.Session().SetProgrammerPath(lineFeeds.c_str());
        EXPECT_EQ(1, rig.Run());
        EXPECT_TRUE(sim::CompareWithSet(rig.Flash(), set).identical);
    }
    {
        DownloadRig rig(sim::DownloadDevice());
        ASSERT_TRUE(rig.Ok());
        images.Apply(rig.Session());
        rig.Session().SetProgrammerPath(spoilt.c_str());
        EXPECT_EQ(-1, rig.Run());
        EXPECT_EQ("Download HEX File Failed!!", ThreadLines().back().text);
        EXPECT_EQ(0u, rig.Flash().writes);
        EXPECT_TRUE(rig.Flash().programmer.empty());
    }
}

// The first answer to one stream write comes after the wait ran out: the block
// goes out again, and the answer to the second send (due after the first) is
// passed over by the next exchange. Stream write 3 lies inside the QCSBL
// image, 5 is its last block, whose second answer meets the close. A device
// stalled for longer than two stream-write waits (1000 ms against 2 x 400)
// is waited for after the second send, up to the usual reply wait.
TEST(DownloadE2E, LateStreamWriteAnswerDoesNotFailTheImage) {
    for (auto [lateBlock, lateMs] : {std::pair{3, 600}, std::pair{5, 600}, std::pair{3, 1000}}) {
        SCOPED_TRACE("late block " + std::to_string(lateBlock) + " by " + std::to_string(lateMs) + " ms");
        TestImageSet images;
        Timeouts times = DownloadTestTimes();
        times.streamWriteWait = 400;
        times.replyWait = 2000;
        DownloadRig rig(sim::DownloadDevice(), times);
        ASSERT_TRUE(rig.Ok());
        images.Apply(rig.Session());
        rig.Session().SetSkipCheck();
        rig.SetKnob("dl.late-block", lateBlock);
        rig.SetKnob("dl.late-ms", lateMs);
        EXPECT_EQ(1, rig.Run());
        EXPECT_EQ("Download Process Success!!", ThreadLines().back().text);
        const sim::DownloadTarget flash = rig.Flash();
        EXPECT_TRUE(sim::CompareWithSet(flash, images.Set()).identical);
        uint32_t blocks = 0;
        for (const std::string* body :
             {&images.Set().qcsblhd, &images.Set().qcsbl, &images.Set().oemsbl, &images.Set().amss, &images.Set().cefs})
            blocks += static_cast<uint32_t>(sim::ReadWholeFile(*body).size() / 1024 + 1);
        EXPECT_GE(flash.blocksTotal, blocks + 1);  // the late block went out twice
    }
}

}  // namespace
}  // namespace fennix::testsupport
